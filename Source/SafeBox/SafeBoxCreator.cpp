#include "SafeBox/SafeBoxCreator.h"

#include "Platform/Foundation/HelperProcess.h"
#include "Platform/Foundation/StringHash.h"
#include "SafeBox/SafeBoxContentGenerate.h"
#include "SafeBox/SafeBoxKeyConstants.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <mutex>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

const QString kAbnormalExit = QStringLiteral("the disk-image tool exited abnormally");

QString decode(const std::optional<QByteArray>& bytes)
{
    return bytes ? QString::fromUtf8(*bytes) : QString();
}

QByteArray passPhraseOf(const QVariant& derived)
{
    return SafeBoxCreator::pathWithString(derived.toString()).toUtf8();
}

// A marker-word success also needs a tool that ended well; otherwise its text (or a text of our
// own when it printed nothing) becomes the error.
SafeBoxOutcome requireCleanExit(SafeBoxOutcome outcome, const SafeBoxCreator::ToolRun& run, const QString& text)
{
    if (outcome.success && !(run.exitedNormally && run.exitStatus == 0)) {
        outcome = SafeBoxOutcome{};
        outcome.error = text.trimmed().isEmpty() ? kAbnormalExit : text;
    }
    return outcome;
}

SafeBoxOutcome success()
{
    SafeBoxOutcome outcome;
    outcome.success = true;
    return outcome;
}

SafeBoxOutcome failure(std::optional<QString> error = std::nullopt)
{
    SafeBoxOutcome outcome;
    outcome.error = std::move(error);
    return outcome;
}

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

SafeBoxCreator::SafeBoxCreator(const QString& safeBoxPath, const QVariantMap& parameter)
    : safeBoxPath(safeBoxPath), parameter(parameter)
{
}

QString SafeBoxCreator::pathWithString(const QString& derived)
{
    QString text = derived;
    for (const auto& [from, to] : safebox::kPassPhraseReplacements)
        text.replace(from, to, Qt::CaseInsensitive);
    return platform::md5Hex(text.toUtf8());
}

QString SafeBoxCreator::mountPointFor(const QString& toPath, const QString& storeFile)
{
    return QStringLiteral("%1/.%2").arg(toPath).arg(platform::stringHash(QFileInfo(storeFile).absolutePath()));
}

namespace {

std::mutex& toolPathMutex()
{
    static std::mutex mutex;
    return mutex;
}

QString& chosenToolPath()
{
    static QString path; // guarded by toolPathMutex(); the drivers run on worker threads
    return path;
}

} // namespace

QString SafeBoxCreator::toolPath()
{
    {
        std::lock_guard lock(toolPathMutex());
        if (!chosenToolPath().isEmpty())
            return chosenToolPath();
    }
    return QCoreApplication::applicationDirPath() + QStringLiteral("/folivo-hdiutil");
}

void SafeBoxCreator::setToolPathForTesting(const QString& path)
{
    std::lock_guard lock(toolPathMutex());
    chosenToolPath() = path;
}

