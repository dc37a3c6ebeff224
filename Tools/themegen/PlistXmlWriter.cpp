#include "PlistXmlWriter.h"

#include <QXmlStreamWriter>

namespace themegen {

namespace {

void writeValue(QXmlStreamWriter& w, const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::QVariantMap: {
        w.writeStartElement(QStringLiteral("dict"));
        const QVariantMap map = v.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            w.writeTextElement(QStringLiteral("key"), it.key());
            writeValue(w, it.value());
        }
        w.writeEndElement();
        break;
    }
    case QMetaType::QVariantList:
        w.writeStartElement(QStringLiteral("array"));
        for (const QVariant& item : v.toList())
            writeValue(w, item);
        w.writeEndElement();
        break;
    case QMetaType::Bool:
        w.writeEmptyElement(v.toBool() ? QStringLiteral("true") : QStringLiteral("false"));
        break;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        w.writeTextElement(QStringLiteral("integer"), QString::number(v.toLongLong()));
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        w.writeTextElement(QStringLiteral("real"), QString::number(v.toDouble(), 'g', 17));
        break;
    default:
        w.writeTextElement(QStringLiteral("string"), v.toString());
        break;
    }
}

} // namespace

QByteArray xmlPropertyList(const QVariant& root)
{
    QByteArray out;
    QXmlStreamWriter w(&out);
    w.setAutoFormatting(true);
    w.setAutoFormattingIndent(1);
    w.writeStartDocument();
    w.writeDTD(QStringLiteral("<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                              "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"));
    w.writeStartElement(QStringLiteral("plist"));
    w.writeAttribute(QStringLiteral("version"), QStringLiteral("1.0"));
    writeValue(w, root);
    w.writeEndElement();
    w.writeEndDocument();
    return out;
}

} // namespace themegen
