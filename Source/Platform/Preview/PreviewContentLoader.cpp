#include "Platform/Preview/PreviewContentLoader.h"

#include "Platform/Content/ContentPreview.h"
#include "Platform/Content/FileIcon.h"
#include "Platform/Content/HtmlText.h"
#include "Platform/Content/ImagePreview.h"
#include "Platform/Content/MailText.h"
#include "Platform/Content/TextDecoding.h"
#include "Platform/Content/TextExtractor.h"
#include "Platform/Foundation/RegularFile.h"
#include "Platform/Preview/PdfProbe.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMimeDatabase>
#include <QPdfDocument>
#include <QSet>
#include <QThread>
#include <cerrno>

namespace platform {

namespace {

// Packages that carry a picture of themselves; their zip or folder form says nothing to MIME
// sniffing that would help.
const QSet<QString>& packageExtensions()
{
    static const QSet<QString> set{
        QStringLiteral("docx"), QStringLiteral("docm"), QStringLiteral("dotx"), QStringLiteral("xlsx"),
        QStringLiteral("xlsm"), QStringLiteral("pptx"), QStringLiteral("pptm"), QStringLiteral("odt"),
        QStringLiteral("ods"),  QStringLiteral("odp"),  QStringLiteral("odg"),  QStringLiteral("ott"),
        QStringLiteral("pages"), QStringLiteral("numbers"), QStringLiteral("key"), QStringLiteral("epub"),
    };
    return set;
}

enum class Reader { Pdf, Image, Text, Html, Rtf, Mail, Package, None };

Reader readerForFile(const QString& path)
{
    const QString ext = QFileInfo(path).suffix().toLower();
    if (packageExtensions().contains(ext))
        return Reader::Package;
    if (ext == QLatin1String("eml") || ext == QLatin1String("emlx"))
        return Reader::Mail;
    if (ext == QLatin1String("rtf"))
        return Reader::Rtf;
    const QMimeType mime = QMimeDatabase().mimeTypeForFile(path);
    if (mime.inherits(QStringLiteral("application/pdf")))
        return Reader::Pdf;
    if (mime.name().startsWith(QLatin1String("image/"))
        && QImageReader::supportedMimeTypes().contains(mime.name().toLatin1()))
        return Reader::Image;
    if (mime.inherits(QStringLiteral("message/rfc822")))
        return Reader::Mail;
    if (mime.inherits(QStringLiteral("text/rtf")) || mime.inherits(QStringLiteral("application/rtf")))
        return Reader::Rtf;
    if (mime.inherits(QStringLiteral("text/html")) || mime.inherits(QStringLiteral("application/xhtml+xml")))
        return Reader::Html;
    if (mime.inherits(QStringLiteral("text/plain")))
        return Reader::Text;
    return Reader::None;
}

PreviewKind kindOf(Reader reader)
{
    switch (reader) {
    case Reader::Pdf: return PreviewKind::Pdf;
    case Reader::Image: return PreviewKind::Image;
    case Reader::Text:
    case Reader::Html:
    case Reader::Rtf: return PreviewKind::Text;
    case Reader::Mail: return PreviewKind::Mail;
    case Reader::Package: return PreviewKind::Package;
    case Reader::None: break;
    }
    return PreviewKind::Info;
}

// Bounds for the readers that run through an extraction context.
ExtractionLimits previewTextLimits()
{
    ExtractionLimits limits;
    limits.maxTextChars = PreviewContentLoader::kTextCapBytes;
    limits.maxFileBytes = PreviewContentLoader::kMailCapBytes;
    limits.timeoutMs = 10000;
    return limits;
}

Result<QByteArray> readCapped(const QString& path, qint64 cap, bool* truncated)
{
    // Only the first cap bytes are read, so a longer file is no reason to refuse.
    auto opened = RegularFile::open(path, -1);
    if (!opened)
        return contentErrorOfOpen(opened.error());
    QFile& file = **opened;
    QByteArray bytes = file.read(cap);
    if (bytes.isNull() && file.error() != QFileDevice::NoError)
        return fail(ContentError::kDomain, ContentError::Unreadable, file.errorString());
    // One byte more tells a file of exactly the cap from a longer one, also for pipes.
    if (truncated)
        *truncated = bytes.size() == cap && !file.read(1).isEmpty();
    return bytes;
}

// A header value as shown: at most kHeaderCapChars characters, an ellipsis marking the cut.
QString cappedHeader(const QString& value)
{
    constexpr qsizetype cap = PreviewContentLoader::kHeaderCapChars;
    if (value.size() <= cap)
        return value;
    const qsizetype keep = value.at(cap - 1).isHighSurrogate() ? cap - 1 : cap;
    return value.left(keep) + QChar(0x2026);
}

QString orUnreadable(const Error& error)
{
    return error.message.isEmpty() ? QStringLiteral("The file cannot be read.") : error.message;
}

std::shared_ptr<QPdfDocument> openPdf(const QString& path, QThread* owner, QString* failure,
                                      const std::function<bool()>& cancelled)
{
    // The library below never returns on some hostile files and then blocks every other
    // document: a helper that can be killed opens the file first.
    switch (PdfProbe::check(path, QDeadlineTimer(PdfProbe::kTimeoutMs), cancelled)) {
    case PdfProbe::Outcome::Readable:
        break;
    case PdfProbe::Outcome::Protected:
        *failure = QStringLiteral("The document is protected by a password.");
        return nullptr;
    case PdfProbe::Outcome::Damaged:
        *failure = QStringLiteral("The document is damaged or is no PDF.");
        return nullptr;
    case PdfProbe::Outcome::TimedOut:
        *failure = QStringLiteral("The document takes too long to read.");
        return nullptr;
    case PdfProbe::Outcome::Cancelled:
        *failure = QStringLiteral("The preview was cancelled.");
        return nullptr;
    case PdfProbe::Outcome::Unavailable:
        qWarning("The PDF check %s cannot be run; %s is opened unchecked", qPrintable(PdfProbe::helperPath()),
                 qPrintable(path));
        break;
    }
    // The document stays on this thread when it is given up here, and is deleted at once; one
    // handed over goes to the owner's event loop.
    std::shared_ptr<QPdfDocument> doc(new QPdfDocument(nullptr), [](QPdfDocument* d) {
        if (d->thread() == QThread::currentThread())
            delete d;
        else
            d->deleteLater();
    });
    const QPdfDocument::Error error = doc->load(path);
    if (error == QPdfDocument::Error::IncorrectPassword || error == QPdfDocument::Error::UnsupportedSecurityScheme) {
        *failure = QStringLiteral("The document is protected by a password.");
        return nullptr;
    }
    if (error != QPdfDocument::Error::None || doc->pageCount() <= 0) {
        *failure = QStringLiteral("The document is damaged or is no PDF.");
        return nullptr;
    }
    if (owner && owner != QThread::currentThread())
        doc->moveToThread(owner);
    return doc;
}

} // namespace

PreviewKind PreviewContentLoader::kindForFile(const QString& path)
{
    return kindOf(readerForFile(path));
}

PreviewFileFacts PreviewContentLoader::factsOf(const QString& path)
{
    PreviewFileFacts facts;
    const QFileInfo info(path);
    facts.name = info.fileName();
    facts.exists = info.exists();
    facts.kind = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension).comment();
    if (!facts.exists)
        return facts;
    if (info.isFile())
        facts.size = info.size();
    facts.created = info.birthTime();
    facts.modified = info.lastModified();
    return facts;
}

