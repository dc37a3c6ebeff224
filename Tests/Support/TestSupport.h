// Helpers shared by every test executable: the isolated home folder made by the test main,
// scratch folders, and waiting on asynchronous results by spinning the event loop.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <functional>
#include <memory>

class QApplication;

namespace testsupport {

// A test program whose tests need the program's own application class defines this; the test
// main then runs every test of that program under the object it makes, else a QApplication.
std::unique_ptr<QApplication> makeApplication(int& argc, char** argv) __attribute__((weak));

// The fresh temporary folder that HOME and the XDG folders point into for this process.
QString homeDir();

// A new empty folder below the temporary home, removed with it when the process ends.
QString makeTempDir(const QString& prefix = QStringLiteral("t"));

// Writes bytes to a file, creating parent folders; fails the current test on error.
void writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);

// Runs the Qt event loop until cond() holds or timeoutMs passes; answers whether it held.
// The cap is generous on purpose: it guards against hangs, it is not a speed assertion.
bool spinUntil(const std::function<bool()>& cond, int timeoutMs = 30000);

// Kill tests: this test program started again to run one disabled test (the child) with extra
// environment variables, killed with SIGKILL once the child calls signalReady(), at most
// timeoutMs later. The home the killed child leaves behind is removed. Answers whether the
// child got there, and what it printed.
struct KilledChild {
    bool ready = false;
    QString output;
};
KilledChild runChildUntilReadyAndKill(const QString& testName, const QMap<QString, QString>& environment,
                                      int timeoutMs);
// In the child: the point to be killed at is reached. Answers false outside a kill test.
bool signalReady();

} // namespace testsupport
