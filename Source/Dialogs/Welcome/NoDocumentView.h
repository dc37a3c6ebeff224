// The view shown in place of the grid while the library holds no documents: a picture, the
// title "No Documents", two hint lines, a drawn plus sign and a "Learn More" link that lights
// up under the pointer and opens the maker's page. Without a configured link host the link is
// not drawn and nothing is clickable.
//
// Geometry follows the view's y-up coordinates; layout() computes every rectangle from the
// current size and theme ("NoDocumentView" group, "blank_document" picture), so drawing and
// hit-testing read the same numbers. A missing theme member skips its picture or offset;
// missing text styles fall back to the application font.
//
// Threads: main thread.
#pragma once

#include "Dialogs/Welcome/MakerHosts.h"
#include "Platform/Foundation/NotificationCenter.h"

#include <QPointF>
#include <QRectF>
#include <QString>
#include <QWidget>

namespace platform {
class Workspace;
}

class NoDocumentView : public QWidget {
    Q_OBJECT
public:
    // The plus sign sits this much further right except for Simplified Chinese, whose hint line
    // leaves its gap earlier.
    static constexpr qreal kPlusLanguageShift = 24;
    // The hot area reaches this far right of the link text, over its arrow picture.
    static constexpr qreal kHotAreaExtra = 22;

    struct Options {
        MakerHosts hosts = MakerHosts::configured();
        platform::Workspace* workspace = nullptr; // null: the shared workspace
    };

    struct Layout {
        QRectF title, image, desc1, desc2, learnMore, learnMoreImage;
        QPointF plus;        // y-up corner the two bars of the plus sign start from
        bool hasImage = false;
        bool hasLink = false;
        bool hasLinkImage = false;
        // The link with its arrow: what the pointer lights up and clicks.
        QRectF hotArea() const { return hasLink ? learnMore.adjusted(0, 0, kHotAreaExtra, 0) : QRectF(); }
    };

    explicit NoDocumentView(QWidget* parent = nullptr);
    NoDocumentView(Options options, QWidget* parent);

    Layout layout() const;
    bool isMouseIn() const { return m_isMouseIn; }
    const QString& preferredLang() const { return m_preferredLang; }

    // The first of the user default "AppleLanguages", else the system's first interface language.
    static QString preferredLanguage();
    // "zh-Hans", "zh-Hans-CN", "zh-CN", "zh_SG" …: Chinese in the simplified script.
    static bool isSimplifiedChinese(const QString& language);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void setMouseIn(bool in);

    Options m_options;
    QString m_noDocumentStr;
    QString m_descStr1;
    QString m_descStr2;
    QString m_learnMoreStr;
    QString m_preferredLang;
    bool m_isMouseIn = false;
    platform::ObserverToken m_themeObserver;
};
