// A picture of the first lines of a text, drawn as a page, for documents whose only
// "look" is their words (plain text, source code, RTF, HTML, mail).
//
// Drawn with QPainter on a QImage, which is safe off the main thread; the page has the
// proportions of A4 paper and the type is sized relative to the page, so the picture reads the
// same at any preview size.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>

namespace platform {

class TextPagePreview {
public:
    // Tuning: characters of the text that can appear on one page at most.
    static constexpr int kMaxChars = 4000;

    // The page fitted within box; null for an empty box.
    static QImage render(const QString& text, const QSize& box);
};

} // namespace platform
