#include "Utilities/WrittenPdf.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

namespace {

QString systemError()
{
    return errno ? QString::fromLocal8Bit(std::strerror(errno)) : QStringLiteral("a write failed");
}

} // namespace

QString WrittenPdf::finish(std::FILE* stream, const QString& path, long long pageCount)
{
    if (!stream)
        return QStringLiteral("the file was not open");
    QString failure;
    // The writer may have flushed itself and let the failure pass, which leaves only the
    // stream's error flag.
    errno = 0;
    if (std::fflush(stream) != 0 || std::ferror(stream) || ::fsync(::fileno(stream)) != 0)
        failure = systemError();
    errno = 0;
    if (std::fclose(stream) != 0 && failure.isEmpty())
        failure = systemError();
    if (failure.isEmpty() && WrittenPdf::pageCount(path) != pageCount)
        failure = QStringLiteral("the written file does not hold the %1 pages").arg(pageCount);
    return failure;
}

long long WrittenPdf::pageCount(const QString& path)
{
    try {
        QPDF pdf;
        pdf.setSuppressWarnings(true);
        pdf.processFile(QFile::encodeName(path).constData());
        return static_cast<long long>(QPDFPageDocumentHelper(pdf).getAllPages().size());
    } catch (...) {
        return -1;
    }
}
