#include "Platform/Content/OfficeText.h"

#include "Platform/Content/XmlText.h"

#include <QRegularExpression>
#include <QXmlStreamReader>
#include <algorithm>

namespace platform {

namespace {

// Tuning: shared strings kept for a workbook; sheets refer to them by index.
constexpr qsizetype kMaxSharedStrings = 2000000;
// Tuning: XML tokens read between deadline checks.
constexpr int kTokensPerCheck = 4096;

Result<void> appendPart(const PackageReader& package, const QString& name, const XmlTextRules& rules,
                        TextBuffer& out, bool required)
{
    if (!required && !package.contains(name))
        return {};
    auto xml = package.read(name, out.context());
    if (!xml)
        return std::unexpected(xml.error());
    out.newline();
    return XmlText::append(*xml, rules, out);
}

Result<QStringList> readSharedStrings(const PackageReader& package, ExtractionContext& ctx)
{
    QStringList strings;
    if (!package.contains(QStringLiteral("xl/sharedStrings.xml")))
        return strings;
    auto xml = package.read(QStringLiteral("xl/sharedStrings.xml"), ctx);
    if (!xml)
        return std::unexpected(xml.error());
    QXmlStreamReader reader(*xml);
    QString current;
    bool inItem = false;
    int textDepth = 0, phoneticDepth = 0, tokens = 0;
    while (!reader.atEnd() && strings.size() < kMaxSharedStrings) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            if (reader.name() == QLatin1String("si")) {
                inItem = true;
                current.clear();
            } else if (reader.name() == QLatin1String("rPh")) {
                ++phoneticDepth; // reading aids for Japanese, not text of the cell
            } else if (reader.name() == QLatin1String("t")) {
                ++textDepth;
            }
            break;
        case QXmlStreamReader::EndElement:
            if (reader.name() == QLatin1String("si")) {
                strings.append(current);
                inItem = false;
            } else if (reader.name() == QLatin1String("rPh")) {
                --phoneticDepth;
            } else if (reader.name() == QLatin1String("t")) {
                --textDepth;
            }
            break;
        case QXmlStreamReader::Characters:
            if (inItem && textDepth > 0 && phoneticDepth == 0)
                current.append(reader.text());
            break;
        default:
            break;
        }
        if (++tokens % kTokensPerCheck == 0 && ctx.expired())
            break;
    }
    if (reader.hasError() && strings.isEmpty())
        return contentError(ContentError::Unreadable, QStringLiteral("malformed shared strings: %1").arg(reader.errorString()));
    return strings;
}

// A sheet's cells in row order, tab-separated: strings through the shared table ("s"), inline
// strings, and numbers and formula results as written. Formulas themselves are not text.
void appendSheet(const QByteArray& xml, const QStringList& shared, TextBuffer& out)
{
    QXmlStreamReader reader(xml);
    QString type;
    QString value;
    bool inValue = false, inInline = false, rowHasCells = false;
    int tokens = 0;
    while (!reader.atEnd() && !out.full()) {
        if (++tokens % kTokensPerCheck == 0 && out.done())
            break;
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement: {
            const QStringView name = reader.name();
            if (name == QLatin1String("c")) {
                type = reader.attributes().value(QLatin1String("t")).toString();
                value.clear();
            } else if (name == QLatin1String("v")) {
                inValue = true;
            } else if (name == QLatin1String("is")) {
                inInline = true;
            }
            break;
        }
        case QXmlStreamReader::EndElement: {
            const QStringView name = reader.name();
            if (name == QLatin1String("v")) {
                inValue = false;
            } else if (name == QLatin1String("is")) {
                inInline = false;
            } else if (name == QLatin1String("c")) {
                QString cell = value;
                if (type == QLatin1String("s")) {
                    bool ok = false;
                    const qsizetype index = value.trimmed().toLongLong(&ok);
                    cell = ok && index >= 0 && index < shared.size() ? shared.at(index) : QString();
                }
                if (!cell.isEmpty()) {
                    if (rowHasCells)
                        out.append(QLatin1Char('\t'));
                    out.append(cell);
                    rowHasCells = true;
                }
            } else if (name == QLatin1String("row")) {
                out.newline();
                rowHasCells = false;
            }
            break;
        }
        case QXmlStreamReader::Characters:
            if (inValue || inInline)
                value.append(reader.text());
            break;
        default:
            break;
        }
    }
}

