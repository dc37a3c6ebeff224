#include "Support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QThread>
#include <QUuid>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

namespace testsupport {

QString homeDir()
{
    return QString::fromLocal8Bit(qgetenv("HOME"));
}

QString makeTempDir(const QString& prefix)
{
    const QString path = homeDir() + QStringLiteral("/scratch/") + prefix + QLatin1Char('-')
        + QUuid::createUuid().toString(QUuid::WithoutBraces).left(8);
    QDir().mkpath(path);
    return path;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool spinUntil(const std::function<bool()>& cond, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!cond()) {
        if (deadline.hasExpired())
            return cond();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::yieldCurrentThread();
    }
    return true;
}

namespace {

// NUL-terminated copies of the texts and the pointer array that exec wants.
class CStrings {
public:
    explicit CStrings(const QStringList& texts)
    {
        for (const QString& t : texts)
            m_bytes.append(t.toLocal8Bit());
        for (QByteArray& b : m_bytes)
            m_pointers.push_back(b.data());
        m_pointers.push_back(nullptr);
    }
    char* const* pointers() { return m_pointers.data(); }

private:
    QList<QByteArray> m_bytes;
    std::vector<char*> m_pointers;
};

} // namespace

ChildProcess::ChildProcess(const QStringList& arguments, const QHash<QString, QString>& environment,
                           const QString& program, const QString& workingDirectory)
{
    const QString path = program.isEmpty() ? QCoreApplication::applicationFilePath() : program;
    const QString folder = makeTempDir(QStringLiteral("child"));
    m_outputPath = folder + QStringLiteral("/stdout");
    m_errorPath = folder + QStringLiteral("/stderr");

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (auto it = environment.begin(); it != environment.end(); ++it)
        env.insert(it.key(), it.value());
    CStrings argv(QStringList{path} + arguments);
    CStrings envp(env.toStringList());

    const QByteArray out = QFile::encodeName(m_outputPath);
    const QByteArray err = QFile::encodeName(m_errorPath);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const QByteArray directory = QFile::encodeName(workingDirectory);
    if (!workingDirectory.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, directory.constData());
    // The child starts as a fresh program would: nothing blocked, no signal ignored.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigfillset(&signals);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const QByteArray file = QFile::encodeName(path);
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, file.constData(), &actions, &attributes, argv.pointers(), envp.pointers());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error == 0)
        m_pid = pid;
    else
        ADD_FAILURE() << "cannot start " << path.toStdString() << ": " << std::strerror(error);
}

ChildProcess::~ChildProcess()
{
    if (!started() || m_finished)
        return;
    ::kill(m_pid, SIGKILL);
    reap(true);
}

bool ChildProcess::reap(bool block)
{
    if (m_finished)
        return true;
    int status = 0;
    pid_t done;
    do {
        done = ::waitpid(m_pid, &status, block ? 0 : WNOHANG);
    } while (done < 0 && errno == EINTR);
    if (done != m_pid)
        return false;
    m_status = status;
    m_finished = true;
    return true;
}

bool ChildProcess::waitForFinished(int timeoutMs)
{
    return started() && spinUntil([&] { return reap(false); }, timeoutMs);
}

bool ChildProcess::exitedNormally() const
{
    return m_finished && WIFEXITED(m_status);
}

int ChildProcess::exitCode() const
{
    return exitedNormally() ? WEXITSTATUS(m_status) : -1;
}

QByteArray ChildProcess::standardOutput() const
{
    return readFile(m_outputPath);
}

QByteArray ChildProcess::standardError() const
{
    return readFile(m_errorPath);
}

namespace {

const char* const kReadyVariable = "FOLIVO_TEST_CHILD_READY";

} // namespace

KilledChild runChildUntilReadyAndKill(const QString& testName, const QMap<QString, QString>& environment,
                                      int timeoutMs)
{
    const QString ready = makeTempDir(QStringLiteral("ready")) + QStringLiteral("/child");
    QHash<QString, QString> env;
    for (auto it = environment.cbegin(); it != environment.cend(); ++it)
        env.insert(it.key(), it.value());
    env.insert(QString::fromLatin1(kReadyVariable), ready);
    ChildProcess child({QStringLiteral("--gtest_also_run_disabled_tests"), QStringLiteral("--gtest_filter=") + testName}, env);
    KilledChild result;
    if (!child.started())
        return result;
    result.ready = spinUntil([&] { return !readFile(ready).isEmpty(); }, timeoutMs);
    ::kill(child.pid(), SIGKILL);
    child.waitForFinished();
    result.output = QString::fromLocal8Bit(child.standardOutput() + child.standardError());
    // A killed child cannot remove its home; it named it in its signal.
    const QString childHome = QString::fromUtf8(readFile(ready));
    if (childHome.contains(QStringLiteral("/folivo-test-")))
        QDir(childHome).removeRecursively();
    return result;
}

bool signalReady()
{
    const QString ready = qEnvironmentVariable(kReadyVariable);
    if (ready.isEmpty())
        return false;
    // Renamed into place, so the parent never reads half a name.
    writeFile(ready + QStringLiteral(".tmp"), QFile::encodeName(homeDir()));
    return QFile::rename(ready + QStringLiteral(".tmp"), ready);
}

} // namespace testsupport
