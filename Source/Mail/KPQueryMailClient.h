// Finds where a mail program is installed, so the preferences and the share menu can offer it
// and the sender can use it.
//
// One object answers one bundle identifier and then frees itself, as the launch sequence starts
// three of them and forgets them. The search (the desktop's mail programs, see
// platform::MailComposer) runs on a background queue; the answer comes back on the main thread,
// where it goes into the program-wide table of installed mail programs. Only identifiers with
// at least one found path get an entry, so a search that finds nothing, or has not finished
// yet, leaves the sender on the default mail program.
//
// Threads: create and start on the main thread; the table is read and written only there.
#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

class KPQueryMailClient : public QObject {
    Q_OBJECT

public:
    KPQueryMailClient();
    ~KPQueryMailClient() override;

    // Searches for the program with this bundle identifier; the object deletes itself once the
    // search has finished gathering.
    void startQuery(const QString& bundleIdentifier);

    // The desktop ID of the user's default handler of "mailto" addresses. The first answer is
    // kept for the rest of the run; while there is none, each call looks again.
    static QString defaultMailClient();

    // Bundle identifier → paths (desktop entries) at which the program was found.
    static QHash<QString, QStringList>& installedMailClients();

    const QStringList& clientList() const { return m_clientList; }
    const QString& bundelIdentifier() const { return m_bundelIdentifier; }

Q_SIGNALS:
    // Emitted on the main thread when gathering has finished, just before the object goes.
    void queryFinished(const QString& bundleIdentifier, const QStringList& paths);

private:
    enum class QueryNote { DidStartGathering, DidFinishGathering };

    void metadataQueryResult(const QString& path);
    void queryNote(QueryNote note);

    QStringList m_clientList;
    QString m_bundelIdentifier;
    bool m_started = false;
};