Result<QString> PreviewContentLoader::readText(const QString& path, bool* truncated)
{
    auto bytes = readCapped(path, kTextCapBytes, truncated);
    if (!bytes)
        return std::unexpected(bytes.error());
    return TextDecoding::decode(*bytes);
}

QList<std::pair<QByteArray, QString>> PreviewContentLoader::mailHeaders(QByteArrayView message)
{
    static const QSet<QByteArray> wanted{"from", "to", "cc", "date", "subject"};
    QList<std::pair<QByteArray, QString>> headers;
    QByteArray name;
    QByteArray value;
    auto flush = [&] {
        if (!name.isEmpty() && wanted.contains(name)) {
            const bool seen = std::any_of(headers.cbegin(), headers.cend(), [&](const auto& h) { return h.first == name; });
            if (!seen)
                headers.append({name, cappedHeader(MailText::decodeHeader(value.left(kHeaderCapChars * 4).trimmed()).simplified())});
        }
        name.clear();
        value.clear();
    };
    qsizetype pos = 0;
    while (pos < message.size()) {
        qsizetype end = message.indexOf('\n', pos);
        if (end < 0)
            end = message.size();
        QByteArrayView line = message.sliced(pos, end - pos);
        pos = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            break; // the end of the header block
        if (line.front() == ' ' || line.front() == '\t') {
            if (!name.isEmpty())
                value += ' ' + line.trimmed().toByteArray();
            continue;
        }
        flush();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        name = line.first(colon).trimmed().toByteArray().toLower();
        value = line.sliced(colon + 1).toByteArray();
    }
    flush();
    return headers;
}

Result<QString> PreviewContentLoader::mailPreview(QByteArrayView message)
{
    ExtractionContext ctx(previewTextLimits());
    auto extracted = MailText::extract(message, ctx);
    if (!extracted)
        return std::unexpected(extracted.error());

    static const std::pair<const char*, QString> labels[] = {
        {"from", QStringLiteral("From")}, {"to", QStringLiteral("To")},    {"cc", QStringLiteral("Cc")},
        {"date", QStringLiteral("Date")}, {"subject", QStringLiteral("Subject")},
    };
    const auto headers = mailHeaders(message);
    QStringList headerLines;
    QSet<QString> values;
    for (const auto& [key, label] : labels) {
        for (const auto& [name, value] : headers) {
            if (name == key && !value.isEmpty()) {
                headerLines.append(label + QStringLiteral(": ") + value);
                values.insert(value);
            }
        }
    }

    // The message's text opens with its subject and addresses, which the header lines show
    // already.
    QStringList body = extracted->text.split(QLatin1Char('\n'));
    for (int dropped = 0; dropped < 3 && !body.isEmpty(); ++dropped) {
        const QString first = body.front().simplified();
        if (first.isEmpty() || values.contains(cappedHeader(first)))
            body.removeFirst();
        else
            break;
    }
    while (!body.isEmpty() && body.front().trimmed().isEmpty())
        body.removeFirst();
    return headerLines.join(QLatin1Char('\n')) + QStringLiteral("\n\n") + body.join(QLatin1Char('\n'));
}

