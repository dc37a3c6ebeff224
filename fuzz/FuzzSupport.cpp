#include "FuzzSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>

namespace fuzz {

namespace {

void quietHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "qFatal: %s\n", qUtf8Printable(message));
        std::abort();
    }
}

} // namespace

QByteArray bytes(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

QString utf8(const uint8_t* data, size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
}

QString printable(const QString& text)
{
    QString out;
    for (const QChar c : text)
        out += c.unicode() < 0x20 || c.unicode() == 0x7f ? QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0')) : QString(c);
    return out;
}

void abortRun(const char* what, const QString& detail)
{
    std::fprintf(stderr, "fuzz: %s: %s\n", what, qUtf8Printable(detail));
    std::abort();
}

void fail(const char* what, const QString& detail)
{
    static const bool crashesOnly = !qEnvironmentVariableIsEmpty("FOLIVO_FUZZ_CRASHES_ONLY");
    if (crashesOnly) {
        static std::mutex mutex;
        static std::set<std::string> seen;
        std::lock_guard lock(mutex);
        if (!seen.insert(what).second)
            return;
    }
    std::fprintf(stderr, "fuzz: %s%s%s\n", what, detail.isEmpty() ? "" : ": ",
                 qUtf8Printable(detail.left(2000)));
    std::fflush(stderr);
    if (!crashesOnly)
        std::abort();
}

void setUp()
{
    static const bool done = [] {
        // The logger's console capture takes over standard error: a decoder that logs would
        // then swallow fail()'s report and the sanitizers' own, and a capture thread torn down
        // at exit would be reported as the input's crash.
        qputenv("FOLIVO_LOG_NO_CAPTURE", "1");
        if (qEnvironmentVariableIsEmpty("FOLIVO_FUZZ_VERBOSE"))
            qInstallMessageHandler(quietHandler);
        return true;
    }();
    (void)done;
}

ScratchFolder::ScratchFolder() : m_dir(QDir::tempPath() + QStringLiteral("/folivo-fuzz-XXXXXX"))
{
    if (!m_dir.isValid())
        abortRun("cannot make a scratch folder", m_dir.errorString());
}

QString ScratchFolder::write(const QString& name, const QByteArray& bytes) const
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        abortRun("cannot write the input to the scratch folder", path);
    return path;
}

qint64 bytesBelow(const QString& folder)
{
    qint64 total = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        if (!info.isSymLink())
            total += info.size();
    }
    return total;
}

} // namespace fuzz
