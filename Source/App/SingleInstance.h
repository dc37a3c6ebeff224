// One running copy per user: a second launch hands its file arguments ("open files") or a plain
// reopen to the running copy over a local socket, and then exits. A socket left behind by a copy
// that crashed is recognised (nobody answers) and taken over.
#pragma once

#include <QObject>
#include <QStringList>
#include <functional>

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

    std::function<void(const QStringList& paths)> onOpenFiles;
    std::function<void()> onReopen;

private:
    bool handOver(const QStringList& paths);
    void readRequest(class QLocalSocket* socket);

    QString m_serverName;
    QLocalServer* m_server = nullptr;
};
