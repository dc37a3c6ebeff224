#include "Platform/Kit/FontResolver.h"

#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <cmath>

namespace platform::kit {

namespace {

// Faces the themes name that Linux seldom has, and the families of like width that take their
// place; the first installed one wins.
struct Substitute {
    const char* name;
    const char* families[3];
};
constexpr Substitute kSubstitutes[] = {
    {"LucidaGrande", {"Open Sans", "DejaVu Sans", "Liberation Sans"}},
    {"Lucida Grande", {"Open Sans", "DejaVu Sans", "Liberation Sans"}},
    {"Geneva", {"DejaVu Sans", "Open Sans", "Liberation Sans"}},
    {"Helvetica", {"Liberation Sans", "DejaVu Sans", "Open Sans"}},
    {"HelveticaNeue", {"Liberation Sans", "DejaVu Sans", "Open Sans"}},
    {"Comic Sans MS", {"Comic Neue", "Open Sans", "DejaVu Sans"}},
    {"ComicSansMS", {"Comic Neue", "Open Sans", "DejaVu Sans"}},
};

struct StyleSuffix {
    const char* suffix;
    QFont::Weight weight;
    bool italic;
};
constexpr StyleSuffix kStyles[] = {
    {"Regular", QFont::Normal, false},   {"Bold", QFont::Bold, false},
    {"Semibold", QFont::DemiBold, false}, {"SemiBold", QFont::DemiBold, false},
    {"Light", QFont::Light, false},       {"ExtraBold", QFont::ExtraBold, false},
    {"Italic", QFont::Normal, true},      {"BoldItalic", QFont::Bold, true},
    {"LightItalic", QFont::Light, true},  {"SemiboldItalic", QFont::DemiBold, true},
};

bool familyInstalled(const QString& family)
{
    const QStringList families = QFontDatabase::families();
    for (const QString& f : families) {
        if (f.compare(family, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// "OpenSans" → "Open Sans": PostScript names drop the spaces of camel-cased family names.
QString spacedFamily(const QString& compact)
{
    QString out;
    for (int i = 0; i < compact.size(); ++i) {
        const QChar c = compact.at(i);
        if (i > 0 && c.isUpper() && compact.at(i - 1).isLower())
            out += QLatin1Char(' ');
        out += c;
    }
    return out;
}

QFont makeFont(const QString& family, qreal size, QFont::Weight weight, bool italic)
{
    QFont font(family);
    font.setPixelSize(std::max(1, int(std::lround(size))));
    font.setWeight(weight);
    font.setItalic(italic);
    return font;
}

} // namespace

int FontResolver::registerFontsIn(const QString& folder)
{
    int loaded = 0;
    const QDir dir(folder);
    const QStringList files = dir.entryList({QStringLiteral("*.ttf"), QStringLiteral("*.otf")}, QDir::Files, QDir::Name);
    for (const QString& file : files) {
        if (QFontDatabase::addApplicationFont(dir.filePath(file)) >= 0)
            ++loaded;
    }
    return loaded;
}

std::optional<QFont> FontResolver::fontNamed(const QString& name, qreal size)
{
    if (name.trimmed().isEmpty())
        return std::nullopt;

    QString base = name;
    QFont::Weight weight = QFont::Normal;
    bool italic = false;
    const int dash = name.lastIndexOf(QLatin1Char('-'));
    if (dash > 0) {
        const QString suffix = name.mid(dash + 1);
        for (const StyleSuffix& s : kStyles) {
            if (suffix == QLatin1String(s.suffix)) {
                base = name.left(dash);
                weight = s.weight;
                italic = s.italic;
                break;
            }
        }
    }
    if (base == name && name.endsWith(QLatin1String("Bold")) && !familyInstalled(name)) {
        // "LucidaGrandeBold" style names without a dash.
        base = name.chopped(4);
        weight = QFont::Bold;
    }

    for (const QString& candidate : {base, spacedFamily(base)}) {
        if (familyInstalled(candidate))
            return makeFont(candidate, size, weight, italic);
    }
    for (const Substitute& sub : kSubstitutes) {
        if (base.compare(QLatin1String(sub.name), Qt::CaseInsensitive) != 0)
            continue;
        for (const char* family : sub.families) {
            if (familyInstalled(QLatin1String(family)))
                return makeFont(QLatin1String(family), size, weight, italic);
        }
    }
    return std::nullopt;
}

QFont FontResolver::systemFont(qreal size)
{
    if (familyInstalled(QStringLiteral("Open Sans")))
        return makeFont(QStringLiteral("Open Sans"), size, QFont::Normal, false);
    return makeFont(QGuiApplication::font().family(), size, QFont::Normal, false);
}

QFont FontResolver::boldSystemFont(qreal size)
{
    QFont font = systemFont(size);
    font.setWeight(QFont::Bold);
    return font;
}

} // namespace platform::kit
