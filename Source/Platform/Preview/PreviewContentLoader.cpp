#include "Platform/Preview/PreviewContentLoader.h"

#include "Platform/Content/ContentPreview.h"
#include "Platform/Content/FileIcon.h"
#include "Platform/Content/HtmlText.h"
#include "Platform/Content/ImagePreview.h"
#include "Platform/Content/MailText.h"
#include "Platform/Content/TextDecoding.h"
#include "Platform/Content/TextExtractor.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMimeDatabase>
#include <QPdfDocument>
#include <QSet>
#include <QThread>

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
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(ContentError::kDomain, ContentError::Unreadable, file.errorString());
    QByteArray bytes = file.read(cap);
    if (bytes.isNull() && file.error() != QFileDevice::NoError)
        return fail(ContentError::kDomain, ContentError::Unreadable, file.errorString());
    // One byte more tells a file of exactly the cap from a longer one, also for pipes.
    if (truncated)
        *truncated = bytes.size() == cap && !file.read(1).isEmpty();
    return bytes;
}

QString orUnreadable(const Error& error)
{
    return error.message.isEmpty() ? QStringLiteral("The file cannot be read.") : error.message;
}

std::shared_ptr<QPdfDocument> openPdf(const QString& path, QThread* owner, QString* failure)
{
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
                headers.append({name, MailText::decodeHeader(value.trimmed()).simplified()});
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
        if (first.isEmpty() || values.contains(first))
            body.removeFirst();
        else
            break;
    }
    while (!body.isEmpty() && body.front().trimmed().isEmpty())
        body.removeFirst();
    return headerLines.join(QLatin1Char('\n')) + QStringLiteral("\n\n") + body.join(QLatin1Char('\n'));
}

PreviewContent PreviewContentLoader::load(const QString& path, QThread* pdfThread, const QString& thumbnailPath)
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

    const Reader reader = readerForFile(path);
    content.kind = kindOf(reader);
    switch (reader) {
    case Reader::Pdf: {
        QString failure;
        content.pdf = openPdf(path, pdfThread, &failure);
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
        return content;
    }
    case Reader::Rtf: {
        ExtractionContext ctx(previewTextLimits());
        auto text = TextExtractor::shared().extract(path, ctx);
        if (!text)
            return toInfo(orUnreadable(text.error()));
        content.text = tidyText(text->text);
        content.truncated = text->truncated;
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
        content.truncated = cut;
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
