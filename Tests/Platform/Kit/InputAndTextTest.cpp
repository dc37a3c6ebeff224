#include "Platform/Kit/CommandDispatcher.h"
#include "Platform/Kit/FontResolver.h"
#include "Platform/Kit/Input.h"
#include "Platform/Kit/Pasteboard.h"
#include "Platform/Kit/TextAttributes.h"
#include "Platform/Kit/TrackingArea.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFontDatabase>
#include <gtest/gtest.h>

using namespace platform::kit;

TEST(Input, MacModifiersMapToLinuxKeys)
{
    EXPECT_EQ(Input::fromQt(Qt::ControlModifier), Modifiers(Modifier::Command));
    EXPECT_EQ(Input::fromQt(Qt::AltModifier | Qt::ShiftModifier), Modifier::Option | Modifier::Shift);
    EXPECT_EQ(Input::fromQt(Qt::MetaModifier), Modifiers(Modifier::Control));
    EXPECT_EQ(Input::toQt(Modifier::Command | Modifier::Option), Qt::ControlModifier | Qt::AltModifier);

    Input::setCurrentOverride(Modifier::Command | Modifier::Option);
    EXPECT_EQ(Input::current(), Modifier::Command | Modifier::Option);
    Input::setCurrentOverride(std::nullopt);

    const QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    const QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
    const QKeyEvent a(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    const QKeyEvent shift(QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier);
    EXPECT_EQ(Input::keyCharacter(&esc), keychar::Escape);
    EXPECT_EQ(Input::keyCharacter(&up), keychar::UpArrow);
    EXPECT_EQ(Input::keyCharacter(&a), u'a');
    EXPECT_EQ(Input::keyCharacter(&shift), 0);

    const QMouseEvent right(QEvent::MouseButtonPress, QPointF(1, 1), QPointF(1, 1), Qt::RightButton, Qt::RightButton, Qt::NoModifier);
    const QMouseEvent ctrlClick(QEvent::MouseButtonPress, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton, Qt::LeftButton, Qt::MetaModifier);
    const QMouseEvent cmdClick(QEvent::MouseButtonPress, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton, Qt::LeftButton, Qt::ControlModifier);
    EXPECT_TRUE(Input::isContextClick(&right));
    EXPECT_TRUE(Input::isContextClick(&ctrlClick));
    EXPECT_FALSE(Input::isContextClick(&cmdClick));
}

TEST(CommandDispatcher, LatestLiveHandlerAnswers)
{
    CommandDispatcher& commands = CommandDispatcher::shared();
    QStringList calls;
    QStringList unanswered;
    commands.setUnansweredHook([&](const QString& name) { unanswered << name; });
    auto window = commands.add(QStringLiteral("test.copy"), [&](const QVariant&) { calls << QStringLiteral("window"); });
    bool enabled = true;
    {
        auto focused = commands.add(QStringLiteral("test.copy"), [&](const QVariant& s) { calls << s.toString(); },
                                    [&] { return enabled; });
        EXPECT_TRUE(commands.perform(QStringLiteral("test.copy"), QStringLiteral("view")));
        enabled = false;
        EXPECT_FALSE(commands.canPerform(QStringLiteral("test.copy")));
        EXPECT_FALSE(commands.perform(QStringLiteral("test.copy")));
    }
    EXPECT_TRUE(commands.perform(QStringLiteral("test.copy")));
    window.reset();
    EXPECT_FALSE(commands.perform(QStringLiteral("test.copy")));
    EXPECT_FALSE(commands.perform(QStringLiteral("test.unknown")));
    EXPECT_EQ(calls, QStringList({QStringLiteral("view"), QStringLiteral("window")}));
    // Only commands nobody holds reach the hook; a disabled handler still answers.
    EXPECT_EQ(unanswered, QStringList({QStringLiteral("test.copy"), QStringLiteral("test.unknown")}));
    commands.setUnansweredHook({});
}

TEST(TextAndFonts, FittedTextAndFontResolution)
{
    TextAttributes attrs;
    attrs.lineBreakMode = 4;
    attrs.font.setPixelSize(12);
    EXPECT_LT(textSize(fittedText(QString(200, QLatin1Char('x')), attrs, 50), attrs).width(), 51);

    EXPECT_FALSE(FontResolver::fontNamed(QStringLiteral("NoSuchFace-Bold"), 12).has_value());
    EXPECT_FALSE(FontResolver::fontNamed(QString(), 12).has_value());
    // Open Sans as the bundle ships it (copied into the build's font folder).
    FontResolver::registerFontsIn(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/folivo2/font"));
    if (QFontDatabase::families().contains(QStringLiteral("Open Sans"))) {
        const auto bold = FontResolver::fontNamed(QStringLiteral("OpenSans-Bold"), 13);
        ASSERT_TRUE(bold.has_value());
        EXPECT_EQ(bold->family(), QStringLiteral("Open Sans"));
        EXPECT_EQ(bold->weight(), QFont::Bold);
        EXPECT_EQ(bold->pixelSize(), 13);
        EXPECT_TRUE(FontResolver::fontNamed(QStringLiteral("LucidaGrande"), 12).has_value());
    }
    EXPECT_EQ(pasteboard::mimeTypeFor(QStringLiteral("KPTokenEditorPboardType")), pasteboard::kTokenEditor);
    EXPECT_EQ(pasteboard::mimeTypeFor(QStringLiteral("other/type")), QStringLiteral("other/type"));
}

TEST(TrackingArea, FixedInflatedRectangleInYUp)
{
    QWidget view;
    view.resize(100, 100);
    QStringList seen;
    auto* area = new TrackingArea(&view, {[&] { seen << QStringLiteral("in"); }, [&] { seen << QStringLiteral("out"); },
                                          [&](QPointF p) { seen << QStringLiteral("move %1,%2").arg(p.x()).arg(p.y()); }},
                                  true);
    area->setRect(QRectF(0, 0, 20, 20));   // the bottom-left corner
    area->setInflation(-4);
    auto moveTo = [&](QPointF qt) {
        QMouseEvent e(QEvent::MouseMove, qt, qt, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&view, &e);
    };
    moveTo(QPointF(10, 10));    // top-left on screen: outside
    moveTo(QPointF(10, 90));    // y-up (10, 10): inside
    moveTo(QPointF(2, 90));     // in the trimmed margin
    EXPECT_EQ(seen, QStringList({QStringLiteral("in"), QStringLiteral("move 10,10"), QStringLiteral("out")}));
    EXPECT_TRUE(view.hasMouseTracking());
    delete area;
    EXPECT_FALSE(view.hasMouseTracking());
}
