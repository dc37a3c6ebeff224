// What the fuzz targets share: turning the fuzzer's bytes into Qt values, a scratch folder per
// input for the decoders that read files, and one way to report a broken promise.
//
// A target ends the process through fail() when a decoder breaks a promise its header makes
// (a value that does not survive a round trip, an archive that writes outside its folder):
// libFuzzer then keeps the input as a crash, and the replay prints which input it was. With
// FOLIVO_FUZZ_CRASHES_ONLY set, fail() only reports (each kind once) and returns, so that a
// known broken promise does not stop a search for memory errors; callers return after it.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fuzz {

// A deep copy: decoders may keep what they are given past the call.
QByteArray bytes(const uint8_t* data, size_t size);
QString utf8(const uint8_t* data, size_t size);
// Text for a failure message: control characters shown as \uXXXX.
QString printable(const QString& text);

void fail(const char* what, const QString& detail = {});
// For the target's own machinery breaking (no scratch folder, no database): always ends the run.
[[noreturn]] void abortRun(const char* what, const QString& detail = {});

// Once per process, before the code under test runs: the logger keeps standard error (no
// console capture), and Qt's warnings are muted (hostile input makes readers warn on every run,
// which only slows fuzzing) unless FOLIVO_FUZZ_VERBOSE is set.
void setUp();

// A fresh folder for one input, removed with everything in it when the object goes.
class ScratchFolder {
public:
    ScratchFolder();
    QString path() const { return m_dir.path(); }
    // Writes bytes to name inside the folder; answers the file's path.
    QString write(const QString& name, const QByteArray& bytes) const;

private:
    QTemporaryDir m_dir;
};

// Bytes of every regular file below folder (links not followed).
qint64 bytesBelow(const QString& folder);

} // namespace fuzz