SafeBoxCreator::ToolRun SafeBoxCreator::run(const QStringList& arguments, const std::optional<QByteArray>& input,
                                            bool readOutput, bool readError)
{
    ToolRun result;
    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    const auto closeAll = [&] {
        for (int* pair : {in, out, err}) {
            closeFd(pair[0]);
            closeFd(pair[1]);
        }
    };
    // Close-on-exec everywhere: a tool started meanwhile by another thread must not hold our pipes.
    if ((input && ::pipe2(in, O_CLOEXEC) != 0) || (readOutput && ::pipe2(out, O_CLOEXEC) != 0)
        || (readError && ::pipe2(err, O_CLOEXEC) != 0)) {
        closeAll();
        return result;
    }
    if (input) {
        // Pass phrases are short; the whole input fits the pipe, so it is written before launch.
        qsizetype done = 0;
        while (done < input->size()) {
            const ssize_t n = ::write(in[1], input->constData() + done, size_t(input->size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += n;
        }
        closeFd(in[1]);
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input)
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (readOutput)
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (readError)
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    else
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // The tool and the sealer it leaves behind must be able to take their own signals.
    platform::setFreshSignalState(&attr, POSIX_SPAWN_SETSID);

    const QByteArray program = QFile::encodeName(toolPath());
    QList<QByteArray> storage{program};
    for (const QString& argument : arguments)
        storage.append(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, program.constData(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    closeFd(in[0]);
    closeFd(out[1]);
    closeFd(err[1]);
    if (rc != 0) {
        closeAll();
        result.launchError = QString::fromLocal8Bit(strerror(rc));
        KPLogLogMessage(QStringLiteral("SafeBox: the disk-image tool %1 could not be started: %2")
                            .arg(QString::fromLocal8Bit(program), QString::fromLocal8Bit(strerror(rc))));
        return result;
    }
    result.launched = true;
    if (readOutput)
        result.output = QByteArray();
    if (readError)
        result.errorOutput = QByteArray();

    // Both streams are drained while the tool runs, so large output cannot stall it.
    char buffer[16384];
    while (out[0] >= 0 || err[0] >= 0) {
        struct pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            int& fd = i == 0 ? out[0] : err[0];
            if (fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = ::read(fd, buffer, sizeof(buffer));
            if (n > 0)
                (i == 0 ? *result.output : *result.errorOutput).append(buffer, n);
            else if (n == 0 || errno != EINTR)
                closeFd(fd);
        }
    }
    closeAll();
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitedNormally = WIFEXITED(status);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

SafeBoxOutcome SafeBoxCreator::creator()
{
    QString encryption = parameter.value(QStringLiteral("EncryptionType")).toString();
    if (encryption.isEmpty())
        encryption = QStringLiteral("AES-128");
    const ToolRun tool = run({QStringLiteral("create"), QStringLiteral("-encryption"), encryption,
                              QStringLiteral("-volname"), parameter.value(QStringLiteral("Name")).toString(),
                              QStringLiteral("-size"), QString::number(parameter.value(QStringLiteral("Size")).toLongLong()),
                              QStringLiteral("-type"), QStringLiteral("UDIF"), QStringLiteral("-fs"), QStringLiteral("HFS+"),
                              QStringLiteral("-stdinpass"), safeBoxPath},
                             passPhraseOf(parameter.value(QStringLiteral("Password"))), true, false);
    if (!tool.output)
        return failure();
    const QString text = decode(tool.output);
    if (text.isEmpty())
        return failure(text);
    if (text.contains(QStringLiteral("created: ") + safeBoxPath)) {
        if (!(tool.exitedNormally && tool.exitStatus == 0))
            return requireCleanExit(success(), tool, text);
        const QByteArray image = QFile::encodeName(safeBoxPath + QStringLiteral(".dmg"));
        const QByteArray store = QFile::encodeName(safeBoxPath);
        // Never over an existing store: that would lose a box.
        if (::renameat2(AT_FDCWD, image.constData(), AT_FDCWD, store.constData(), RENAME_NOREPLACE) != 0)
            return failure();
        return success();
    }
    if (text.contains(QStringLiteral("create failed")))
        return failure(text);
    return failure();
}

SafeBoxOutcome SafeBoxCreator::attach()
{
    const QString mountPoint = mountPointFor(parameter.value(QStringLiteral("ToPath")).toString(), safeBoxPath);
    const ToolRun tool = run({QStringLiteral("attach"), QStringLiteral("-mountpoint"), mountPoint,
                              QStringLiteral("-stdinpass"), QStringLiteral("-nobrowse"), safeBoxPath},
                             passPhraseOf(parameter.value(QStringLiteral("Password"))), true, true);
    const std::optional<QByteArray>& chosen = tool.errorOutput && !tool.errorOutput->isEmpty() ? tool.errorOutput
                                                                                                 : tool.output;
    const QString text = decode(chosen);
    if (!chosen || chosen->isEmpty() || text.isEmpty())
        return failure(QStringLiteral("unknown error"));
    if (text.contains(mountPoint)) {
        for (const QString& line : text.split(QLatin1Char('\n'))) {
            if (!line.contains(QStringLiteral("GUID_partition_scheme")))
                continue;
            QString device = line;
            device.remove(QStringLiteral("GUID_partition_scheme"), Qt::CaseInsensitive);
            device = device.trimmed();
            if (device.contains(QStringLiteral("/dev"))) {
                SafeBoxOutcome outcome{true, std::nullopt, mountPoint, device};
                return requireCleanExit(outcome, tool, text);
            }
        }
        return failure();
    }
    if (text.contains(QStringLiteral("attach failed")))
        return failure(text);
    return failure();
}

SafeBoxOutcome SafeBoxCreator::detach(const QString& disk)
{
    const ToolRun tool = run({QStringLiteral("detach"), QStringLiteral("-force"), disk}, std::nullopt, true, false);
    if (!tool.output)
        return failure();
    const QString text = decode(tool.output);
    if (text.isEmpty())
        return failure(text);
    if (text.contains(QStringLiteral("ejected")) && text.contains(QStringLiteral("unmounted")))
        return requireCleanExit(success(), tool, text);
    if (text.contains(QStringLiteral("detach failed")))
        return failure(text);
    return failure();
}

SafeBoxOutcome SafeBoxCreator::change()
{
    const QByteArray input = passPhraseOf(parameter.value(QStringLiteral("Password"))) + QByteArray(1, '\0')
                             + passPhraseOf(parameter.value(QStringLiteral("NewPassword"))) + QByteArray(1, '\0');
    const ToolRun tool = run({QStringLiteral("chpass"), safeBoxPath}, input, false, true);
    const QString text = decode(tool.errorOutput);
    if (text.isEmpty())
        return requireCleanExit(success(), tool, text);
    return failure(text);
}

SafeBoxOutcome SafeBoxCreator::resize()
{
    const QString derived = SafeBoxContentGenerate::derivedFromKey(parameter.value(QStringLiteral("P")).toString());
    const ToolRun tool = run({QStringLiteral("resize"), QStringLiteral("-size"),
                              QString::number(parameter.value(QStringLiteral("Size")).toULongLong()),
                              QStringLiteral("-stdinpass"), safeBoxPath},
                             pathWithString(derived).toUtf8(), false, true);
    const QString text = decode(tool.errorOutput);
    if (text.isEmpty())
        return requireCleanExit(success(), tool, text);
    return failure(text);
}

SafeBoxOutcome SafeBoxCreator::resume(const QString& disk)
{
    const ToolRun tool = run({QStringLiteral("resume"), disk}, std::nullopt, true, false);
    if (!tool.launched)
        return failure(QStringLiteral("the disk-image tool could not be started: %1").arg(tool.launchError));
    const QString text = decode(tool.output);
    if (text.contains(QStringLiteral("resumed")))
        return requireCleanExit(success(), tool, text);
    return failure(text.trimmed().isEmpty() ? kAbnormalExit : text);
}

void SafeBoxCreator::logoutCheck()
{
    const ToolRun tool = run({QStringLiteral("info")}, std::nullopt, true, false);
    const QString text = decode(tool.output);
    const qsizetype at = text.isEmpty() ? -1 : text.indexOf(safeBoxPath);
    if (at < 0)
        return;
    const QStringList lines = text.mid(at).split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (!lines.at(i).startsWith(QStringLiteral("process ID")))
            continue;
        if (i + 1 < lines.size()) {
            const QString next = lines.at(i + 1);
            qsizetype space = -1;
            for (qsizetype k = 0; k < next.size(); ++k)
                if (next.at(k).isSpace()) {
                    space = k;
                    break;
                }
            if (space > 0) {
                const SafeBoxOutcome detached = detach(next.left(space));
                if (!detached.success)
                    KPLogLogMessage(QStringLiteral("auto logout error: %1").arg(detached.error.value_or(QString())));
            }
        }
        break;
    }
}