// Malformed XML after some text still gives that text; a missing part or a cap is an error.
Result<ExtractedText> finish(TextBuffer& out, const Result<void>& status)
{
    if (!status && (status.error().code != ContentError::Unreadable || out.text().isEmpty()))
        return std::unexpected(status.error());
    return finishExtraction(out);
}

} // namespace

QStringList OfficeText::numberedParts(const PackageReader& package, const QString& folder, const QString& prefix)
{
    const QRegularExpression pattern(QStringLiteral("^%1/%2(\\d+)\\.xml$")
                                         .arg(QRegularExpression::escape(folder), QRegularExpression::escape(prefix)));
    QList<std::pair<qint64, QString>> found;
    for (const QString& name : package.entryNames()) {
        const QRegularExpressionMatch m = pattern.match(name);
        if (m.hasMatch())
            found.append({m.captured(1).toLongLong(), name});
    }
    std::sort(found.begin(), found.end());
    QStringList names;
    for (const auto& [n, name] : found)
        names.append(name);
    return names;
}

Result<ExtractedText> OfficeText::extractWord(const PackageReader& package, ExtractionContext& ctx)
{
    XmlTextRules rules;
    rules.textElements = {QStringLiteral("t")};
    rules.paragraphElements = {QStringLiteral("p")};
    rules.tabElements = {QStringLiteral("tab")};
    rules.lineBreakElements = {QStringLiteral("br"), QStringLiteral("cr")};
    // Paragraph and run properties hold tab stops, not tabs; deleted text and field codes are
    // not what the reader sees.
    rules.skipElements = {QStringLiteral("pPr"), QStringLiteral("rPr"), QStringLiteral("delText"),
                          QStringLiteral("instrText")};
    TextBuffer out(ctx);
    Result<void> status = appendPart(package, QStringLiteral("word/document.xml"), rules, out, true);
    for (const QString& part : {QStringLiteral("word/footnotes.xml"), QStringLiteral("word/endnotes.xml")}) {
        if (!status || out.done())
            break;
        status = appendPart(package, part, rules, out, false);
    }
    return finish(out, status);
}

Result<ExtractedText> OfficeText::extractSpreadsheet(const PackageReader& package, ExtractionContext& ctx)
{
    auto shared = readSharedStrings(package, ctx);
    if (!shared)
        return std::unexpected(shared.error());
    // Sheet file numbers follow creation order, which is the tab order unless tabs were moved.
    const QStringList sheets = numberedParts(package, QStringLiteral("xl/worksheets"), QStringLiteral("sheet"));
    if (sheets.isEmpty())
        return contentError(ContentError::Unreadable, QStringLiteral("a workbook without sheets"));
    TextBuffer out(ctx);
    for (const QString& sheet : sheets) {
        if (out.done())
            break;
        auto xml = package.read(sheet, ctx);
        if (!xml)
            return std::unexpected(xml.error());
        out.newline();
        appendSheet(*xml, *shared, out);
    }
    return finishExtraction(out);
}

Result<ExtractedText> OfficeText::extractPresentation(const PackageReader& package, ExtractionContext& ctx)
{
    const QStringList slides = numberedParts(package, QStringLiteral("ppt/slides"), QStringLiteral("slide"));
    if (slides.isEmpty())
        return contentError(ContentError::Unreadable, QStringLiteral("a presentation without slides"));
    XmlTextRules rules;
    rules.textElements = {QStringLiteral("t")};
    rules.paragraphElements = {QStringLiteral("p")};
    rules.lineBreakElements = {QStringLiteral("br")};
    TextBuffer out(ctx);
    Result<void> status;
    for (const QString& slide : slides) {
        if (!status || out.done())
            break;
        status = appendPart(package, slide, rules, out, true);
    }
    return finish(out, status);
}

Result<ExtractedText> OfficeText::extractOpenDocument(const PackageReader& package, ExtractionContext& ctx)
{
    XmlTextRules rules;
    rules.paragraphElements = {QStringLiteral("p"), QStringLiteral("h"), QStringLiteral("list-item")};
    rules.tabElements = {QStringLiteral("tab")};
    rules.lineBreakElements = {QStringLiteral("line-break")};
    rules.spaceElement = QStringLiteral("s");
    rules.skipElements = {QStringLiteral("automatic-styles"), QStringLiteral("font-face-decls"),
                          QStringLiteral("scripts"), QStringLiteral("tracked-changes"),
                          QStringLiteral("forms"), QStringLiteral("binary-data")};
    TextBuffer out(ctx);
    const Result<void> status = appendPart(package, QStringLiteral("content.xml"), rules, out, true);
    return finish(out, status);
}

} // namespace platform
