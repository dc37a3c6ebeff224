#include "Platform/Content/EpubPackage.h"

#include "Platform/Content/HtmlText.h"
#include "Platform/Content/TextDecoding.h"

#include <QDir>
#include <QHash>
#include <QUrl>
#include <QXmlStreamReader>

namespace platform {

namespace {

struct Item {
    QString href;
    QString mediaType;
    QString properties;
};

Result<QString> packageDocumentPath(const PackageReader& package, ExtractionContext& ctx)
{
    auto xml = package.read(QStringLiteral("META-INF/container.xml"), ctx);
    if (!xml)
        return std::unexpected(xml.error());
    QXmlStreamReader reader(*xml);
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == QLatin1String("rootfile")) {
            const QString path = reader.attributes().value(QLatin1String("full-path")).toString();
            if (!path.isEmpty())
                return path;
        }
    }
    return contentError(ContentError::Unreadable, QStringLiteral("the book names no package document"));
}

} // namespace

// Hrefs are URLs relative to the package document: "../Text/ch%201.xhtml#p3" names the zip
// entry "Text/ch 1.xhtml" when the package document is "OEBPS/content.opf".
QString EpubPackage::resolve(const QString& base, const QString& href)
{
    QString target = href;
    if (const qsizetype hash = target.indexOf(QLatin1Char('#')); hash >= 0)
        target.truncate(hash);
    target = QUrl::fromPercentEncoding(target.toUtf8());
    if (target.isEmpty() || target.contains(QStringLiteral("://")))
        return {};
    const qsizetype slash = base.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QString() : base.left(slash + 1);
    const QString joined = target.startsWith(QLatin1Char('/')) ? target.mid(1) : folder + target;
    const QString clean = QDir::cleanPath(joined);
    if (clean.startsWith(QStringLiteral("../")) || clean == QLatin1String("..") || clean.startsWith(QLatin1Char('/')))
        return {};
    return clean;
}

Result<EpubPackage::Manifest> EpubPackage::readManifest(const PackageReader& package, ExtractionContext& ctx)
{
    auto opfPath = packageDocumentPath(package, ctx);
    if (!opfPath)
        return std::unexpected(opfPath.error());
    auto xml = package.read(*opfPath, ctx);
    if (!xml)
        return std::unexpected(xml.error());

    Manifest manifest;
    manifest.packagePath = *opfPath;
    QHash<QString, Item> items;
    QStringList order;
    QString coverId;
    QXmlStreamReader reader(*xml);
    bool inTitle = false;
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            const QStringView name = reader.name();
            const QXmlStreamAttributes attrs = reader.attributes();
            if (name == QLatin1String("item")) {
                items.insert(attrs.value(QLatin1String("id")).toString(),
                             Item{attrs.value(QLatin1String("href")).toString(),
                                  attrs.value(QLatin1String("media-type")).toString(),
                                  attrs.value(QLatin1String("properties")).toString()});
            } else if (name == QLatin1String("itemref")) {
                order.append(attrs.value(QLatin1String("idref")).toString());
            } else if (name == QLatin1String("meta") && attrs.value(QLatin1String("name")) == QLatin1String("cover")) {
                coverId = attrs.value(QLatin1String("content")).toString();
            } else if (name == QLatin1String("title") && manifest.title.isEmpty()) {
                inTitle = true;
            }
        } else if (token == QXmlStreamReader::EndElement && reader.name() == QLatin1String("title")) {
            inTitle = false;
        } else if (token == QXmlStreamReader::Characters && inTitle) {
            manifest.title.append(reader.text());
        }
    }
    if (reader.hasError() && items.isEmpty())
        return contentError(ContentError::Unreadable, QStringLiteral("malformed package document: %1").arg(reader.errorString()));

    for (const QString& id : order) {
        const QString entry = resolve(*opfPath, items.value(id).href);
        if (!entry.isEmpty())
            manifest.spine.append(entry);
    }
    // EPUB 3 marks the cover in the manifest, EPUB 2 in a meta element; some books only name it.
    QString coverHref;
    for (auto it = items.cbegin(); it != items.cend() && coverHref.isEmpty(); ++it) {
        if (it->properties.split(QLatin1Char(' ')).contains(QLatin1String("cover-image")))
            coverHref = it->href;
    }
    if (coverHref.isEmpty() && items.contains(coverId))
        coverHref = items.value(coverId).href;
    for (auto it = items.cbegin(); it != items.cend() && coverHref.isEmpty(); ++it) {
        if (it->mediaType.startsWith(QLatin1String("image/"))
            && (it.key().contains(QLatin1String("cover"), Qt::CaseInsensitive)
                || it->href.contains(QLatin1String("cover"), Qt::CaseInsensitive)))
            coverHref = it->href;
    }
    manifest.coverImage = resolve(*opfPath, coverHref);
    manifest.title = manifest.title.simplified();
    return manifest;
}

Result<ExtractedText> EpubPackage::extractText(const PackageReader& package, ExtractionContext& ctx)
{
    auto manifest = readManifest(package, ctx);
    if (!manifest)
        return std::unexpected(manifest.error());
    if (manifest->spine.isEmpty())
        return contentError(ContentError::Unreadable, QStringLiteral("the book lists no chapters"));
    TextBuffer out(ctx);
    for (const QString& chapter : manifest->spine) {
        if (out.done())
            break;
        auto bytes = package.read(chapter, ctx);
        // A chapter named in the spine but missing from the zip is skipped; a cap is not.
        if (!bytes) {
            if (bytes.error().code == ContentError::NotFound)
                continue;
            return std::unexpected(bytes.error());
        }
        out.newline();
        // EPUB requires UTF-8 or UTF-16 chapters, but older books declare other charsets.
        const QByteArray charset = HtmlText::declaredCharset(*bytes);
        HtmlText::appendText(TextDecoding::decodeAs(*bytes, charset.isEmpty() ? QByteArray("utf-8") : charset), out);
    }
    return finishExtraction(out, manifest->title);
}

} // namespace platform
