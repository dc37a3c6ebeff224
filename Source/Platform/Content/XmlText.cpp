#include "Platform/Content/XmlText.h"

#include <QXmlStreamReader>

namespace platform {

namespace {

// Tuning: tokens between deadline checks.
constexpr int kCheckEvery = 4096;
// Tuning: spaces one ODF space element may stand for.
constexpr int kMaxSpaceRun = 64;

} // namespace

Result<void> XmlText::append(const QByteArray& xml, const XmlTextRules& rules, TextBuffer& out)
{
    QXmlStreamReader reader(xml);
    const qsizetype startSize = out.text().size();
    int skipDepth = 0;
    int textDepth = 0;
    int tokens = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        switch (token) {
        case QXmlStreamReader::StartElement: {
            const QStringView name = reader.name();
            if (skipDepth > 0 || rules.skipElements.contains(name.toString())) {
                ++skipDepth;
                break;
            }
            const QString local = name.toString();
            if (rules.textElements.contains(local))
                ++textDepth;
            if (rules.tabElements.contains(local)) {
                out.append(QLatin1Char('\t'));
            } else if (rules.lineBreakElements.contains(local)) {
                out.append(QLatin1Char('\n'));
            } else if (!rules.spaceElement.isEmpty() && local == rules.spaceElement) {
                bool ok = false;
                int count = 1;
                for (const QXmlStreamAttribute& a : reader.attributes()) {
                    if (a.name() == QLatin1String("c"))
                        count = a.value().toInt(&ok);
                }
                out.append(QString(qBound(1, ok ? count : 1, kMaxSpaceRun), QLatin1Char(' ')));
            }
            if (auto it = rules.textAttributes.constFind(local); it != rules.textAttributes.constEnd()) {
                for (const QXmlStreamAttribute& a : reader.attributes()) {
                    if (a.name() == *it) {
                        out.append(a.value());
                        out.append(QLatin1Char('\t'));
                    }
                }
            }
            break;
        }
        case QXmlStreamReader::EndElement: {
            if (skipDepth > 0) {
                --skipDepth;
                break;
            }
            const QString local = reader.name().toString();
            if (rules.textElements.contains(local))
                --textDepth;
            if (rules.paragraphElements.contains(local))
                out.newline();
            break;
        }
        case QXmlStreamReader::Characters:
            if (skipDepth == 0 && (rules.textElements.isEmpty() || textDepth > 0)) {
                // Indentation between elements is layout, not text.
                if (rules.textElements.isEmpty() && reader.isWhitespace())
                    break;
                out.append(reader.text());
            }
            break;
        default:
            break;
        }
        if (out.full() || (++tokens % kCheckEvery == 0 && out.done()))
            return {};
    }
    if (reader.hasError() && out.text().size() == startSize)
        return contentError(ContentError::Unreadable,
                            QStringLiteral("malformed XML: %1 (line %2)").arg(reader.errorString()).arg(reader.lineNumber()));
    return {};
}

} // namespace platform
