#include "FileIcons.h"

#include "ThemeArt.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <cstdio>

namespace themegen {

namespace {

struct Kind {
    QString id;
    QString extension;   // the first one listed
    QString group;
};

// Reads the "SupportList" entries (ID, Extension, Group) of the supported-format list. The
// generator only needs these three keys, so a flat scan of the XML is enough.
QList<Kind> readKinds(const QString& path)
{
    QList<Kind> kinds;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return kinds;
    QXmlStreamReader xml(&file);
    Kind current;
    QString key;
    int depth = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == QLatin1String("dict") && ++depth == 2)
                current = Kind{};
            else if (xml.name() == QLatin1String("key"))
                key = xml.readElementText();
            else if (depth == 2 && (xml.name() == QLatin1String("integer") || xml.name() == QLatin1String("string"))) {
                const QString value = xml.readElementText();
                if (key == QLatin1String("ID"))
                    current.id = value;
                else if (key == QLatin1String("Extension"))
                    current.extension = value.section(QLatin1Char(','), 0, 0).trimmed().toLower();
                else if (key == QLatin1String("Group"))
                    current.group = value;
            }
        } else if (xml.isEndElement() && xml.name() == QLatin1String("dict")) {
            if (depth-- == 2 && !current.id.isEmpty())
                kinds << current;
        }
    }
    return kinds;
}

bool writeIcon(const QString& path, const QColor& color, const Kind& kind, int scale)
{
    QImage image(QSize(kFileIconSize, kFileIconSize) * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.scale(scale, scale);
    drawFileIcon(p, QSizeF(kFileIconSize, kFileIconSize), color, kind.group, kind.extension);
    p.end();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit()) {
        std::fprintf(stderr, "themegen: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

bool generateFileIcons(const QString& resources, const QString& supportListPath)
{
    const QString folder = resources + QStringLiteral("/fileicon");
    if (!QDir().mkpath(folder))
        return false;
    QList<Kind> kinds = readKinds(supportListPath);
    kinds << Kind{QStringLiteral("-1"), QString(), QString()};
    for (const Kind& kind : kinds) {
        const QColor color = fileTypeColor(kind.extension.toLatin1().constData());
        if (!writeIcon(QStringLiteral("%1/%2.png").arg(folder, kind.id), color, kind, 1) ||
            !writeIcon(QStringLiteral("%1/%2@2x.png").arg(folder, kind.id), color, kind, 2))
            return false;
    }
    return true;
}

} // namespace themegen
