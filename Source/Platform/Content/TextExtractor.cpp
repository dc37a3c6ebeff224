#include "Platform/Content/TextExtractor.h"

#include "Platform/Content/EpubPackage.h"
#include "Platform/Content/HtmlText.h"
#include "Platform/Content/IWorkPackage.h"
#include "Platform/Content/MailText.h"
#include "Platform/Content/OfficeText.h"
#include "Platform/Content/PdfContent.h"
#include "Platform/Content/RtfText.h"
#include "Platform/Content/TextDecoding.h"
#include "Platform/Foundation/RegularFile.h"

#include <QFile>
#include <QFileInfo>

#include <mutex>

namespace platform {

namespace {

using PackageFn = Result<ExtractedText> (*)(const PackageReader&, ExtractionContext&);

TextExtractor::Function packageReader(PackageFn fn)
{
    return [fn](const QString& path, ExtractionContext& ctx) -> Result<ExtractedText> {
        auto package = PackageReader::open(path);
        if (!package)
            return std::unexpected(package.error());
        return fn(*package, ctx);
    };
}

Result<ExtractedText> extractRtf(const QString& path, ExtractionContext& ctx)
{
    // An RTFD package is a folder whose text is "TXT.rtf", next to its attachments.
    const QString file = QFileInfo(path).isDir() ? path + QStringLiteral("/TXT.rtf") : path;
    auto bytes = TextExtractor::readFile(file, ctx);
    if (!bytes)
        return std::unexpected(bytes.error());
    return RtfText::extract(*bytes, ctx);
}

Result<ExtractedText> extractHtml(const QString& path, ExtractionContext& ctx)
{
    auto bytes = TextExtractor::readFile(path, ctx);
    if (!bytes)
        return std::unexpected(bytes.error());
    return HtmlText::extract(*bytes, ctx);
}

Result<ExtractedText> extractMail(const QString& path, ExtractionContext& ctx)
{
    auto bytes = TextExtractor::readFile(path, ctx);
    if (!bytes)
        return std::unexpected(bytes.error());
    const QByteArrayView message = path.endsWith(QLatin1String(".emlx"), Qt::CaseInsensitive)
                                       ? MailText::emlxMessage(*bytes)
                                       : QByteArrayView(*bytes);
    auto text = MailText::extract(message, ctx);
    // A file named as mail that has no mail headers is still worth indexing as text.
    if (!text && text.error().code == ContentError::Unreadable)
        return ExtractedText{tidyText(TextDecoding::decode(message)), {}, ctx.truncated()};
    return text;
}

Result<ExtractedText> extractPdf(const QString& path, ExtractionContext& ctx)
{
    return PdfContent::extractText(path, ctx);
}

} // namespace

TextExtractor& TextExtractor::shared()
{
    static TextExtractor registry;
    static std::once_flag filled;
    std::call_once(filled, [] { registry.registerBuiltIns(); });
    return registry;
}

void TextExtractor::registerBuiltIns()
{
    registerExtractor({QStringLiteral("pdf")}, {QStringLiteral("application/pdf")}, extractPdf);
    registerExtractor({QStringLiteral("txt"), QStringLiteral("text"), QStringLiteral("md"),
                       QStringLiteral("markdown"), QStringLiteral("csv"), QStringLiteral("tsv"),
                       QStringLiteral("log"), QStringLiteral("json"), QStringLiteral("xml"),
                       QStringLiteral("yaml"), QStringLiteral("yml"), QStringLiteral("ini"),
                       QStringLiteral("tex"), QStringLiteral("c"), QStringLiteral("h"),
                       QStringLiteral("cpp"), QStringLiteral("hpp"), QStringLiteral("m"),
                       QStringLiteral("mm"), QStringLiteral("swift"), QStringLiteral("py"),
                       QStringLiteral("js"), QStringLiteral("java"), QStringLiteral("sh"),
                       QStringLiteral("sql"), QStringLiteral("srt")},
                      {QStringLiteral("text/plain")}, extractPlainText);
    registerExtractor({QStringLiteral("rtf"), QStringLiteral("rtfd")},
                      {QStringLiteral("text/rtf"), QStringLiteral("application/rtf")}, extractRtf, true);
    registerExtractor({QStringLiteral("html"), QStringLiteral("htm"), QStringLiteral("xhtml"),
                       QStringLiteral("shtml")},
                      {QStringLiteral("text/html"), QStringLiteral("application/xhtml+xml")}, extractHtml);
    registerExtractor({QStringLiteral("docx"), QStringLiteral("docm"), QStringLiteral("dotx"), QStringLiteral("dotm")},
                      {QStringLiteral("application/vnd.openxmlformats-officedocument.wordprocessingml.document"),
                       QStringLiteral("application/vnd.openxmlformats-officedocument.wordprocessingml.template")},
                      packageReader(OfficeText::extractWord));
    registerExtractor({QStringLiteral("xlsx"), QStringLiteral("xlsm"), QStringLiteral("xltx")},
                      {QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"),
                       QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.template")},
                      packageReader(OfficeText::extractSpreadsheet));
    registerExtractor({QStringLiteral("pptx"), QStringLiteral("pptm"), QStringLiteral("ppsx"), QStringLiteral("potx")},
                      {QStringLiteral("application/vnd.openxmlformats-officedocument.presentationml.presentation"),
                       QStringLiteral("application/vnd.openxmlformats-officedocument.presentationml.slideshow")},
                      packageReader(OfficeText::extractPresentation));
    registerExtractor({QStringLiteral("odt"), QStringLiteral("ott"), QStringLiteral("ods"), QStringLiteral("ots"),
                       QStringLiteral("odp"), QStringLiteral("otp"), QStringLiteral("odg")},
                      {QStringLiteral("application/vnd.oasis.opendocument.text"),
                       QStringLiteral("application/vnd.oasis.opendocument.spreadsheet"),
                       QStringLiteral("application/vnd.oasis.opendocument.presentation"),
                       QStringLiteral("application/vnd.oasis.opendocument.graphics")},
                      packageReader(OfficeText::extractOpenDocument));
    registerExtractor({QStringLiteral("epub")}, {QStringLiteral("application/epub+zip")},
                      packageReader(EpubPackage::extractText));
    registerExtractor({QStringLiteral("pages"), QStringLiteral("numbers"), QStringLiteral("key")},
                      {QStringLiteral("application/vnd.apple.pages"), QStringLiteral("application/vnd.apple.numbers"),
                       QStringLiteral("application/vnd.apple.keynote"), QStringLiteral("application/x-iwork-pages-sffpages"),
                       QStringLiteral("application/x-iwork-numbers-sffnumbers"),
                       QStringLiteral("application/x-iwork-keynote-sffkey")},
                      packageReader(IWorkPackage::extractText), true);
    registerExtractor({QStringLiteral("eml"), QStringLiteral("emlx")}, {QStringLiteral("message/rfc822")}, extractMail);
}

void TextExtractor::registerExtractor(const QStringList& extensions, const QStringList& mimeTypes, Function fn,
                                      bool acceptsFolders)
{
    m_readers.add(extensions, mimeTypes, fn, acceptsFolders);
}

bool TextExtractor::canExtract(const QString& path) const
{
    const QFileInfo info(path);
    return bool(m_readers.find(info, info.isDir()));
}

Result<ExtractedText> TextExtractor::extract(const QString& path, const ExtractionLimits& limits) const
{
    ExtractionContext ctx(limits);
    return extract(path, ctx);
}

Result<ExtractedText> TextExtractor::extract(const QString& path, ExtractionContext& ctx) const
{
    const QFileInfo info(path);
    if (!info.exists())
        return contentError(ContentError::NotFound, QStringLiteral("no such file: %1").arg(path));
    // Opening a pipe or a device would block or never end; readers that take a path open
    // it again themselves.
    if (!info.isDir()) {
        if (auto regular = RegularFile::check(path, -1); !regular)
            return contentErrorOfOpen(regular.error());
    }
    const Function fn = m_readers.find(info, info.isDir());
    if (!fn)
        return contentError(ContentError::Unsupported,
                            QStringLiteral("no text reader for %1").arg(info.isDir() ? QStringLiteral("the folder ") + path : path));
    if (ctx.expired())
        return contentError(ContentError::TimedOut, QStringLiteral("ran out of time before reading %1").arg(path));
    return fn(path, ctx);
}

Result<QByteArray> TextExtractor::readFile(const QString& path, ExtractionContext& ctx, qint64 maxBytes)
{
    // Only the beginning of a longer file is read, so its size is no reason to refuse it.
    auto opened = RegularFile::open(path, -1);
    if (!opened)
        return contentErrorOfOpen(opened.error());
    QFile& file = **opened;
    const qint64 cap = maxBytes < 0 ? ctx.limits().maxFileBytes : qMin(maxBytes, ctx.limits().maxFileBytes);
    QByteArray data = file.read(cap);
    if (data.size() == cap && !file.atEnd())
        ctx.markTruncated();
    if (file.error() != QFileDevice::NoError)
        return contentError(ContentError::Unreadable, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    return data;
}

Result<ExtractedText> TextExtractor::extractPlainText(const QString& path, ExtractionContext& ctx)
{
    // No encoding spends more than four bytes on a character, so more bytes than this could
    // only be cut off again.
    auto bytes = readFile(path, ctx, ctx.limits().maxTextChars * 4 + 4);
    if (!bytes)
        return std::unexpected(bytes.error());
    TextBuffer out(ctx);
    QString text = TextDecoding::decode(*bytes);
    // Stray NULs would end the text early for C-string consumers downstream.
    text.remove(QChar(0));
    out.append(text);
    return ExtractedText{out.take(), {}, ctx.truncated()};
}

} // namespace platform
