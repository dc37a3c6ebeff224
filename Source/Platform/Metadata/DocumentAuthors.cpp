#include "Platform/Metadata/DocumentAuthors.h"

#include "Platform/Content/MailText.h"
#include "Platform/Content/PackageReader.h"
#include "Platform/Content/PdfContent.h"
#include "Platform/Metadata/MailAddresses.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMimeDatabase>
#include <QXmlStreamReader>

namespace platform {

namespace {

const QString kDublinCore = QStringLiteral("http://purl.org/dc/elements/1.1/");
const QString kOdfMeta = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:meta:1.0");
const QString kOpf = QStringLiteral("http://www.idpf.org/2007/opf");
const QString kCorePropertiesRelation = QStringLiteral("/metadata/core-properties");

QStringList cleaned(const QStringList& names)
{
    QStringList out;
    for (const QString& name : names) {
        const QString simple = name.simplified();
        if (!simple.isEmpty() && !out.contains(simple))
            out.append(simple);
        if (out.size() >= DocumentAuthors::kMaxAuthors)
            break;
    }
    return out;
}

bool isElement(const QXmlStreamReader& reader, const QString& namespaceUri, QLatin1String localName)
{
    return reader.name() == localName && reader.namespaceUri() == namespaceUri;
}

// The text of the current element, children's text included, without giving up the rest of
// the document when the element holds markup.
QString elementText(QXmlStreamReader& reader)
{
    return reader.readElementText(QXmlStreamReader::IncludeChildElements);
}

ExtractionContext readingContext()
{
    ExtractionLimits limits;
    limits.maxEntryBytes = DocumentAuthors::kMaxPartBytes;
    limits.maxTotalBytes = 4 * DocumentAuthors::kMaxPartBytes;
    limits.maxFileBytes = DocumentAuthors::kMaxPartBytes;
    limits.timeoutMs = DocumentAuthors::kReadTimeoutMs;
    return ExtractionContext(limits);
}

QStringList pdfAuthors(const QString& path)
{
    ExtractionContext ctx = readingContext();
    const auto author = PdfContent::infoField(path, QStringLiteral("Author"), ctx);
    return author ? QStringList{*author} : QStringList();
}

// The core-properties part named by the package relationships, else where Office puts it.
QString corePropertiesPart(const PackageReader& package, ExtractionContext& ctx)
{
    if (const auto rels = package.read(QStringLiteral("_rels/.rels"), ctx)) {
        QXmlStreamReader reader(*rels);
        while (!reader.atEnd()) {
            if (reader.readNext() != QXmlStreamReader::StartElement || reader.name() != QLatin1String("Relationship"))
                continue;
            const auto attributes = reader.attributes();
            if (!attributes.value(QLatin1String("Type")).endsWith(kCorePropertiesRelation))
                continue;
            QString target = attributes.value(QLatin1String("Target")).toString();
            while (target.startsWith(u'/'))
                target.remove(0, 1);
            if (!target.isEmpty() && package.contains(target))
                return target;
        }
    }
    return QStringLiteral("docProps/core.xml");
}

QString epubPackageDocument(const PackageReader& package, ExtractionContext& ctx)
{
    const auto container = package.read(QStringLiteral("META-INF/container.xml"), ctx);
    if (!container)
        return {};
    QXmlStreamReader reader(*container);
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == QLatin1String("rootfile"))
            return reader.attributes().value(QLatin1String("full-path")).toString();
    }
    return {};
}

QStringList packageAuthors(const QString& path, DocumentAuthors::Kind kind)
{
    const auto package = PackageReader::open(path);
    if (!package)
        return {};
    ExtractionContext ctx = readingContext();
    switch (kind) {
    case DocumentAuthors::Kind::OfficeOpenXml: {
        const auto xml = package->read(corePropertiesPart(*package, ctx), ctx);
        return xml ? DocumentAuthors::fromCoreProperties(*xml) : QStringList();
    }
    case DocumentAuthors::Kind::OpenDocument: {
        const auto xml = package->read(QStringLiteral("meta.xml"), ctx);
        return xml ? DocumentAuthors::fromOpenDocumentMeta(*xml) : QStringList();
    }
    case DocumentAuthors::Kind::Epub: {
        const QString opfPath = epubPackageDocument(*package, ctx);
        if (opfPath.isEmpty())
            return {};
        const auto opf = package->read(opfPath, ctx);
        return opf ? DocumentAuthors::fromPackageDocument(*opf) : QStringList();
    }
    default:
        return {};
    }
}

QStringList mailAuthors(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return DocumentAuthors::fromMailMessage(file.read(DocumentAuthors::kMaxMailHeaderBytes));
}

} // namespace

