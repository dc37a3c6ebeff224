// One running copy per user: a second launch hands its file arguments ("open files") or a plain
// reopen to the running copy over a local socket, and then exits.
//
// The running copy holds a lock on "<socket>.lock" for as long as it listens; the kernel lets
// it go when the copy dies. So a socket is taken over only when nobody holds that lock (a copy
// that crashed), never from a live copy that is merely slow to answer (busy, stopped): such a
// copy gets the request as a file in "<socket>.queue", which it reads when it gets to it. Each
// request carries an identifier, so one that arrives both ways is carried out once.
#pragma once

#include "Platform/Foundation/FileLock.h"

#include <QObject>
#include <QSet>
#include <QStringList>
#include <functional>
#include <optional>

class QFileSystemWatcher;
class QLocalServer;

class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QString serverName = defaultServerName(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // "<per-user temporary folder>/<bundle id>.sock"
    static QString defaultServerName();

    // true: this is the first copy and now listens. false: a running copy took the request
    // (paths to open, or a reopen when paths is empty) and this copy should exit.
    bool claim(const QStringList& paths);
    // Stops listening so that a copy started now (a relaunch) becomes the running one instead of
    // handing itself over to this copy, which is on its way out. Requests already read are kept;
    // connections still open are dropped unanswered, so their senders start as first copies.
    void release();
    bool isListening() const;

    // The file arguments of a command line (its first item is the program), made absolute
    // against workingFolder: the running copy that may take them resolves nothing in its own.
    static QStringList fileArguments(const QStringList& arguments, const QString& workingFolder);

    std::function<void(const QStringList& paths)> onOpenFiles;
    std::function<void()> onReopen;

private:
    bool handOver(const QStringList& paths, const QString& id);
    bool enqueue(const QStringList& paths, const QString& id) const;
    void readRequest(class QLocalSocket* socket);
    void readQueue();
    void carryOut(const QByteArray& payload);
    QString sidePath(const QString& suffix) const;

    QString m_serverName;
    QLocalServer* m_server = nullptr;
    std::optional<platform::FileLock> m_lock;
    QFileSystemWatcher* m_queueWatcher = nullptr;
    // The identifiers of the requests carried out: a late copy of one is dropped.
    QSet<QString> m_done;
};
