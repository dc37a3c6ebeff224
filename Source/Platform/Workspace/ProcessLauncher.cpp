#include "Platform/Workspace/ProcessLauncher.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace platform {

ProcessLauncher& ProcessLauncher::system()
{
    static SystemProcessLauncher launcher;
    return launcher;
}

Result<qint64> SystemProcessLauncher::startDetached(const QString& program, const QStringList& arguments,
                                                    const QString& workingDirectory)
{
    if (program.isEmpty())
        return fail(QStringLiteral("Workspace"), 10, QStringLiteral("No program to start"));
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    qint64 pid = 0;
    if (!process.startDetached(&pid))
        return fail(QStringLiteral("Workspace"), 11,
                    QStringLiteral("Cannot start %1: %2").arg(program, process.errorString()));
    return pid;
}

bool SystemProcessLauncher::canFind(const QString& program) const
{
    if (program.contains(QLatin1Char('/'))) {
        const QFileInfo info(program);
        return info.isFile() && info.isExecutable();
    }
    return !QStandardPaths::findExecutable(program).isEmpty();
}

} // namespace platform
