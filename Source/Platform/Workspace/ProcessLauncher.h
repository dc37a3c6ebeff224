// Starting other programs, behind an interface so tests can see every argument list without
// starting anything.
//
// A launch is always a program and a list of arguments handed to the system as they are: no
// shell ever reads them, so no value can turn into a command.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QString>
#include <QStringList>

namespace platform {

class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;

    // Starts program detached from this process; answers its process id. The program is a path
    // or a name looked up on PATH.
    virtual Result<qint64> startDetached(const QString& program, const QStringList& arguments,
                                         const QString& workingDirectory = QString()) = 0;

    // Whether a program name can be found on PATH (or an absolute path is executable).
    virtual bool canFind(const QString& program) const = 0;

    // The launcher that the program uses: fork and exec, the program adopted by init.
    static ProcessLauncher& system();
};

class SystemProcessLauncher final : public ProcessLauncher {
public:
    Result<qint64> startDetached(const QString& program, const QStringList& arguments,
                                 const QString& workingDirectory) override;
    bool canFind(const QString& program) const override;
};

} // namespace platform
