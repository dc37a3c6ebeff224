// The disk-image driver: every SafeBox operation is one run of the disk-image tool
// (folivo-hdiutil), whose success is read from marker words in its output.
//
// The tool is started with posix_spawn in a session of its own, never QProcess: a detach begun
// at quit must outlive the program, and QProcess kills its child when it goes. Both output
// streams are read while the tool runs (a tool that writes more than a pipe holds would otherwise
// never end), and besides the marker words the tool must have exited normally with status 0: a
// tool that dies never counts as success.
//
// Runs on the command client's worker thread only; each call blocks until the tool has ended.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <optional>

// What an operation answers. An error can be missing (the tool's text held no marker) or empty
// (the tool printed nothing); both are failures that still reach the caller.
struct SafeBoxOutcome {
    bool success = false;
    std::optional<QString> error;
    QString path; // attach: the mount point
    QString disk; // attach: the device name
};

class SafeBoxCreator {
public:
    SafeBoxCreator(const QString& safeBoxPath, const QVariantMap& parameter);
    virtual ~SafeBoxCreator() = default;

    virtual SafeBoxOutcome creator();
    virtual SafeBoxOutcome attach();
    virtual SafeBoxOutcome detach(const QString& disk);
    virtual SafeBoxOutcome change();
    virtual SafeBoxOutcome resize();
    virtual void logoutCheck();
    // Starts a sealer again for the open box disk whose sealer died ("resumed" in the tool's
    // output); the box stays open either way.
    virtual SafeBoxOutcome resume(const QString& disk);

    // The pass phrase written to the tool for a derived value.
    static QString pathWithString(const QString& derived);
    // "<toPath>/.<hash of the store's folder>", as start-up forms it too.
    static QString mountPointFor(const QString& toPath, const QString& storeFile);
    // The tool beside the program, or the one a test chose. Never the environment's choice: the
    // program users run must not run another build of the tool (its test build weakens the key
    // derivation on request).
    static QString toolPath();
    // Tests and benchmarks: the tool to run from now on; empty goes back to the one beside the
    // program.
    static void setToolPathForTesting(const QString& path);

    struct ToolRun {
        bool launched = false;
        QString launchError; // why it was not launched
        bool exitedNormally = false;
        int exitStatus = -1;
        std::optional<QByteArray> output; // missing when the stream was not connected
        std::optional<QByteArray> errorOutput;
    };

protected:
    // One run of the tool with these arguments and standard input.
    virtual ToolRun run(const QStringList& arguments, const std::optional<QByteArray>& input, bool readOutput,
                        bool readError);

    QString safeBoxPath;
    QVariantMap parameter;
};
