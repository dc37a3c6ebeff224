// Small hand-made themes for the loader and manager tests: a style list and 1x/2x sheets whose
// 8-point cells are filled with distinct colours, so a cut can be checked by its pixels.
#pragma once

#include <QColor>
#include <QString>
#include <QVariantMap>

namespace themefixtures {

// The colour of the 8 x 8 cell at column c, row r of the fixture sheets.
QColor cellColor(int c, int r);

// Writes <folder>/theme/<name>.plist with the given root, and the sheets unless disabled.
void writeTheme(const QString& resourceFolder, const QString& name, const QVariant& root, bool sheet1x = true,
                bool sheet2x = true);

// A root with one sprite "Cell" (cell 1,1), a multi-sprite "Button" (Normal cell 0,0, Over
// cell 1,0), a colour and a group "Group" with a text style and a sprite.
QVariantMap basicRoot(const QString& colorText = QStringLiteral("336699"));

// Captures the theme engine's system-log lines while alive.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    QStringList lines() const;
};

} // namespace themefixtures