DocumentAuthors::Kind DocumentAuthors::kindOf(const QString& path)
{
    static const QHash<QString, Kind> byExtension = [] {
        QHash<QString, Kind> table;
        table.insert(QStringLiteral("pdf"), Kind::Pdf);
        for (const char* ext : {"docx", "docm", "dotx", "dotm", "xlsx", "xlsm", "xltx", "xltm", "xlsb", "pptx",
                                "pptm", "potx", "potm", "ppsx", "ppsm", "vsdx"})
            table.insert(QString::fromLatin1(ext), Kind::OfficeOpenXml);
        for (const char* ext : {"odt", "ods", "odp", "odg", "odf", "odc", "odm", "ott", "ots", "otp", "otg", "oth"})
            table.insert(QString::fromLatin1(ext), Kind::OpenDocument);
        table.insert(QStringLiteral("epub"), Kind::Epub);
        table.insert(QStringLiteral("eml"), Kind::Mail);
        table.insert(QStringLiteral("emlx"), Kind::Mail);
        return table;
    }();

    const QFileInfo info(path);
    if (const auto it = byExtension.constFind(info.suffix().toLower()); it != byExtension.constEnd())
        return *it;
    const QMimeType mime = QMimeDatabase().mimeTypeForFile(info);
    const QString name = mime.name();
    if (name == QLatin1String("application/pdf"))
        return Kind::Pdf;
    if (name.startsWith(QLatin1String("application/vnd.openxmlformats-officedocument.")))
        return Kind::OfficeOpenXml;
    if (name.startsWith(QLatin1String("application/vnd.oasis.opendocument.")))
        return Kind::OpenDocument;
    if (name == QLatin1String("application/epub+zip"))
        return Kind::Epub;
    if (mime.inherits(QStringLiteral("message/rfc822")))
        return Kind::Mail;
    return Kind::None;
}

QStringList DocumentAuthors::read(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return {};
    switch (const Kind kind = kindOf(path)) {
    case Kind::Pdf:
        return cleaned(pdfAuthors(path));
    case Kind::OfficeOpenXml:
    case Kind::OpenDocument:
    case Kind::Epub:
        return cleaned(packageAuthors(path, kind));
    case Kind::Mail:
        return cleaned(mailAuthors(path));
    case Kind::None:
        break;
    }
    return {};
}

QStringList DocumentAuthors::fromCoreProperties(const QByteArray& xml)
{
    QStringList names;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement
            && isElement(reader, kDublinCore, QLatin1String("creator"))) {
            // Office writes several authors as one text separated by semicolons.
            names += elementText(reader).split(u';');
        }
    }
    return cleaned(names);
}

QStringList DocumentAuthors::fromOpenDocumentMeta(const QByteArray& xml)
{
    QStringList initial;
    QStringList last;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (isElement(reader, kOdfMeta, QLatin1String("initial-creator")))
            initial.append(elementText(reader));
        else if (isElement(reader, kDublinCore, QLatin1String("creator")))
            last.append(elementText(reader));
    }
    return cleaned(initial + last);
}

QStringList DocumentAuthors::fromPackageDocument(const QByteArray& opf)
{
    struct Creator {
        QString id;
        QString name;
        QString role;
    };
    QList<Creator> creators;
    QHash<QString, QString> refinedRoles; // creator id → role given by a refining meta
    QXmlStreamReader reader(opf);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (isElement(reader, kDublinCore, QLatin1String("creator"))) {
            const auto attributes = reader.attributes();
            Creator creator;
            creator.id = attributes.value(QLatin1String("id")).toString();
            creator.role = attributes.value(kOpf, QLatin1String("role")).toString();
            creator.name = elementText(reader);
            creators.append(creator);
        } else if (reader.name() == QLatin1String("meta")) {
            const auto attributes = reader.attributes();
            const QString refines = attributes.value(QLatin1String("refines")).toString();
            if (refines.startsWith(u'#') && attributes.value(QLatin1String("property")) == QLatin1String("role"))
                refinedRoles.insert(refines.mid(1), elementText(reader).trimmed());
        }
    }
    QStringList authors;
    QStringList everyone;
    for (const Creator& creator : std::as_const(creators)) {
        const QString role = creator.role.isEmpty() ? refinedRoles.value(creator.id) : creator.role;
        everyone.append(creator.name);
        if (role.isEmpty() || role.compare(QLatin1String("aut"), Qt::CaseInsensitive) == 0)
            authors.append(creator.name);
    }
    // A book that credits only editors or translators still has someone to show.
    return cleaned(authors.isEmpty() ? everyone : authors);
}

QStringList DocumentAuthors::fromMailMessage(const QByteArray& message)
{
    const auto from = MailAddresses::headerField(MailText::emlxMessage(message), "From");
    return from ? cleaned(MailAddresses::senderNames(*from)) : QStringList();
}

} // namespace platform
