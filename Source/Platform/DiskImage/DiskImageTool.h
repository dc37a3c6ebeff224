// folivo-hdiutil: the encrypted disk-image tool the SafeBox driver runs, taking the argument
// lists and standard input of the platform tool it replaces and printing the marker words the
// driver looks for.
//
// The box is a sealed archive, not a file system: attach decrypts it into a folder of the
// private runtime folder and starts a sealer, a process of this tool in its own session that
// writes every change back into the container (as a disk image writes through) and outlives
// the program; detach makes the last seal and only then removes the plaintext.
//
// Crash safety rests on two rules: the container is only ever replaced by renaming a complete,
// synced file over it (under the store lock), and the plaintext is only removed once the seal
// that holds it is on disk. Whatever is killed when, the old or the new container is intact and
// the open copy is still there.
//
// Test switches live only in the test build of the tool, folivo-hdiutil-test, whose main reads
// them from its environment (the command lines are fixed, so options cannot go there):
// FOLIVO_SBX_TEST_SCRYPT_LOGN makes create cheap; FOLIVO_SBX_TEST_QUIET_MS and
// FOLIVO_SBX_TEST_PERIOD_MS shorten the sealer's timings; FOLIVO_SBX_CRASH_AT names a step at
// which the tool kills itself ("seal-written", "seal-renamed", "detach-removing", "slot-written"). The tool users
// run never sets them: the program hands its own environment to the tool, and nothing in it may
// weaken a box's key derivation or kill a seal half-way.
#pragma once

#include <QByteArray>
#include <QStringList>
#include <cstdio>

namespace platform::sbx {

struct ToolStreams {
    QByteArray input;
    FILE* out = stdout;
    FILE* err = stderr;
};

// The switches of the test build; every field at its zero value means "as shipped".
struct ToolTestHooks {
    int scryptLogN = 0;
    qint64 quietMs = 0;
    qint64 periodMs = 0;
    QByteArray crashAt;
};
void setToolTestHooks(const ToolTestHooks& hooks);
const ToolTestHooks& toolTestHooks();

// Runs one command line (without the program name); answers the exit status.
int runTool(const QStringList& arguments, ToolStreams& streams);

// The sealer's own entry point (the tool started again as "__sealer <device>").
int runSealer(const QString& device, bool adopted);

} // namespace platform::sbx
