// The window as it is drawn, in every generated theme, with the window active and inactive:
// each glyph and text the chrome shows stands out from what is behind it (a contrast of 4.5:1
// at least, measured in grabs of the window). Setting FOLIVO_GRAB_DIR keeps the grabs for a look.
#include "MainWindowTestSupport.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "Controls/KPHorizontalStretchButton.h"
#include "Controls/VQTitlebarWindow.h"
#include "Controls/VQTitlebarView.h"
#include "MainWindow/AppMenuController.h"
#include "MainWindow/MainWindowParts.h"
#include "SideBar/SideBarNodeType.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QToolButton>
#include <cmath>

namespace {

using namespace mainwindowtest;

const QStringList kThemes{"gray", "light", "dark", "blue", "red", "green", "yellow"};
constexpr double kMinimumContrast = 4.5;

double channel(double c)
{
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double relativeLuminance(QRgb c)
{
    return 0.2126 * channel(qRed(c) / 255.0) + 0.7152 * channel(qGreen(c) / 255.0) + 0.0722 * channel(qBlue(c) / 255.0);
}

double contrast(QRgb a, QRgb b)
{
    const double la = relativeLuminance(a), lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

struct Measure {
    double ratio = 0;
    QRgb background = 0, ink = 0;
};

// The ground is what lies along the rectangle's edge (its most frequent colour); the ink is the
// pixel inside that differs most from it, so antialiased edges never lower the figure.
Measure measure(const QImage& image, const QRect& rect)
{
    const QRect r = rect.intersected(image.rect());
    Measure m;
    if (r.width() < 3 || r.height() < 3)
        return m;
    QHash<QRgb, int> edge;
    for (int x = r.left(); x <= r.right(); ++x) {
        ++edge[image.pixel(x, r.top())];
        ++edge[image.pixel(x, r.bottom())];
    }
    for (int y = r.top(); y <= r.bottom(); ++y) {
        ++edge[image.pixel(r.left(), y)];
        ++edge[image.pixel(r.right(), y)];
    }
    int most = -1;
    for (auto it = edge.cbegin(); it != edge.cend(); ++it)
        if (it.value() > most) {
            most = it.value();
            m.background = it.key();
        }
    for (int y = r.top() + 1; y < r.bottom(); ++y)
        for (int x = r.left() + 1; x < r.right(); ++x) {
            const double c = contrast(image.pixel(x, y), m.background);
            if (c > m.ratio) {
                m.ratio = c;
                m.ink = image.pixel(x, y);
            }
        }
    return m;
}

class MainWindowLookTest : public MainWindowFixture {
protected:
    void TearDown() override
    {
        KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("gray"));
        MainWindowFixture::TearDown();
    }

    // Rectangle of widget (or of part of it) in the window's grab, in device pixels.
    static QRect inGrab(QWidget* window, QWidget* widget, QRect part = {})
    {
        if (part.isNull())
            part = widget->rect();
        const double dpr = window->devicePixelRatioF();
        const QRect r(widget->mapTo(window, part.topLeft()), part.size());
        return QRect(int(r.x() * dpr), int(r.y() * dpr), int(r.width() * dpr), int(r.height() * dpr));
    }

    void expectReadable(const QImage& image, const QString& what, const QRect& rect)
    {
        const Measure m = measure(image, rect);
        EXPECT_GE(m.ratio, kMinimumContrast) << qPrintable(what) << ": ink " << qPrintable(QColor(m.ink).name())
                                             << " on " << qPrintable(QColor(m.background).name());
    }

    static void keep(const QImage& image, const QString& name)
    {
        const QString dir = qEnvironmentVariable("FOLIVO_GRAB_DIR");
        if (!dir.isEmpty() && QDir().mkpath(dir))
            image.save(dir + u'/' + name + QStringLiteral(".png"));
    }
};

TEST_F(MainWindowLookTest, EveryGlyphAndTextOfTheChromeStandsOutInEveryTheme)
{
    addDocument({.title = QStringLiteral("Alpha")});
    addDocument({.title = QStringLiteral("Beta"), .extension = QStringLiteral("txt")});
    MainWindowController& c = open();
    VQTitlebarWindow* window = c.window();
    WindowChrome& chrome = c.parts().chrome;
    auto* menuBar = window->titleBarView()->findChild<QMenuBar*>();
    ASSERT_TRUE(menuBar);
    ASSERT_TRUE(testsupport::spinUntil([&] { return chrome.labItemCount()->isVisible(); }));

    for (const QString& theme : kThemes) {
        ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(theme));
        for (const bool active : {true, false}) {
            SCOPED_TRACE(QStringLiteral("%1, %2").arg(theme, active ? "active" : "inactive").toStdString());
            if (active) {
                window->activateWindow();
                QApplication::setActiveWindow(window);
            } else {
                QApplication::setActiveWindow(nullptr);
            }
            ASSERT_TRUE(testsupport::spinUntil([&] { return window->isActiveWindow() == active; }));
            QCoreApplication::processEvents();
            const QImage image = window->grab().toImage();
            keep(image, QStringLiteral("%1-%2").arg(theme, active ? "active" : "inactive"));

            for (QToolButton* glyph : {chrome.btnShowHideSideBar(), chrome.btnShowHidePropertyView(), chrome.btnViewMode()})
                if (glyph->isVisible())
                    expectReadable(image, glyph->toolTip(), inGrab(window, glyph));
            for (QAction* title : menuBar->actions())
                expectReadable(image, QStringLiteral("menu title ") + title->text(),
                               inGrab(window, menuBar, menuBar->actionGeometry(title)));
            // The bar's centred icon: its glyph against its own disc.
            QWidget* bar = window->titleBarView();
            const QRect icon(bar->width() / 2 - 9, bar->height() / 2 - 9, 18, 18);
            expectReadable(image, QStringLiteral("title-bar icon"), inGrab(window, bar, icon));
            QLabel* status = chrome.labItemCount();
            expectReadable(image, QStringLiteral("status text"), inGrab(window, status));
        }
    }
}

} // namespace
