#include "ControlsTestSupport.h"

#include "Theme/KPThemeManager.h"
#include "Theme/KPThemeResourcer.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <gtest/gtest.h>

namespace controlstest {

namespace {

const std::pair<char, QColor> kStateColors[] = {{'N', kNormal}, {'O', kOver}, {'D', kDown}, {'H', kHighlight}, {'X', kDisabled}};

const KPThemeSheet& solidSheet()
{
    static const KPThemeSheet sheet = [] {
        KPThemeSheet s;
        s.image = QImage(50, 10, QImage::Format_ARGB32_Premultiplied);
        QPainter p(&s.image);
        for (int i = 0; i < 5; ++i)
            p.fillRect(i * 10, 0, 10, 10, kStateColors[i].second);
        return s;
    }();
    return sheet;
}

// Every control test runs against the shared manager on a generated theme; the logger prints
// rather than capturing the test's output.
class ThemeEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        KPLogSetOptionFlags(nullptr, kKPLogOptionLogToConsole);
        ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("gray")));
    }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new ThemeEnvironment);

} // namespace

std::unique_ptr<KPMultiSprite> solidMultiSprite(const char* states, const QString& name)
{
    const char* keys[] = {"Normal", "Over", "Down", "Highlight", "Disabled"};
    QVariantMap desc{{QStringLiteral("Type"), QStringLiteral("MultiSprite")}};
    for (int i = 0; i < 5; ++i) {
        if (std::strchr(states, kStateColors[i].first))
            desc.insert(QLatin1String(keys[i]), QStringLiteral("{{%1, 0}, {10, 10}}").arg(i * 10));
    }
    auto sprite = std::make_unique<KPMultiSprite>(desc, name, &solidSheet());
    sprite->load();
    return sprite;
}

QImage render(QWidget& widget, qreal scale)
{
    QImage img(widget.size() * scale, QImage::Format_ARGB32_Premultiplied);
    img.setDevicePixelRatio(scale);
    img.fill(Qt::transparent);
    widget.render(&img, QPoint(), QRegion(), QWidget::RenderFlags());
    return img;
}

QColor pixel(QWidget& widget, QPoint at)
{
    return render(widget).pixelColor(at);
}

void enter(QWidget& widget, QPoint at)
{
    QEnterEvent event(at, widget.mapTo(widget.window(), at), widget.mapToGlobal(at));
    QApplication::sendEvent(&widget, &event);
}

void leave(QWidget& widget)
{
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(&widget, &event);
}

void move(QWidget& widget, QPoint at, bool buttonHeld)
{
    QMouseEvent event(QEvent::MouseMove, QPointF(at), widget.mapToGlobal(QPointF(at)), Qt::NoButton,
                      buttonHeld ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

} // namespace controlstest
