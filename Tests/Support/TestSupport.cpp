#include "Support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <QUuid>
#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

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

const char* const kReadyVariable = "FOLIVO_TEST_CHILD_READY";

} // namespace

KilledChild runChildUntilReadyAndKill(const QString& testName, const QMap<QString, QString>& environment,
                                      int timeoutMs)
{
    const QString ready = makeTempDir(QStringLiteral("ready")) + QStringLiteral("/child");
    QProcess child;
    auto env = QProcessEnvironment::systemEnvironment();
    for (auto it = environment.cbegin(); it != environment.cend(); ++it)
        env.insert(it.key(), it.value());
    env.insert(QString::fromLatin1(kReadyVariable), ready);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_also_run_disabled_tests"), QStringLiteral("--gtest_filter=") + testName});
    KilledChild result;
    if (!child.waitForStarted())
        return result;
    result.ready = spinUntil([&] { return !readFile(ready).isEmpty(); }, timeoutMs);
    ::kill(pid_t(child.processId()), SIGKILL);
    child.waitForFinished();
    result.output = QString::fromLocal8Bit(child.readAll());
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