QString PreviewContentLoader::breakLongLines(const QString& text)
{
    QString out;
    qsizetype run = 0;
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\n')) {
            run = 0;
            continue;
        }
        if (++run <= kShownLineChars || c.isLowSurrogate())
            continue;
        if (out.isEmpty())
            out.reserve(text.size() + text.size() / kShownLineChars + 1);
        out.append(QStringView(text).sliced(from, i - from));
        out.append(QLatin1Char('\n'));
        from = i;
        run = 1;
    }
    if (from == 0)
        return text;
    out.append(QStringView(text).sliced(from));
    return out;
}

bool PreviewContentLoader::capText(QString& text)
{
    if (text.size() <= kTextCapBytes)
        return false;
    const qsizetype keep = text.at(kTextCapBytes - 1).isHighSurrogate() ? kTextCapBytes - 1 : kTextCapBytes;
    text.truncate(keep);
    return true;
}

PreviewContent PreviewContentLoader::load(const QString& path, QThread* pdfThread, const QString& thumbnailPath,
                                          const std::function<bool()>& cancelled)
{
    PreviewContent content;
    content.facts = factsOf(path);
    auto toInfo = [&](const QString& why) {
        content.kind = PreviewKind::Info;
        content.failure = why;
        content.text.clear();
        QImage stored;
        if (!thumbnailPath.isEmpty())
            stored = ImagePreview::fromFile(thumbnailPath, ContentPreview::kPreviewSize).value_or(QImage());
        content.imageIsFileIcon = stored.isNull();
        content.image = stored.isNull() ? FileIcon::iconFor(path, kIconBox) : stored;
        return content;
    };
    if (!content.facts.exists)
        return toInfo(QStringLiteral("The file cannot be found."));
    // A FIFO or a device would block the reader; PDF and image libraries open the path again.
    if (!QFileInfo(path).isDir()) {
        if (auto regular = RegularFile::check(path, -1); !regular)
            return toInfo(regular.error().code == ENODEV ? QStringLiteral("The item is no regular file.")
                                                         : orUnreadable(contentErrorOfOpen(regular.error()).error()));
    }

    const Reader reader = readerForFile(path);
    content.kind = kindOf(reader);
    switch (reader) {
    case Reader::Pdf: {
        QString failure;
        content.pdf = openPdf(path, pdfThread, &failure, cancelled);
        if (!content.pdf)
            return toInfo(failure);
        return content;
    }
    case Reader::Image: {
        auto image = ImagePreview::fromFile(path, kImageBox);
        if (!image)
            return toInfo(orUnreadable(image.error()));
        content.image = *image;
        return content;
    }
    case Reader::Text: {
        auto text = readText(path, &content.truncated);
        if (!text)
            return toInfo(orUnreadable(text.error()));
        content.text = *text;
        return content;
    }
    case Reader::Html: {
        auto bytes = readCapped(path, kTextCapBytes, &content.truncated);
        if (!bytes)
            return toInfo(orUnreadable(bytes.error()));
        ExtractionContext ctx(previewTextLimits());
        auto text = HtmlText::extract(*bytes, ctx);
        if (!text)
            return toInfo(orUnreadable(text.error()));
        content.text = tidyText(text->text);
        content.truncated = capText(content.text) || content.truncated;
        return content;
    }
    case Reader::Rtf: {
        ExtractionContext ctx(previewTextLimits());
        auto text = TextExtractor::shared().extract(path, ctx);
        if (!text)
            return toInfo(orUnreadable(text.error()));
        content.text = tidyText(text->text);
        content.truncated = capText(content.text) || text->truncated;
        return content;
    }
    case Reader::Mail: {
        bool cut = false;
        auto bytes = readCapped(path, kMailCapBytes, &cut);
        if (!bytes)
            return toInfo(orUnreadable(bytes.error()));
        const QByteArrayView message = QFileInfo(path).suffix().compare(QLatin1String("emlx"), Qt::CaseInsensitive) == 0
                                           ? MailText::emlxMessage(*bytes)
                                           : QByteArrayView(*bytes);
        auto text = mailPreview(message);
        if (!text)
            return toInfo(orUnreadable(text.error()));
        content.text = *text;
        content.truncated = capText(content.text) || cut;
        return content;
    }
    case Reader::Package: {
        auto image = ContentPreview::shared().thumbnail(path, QSize(1600, 1600));
        if (!image)
            return toInfo(orUnreadable(image.error()));
        content.image = *image;
        return content;
    }
    case Reader::None: break;
    }
    return toInfo(QString());
}

} // namespace platform
