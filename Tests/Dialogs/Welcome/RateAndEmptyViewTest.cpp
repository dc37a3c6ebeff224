// The rate prompt's buttons and what they store, and the empty-library view's geometry, hover
// and link, with a recording workspace.
#include "WelcomeTestSupport.h"

#include "Controls/KPCoustomDrawBGView.h"
#include "Dialogs/Welcome/NoDocumentView.h"
#include "Dialogs/Welcome/RateAppViewController.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Kit/Scheduler.h"
#include "Support/TestSupport.h"
#include "Theme/KPThemeManager.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standardUserDefaults();
}

class RateAppTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        host.resize(900, 600);
        host.show();
        defaults().setBool(false, QStringLiteral("Bool_Rated"));
        defaults().setInteger(7, QStringLiteral("Int_RunningCount"));
        observer = platform::NotificationCenter::defaultCenter().addObserver(
            RateAppViewController::kRemoveRateViewNotification, [this](const platform::Notification&) {
                ++removals;
                if (deleteOnRemove)
                    delete controller.data(); // as a window may, right inside the post
            });
    }

    RateAppViewController* make()
    {
        RateAppViewController::Options options;
        options.hosts = {QString(), QStringLiteral("www.example.org")};
        options.workspace = &recorder.workspace;
        controller = new RateAppViewController(&host, options);
        return controller;
    }

    platform::kit::VirtualScheduler scheduler;
    QWidget host;
    welcometest::RecordingWorkspace recorder;
    platform::ObserverToken observer;
    QPointer<RateAppViewController> controller;
    int removals = 0;
    bool deleteOnRemove = false;
};

TEST_F(RateAppTest, EachButtonStoresItsAnswerAndAsksToBeRemoved)
{
    make()->remindButton()->click();
    EXPECT_EQ(defaults().integerForKey(QStringLiteral("Int_RunningCount")), 0);
    EXPECT_FALSE(defaults().boolForKey(QStringLiteral("Bool_Rated")));
    EXPECT_EQ(removals, 1);
    EXPECT_TRUE(recorder.launcher.launches.isEmpty());
    delete controller.data();

    defaults().setInteger(7, QStringLiteral("Int_RunningCount"));
    make()->cancelButton()->click();
    EXPECT_TRUE(defaults().boolForKey(QStringLiteral("Bool_Rated")));
    EXPECT_EQ(defaults().integerForKey(QStringLiteral("Int_RunningCount")), 7);
    EXPECT_EQ(removals, 2);
    EXPECT_TRUE(recorder.launcher.launches.isEmpty());
    delete controller.data();

    // The window removes the prompt inside the post: the rating page still opens.
    defaults().setBool(false, QStringLiteral("Bool_Rated"));
    deleteOnRemove = true;
    make()->rateButton()->click();
    EXPECT_TRUE(controller.isNull());
    EXPECT_TRUE(defaults().boolForKey(QStringLiteral("Bool_Rated")));
    EXPECT_EQ(removals, 3);
    EXPECT_TRUE(recorder.opened(QStringLiteral("https://www.example.org/fv2rate")));
    EXPECT_EQ(host.findChild<KPCoustomDrawBGView*>(), nullptr);
}

TEST_F(RateAppTest, TheLayerSwallowsClicksMeantForTheWindowAndKeepsThePanelCentred)
{
    auto* below = new QPushButton(QStringLiteral("below"), &host);
    below->setGeometry(10, 10, 80, 30);
    below->show();
    int clicks = 0;
    QObject::connect(below, &QPushButton::clicked, [&] { ++clicks; });
    make();
    scheduler.advance(RateAppViewController::kFadeInMs);
    QTest::mouseClick(host.childAt(QPoint(20, 20)), Qt::LeftButton);
    EXPECT_EQ(clicks, 0);

    host.resize(1001, 701);
    const QRect panel = controller->contentView()->geometry();
    EXPECT_LE(std::abs(panel.left() - (1001 - panel.right() - 1)), 1);
    EXPECT_LE(std::abs(panel.top() - (701 - panel.bottom() - 1)), 1);
    EXPECT_EQ(controller->view()->geometry(), QRect(0, 0, 1001, 701));
}

TEST(RateAppOfferTest, OfferedOnlyWithAUsableLinkHost)
{
    EXPECT_FALSE(RateAppViewController::isOffered(MakerHosts{}));
    EXPECT_FALSE(RateAppViewController::isOffered(MakerHosts{QStringLiteral("welcome.example"), QString()}));
    EXPECT_FALSE(RateAppViewController::isOffered(MakerHosts{{}, QStringLiteral("ftp://files.example.org")}));
    EXPECT_FALSE(RateAppViewController::isOffered(MakerHosts{{}, QStringLiteral("https://www.example.org/some/path")}));
    EXPECT_TRUE(RateAppViewController::isOffered(MakerHosts{{}, QStringLiteral("www.example.org")}));
    EXPECT_EQ(MakerHosts({{}, QStringLiteral("http://127.0.0.1:8080")}).linkURL(MakerHosts::kLearnMorePath),
              QUrl(QStringLiteral("http://127.0.0.1:8080/fv2lm")));
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

class NoDocumentViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("gray"))); }

    void TearDown() override { defaults().setObject(QVariant(), QStringLiteral("AppleLanguages")); }

    std::unique_ptr<NoDocumentView> make(const QString& language, const QString& linkHost = QStringLiteral("www.example.org"))
    {
        defaults().setObject(QVariantList{language}, QStringLiteral("AppleLanguages"));
        NoDocumentView::Options options;
        options.hosts = {QString(), linkHost};
        options.workspace = &recorder.workspace;
        auto view = std::make_unique<NoDocumentView>(options, nullptr);
        view->resize(700, 500);
        return view;
    }

    // Sends a mouse event at a y-up point of the view.
    static void send(QWidget& view, QEvent::Type type, const QPointF& up)
    {
        const QPointF qt(up.x(), view.height() - up.y());
        QMouseEvent event(type, qt, view.mapToGlobal(qt), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&view, &event);
    }

    static void settle()
    {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }

    welcometest::RecordingWorkspace recorder;
};

TEST_F(NoDocumentViewTest, ThePiecesStackCentredInsideTheViewAndThePlusMovesForSimplifiedChinese)
{
    const auto english = make(QStringLiteral("en"));
    const NoDocumentView::Layout l = english->layout();
    const QRectF bounds(0, 0, 700, 500);
    for (const QRectF& piece : {l.title, l.image, l.desc1, l.desc2, l.learnMore, l.learnMoreImage}) {
        EXPECT_TRUE(bounds.contains(piece)) << piece.x() << "," << piece.y();
        if (piece != l.learnMoreImage) {
            EXPECT_LE(std::abs(piece.left() - (700 - piece.right())), 1.0);
        }
    }
    ASSERT_TRUE(l.hasImage && l.hasLink && l.hasLinkImage);
    // From the top: picture, title, the two hint lines, the link (y grows upwards).
    EXPECT_GE(l.image.bottom(), l.title.top());
    EXPECT_LT(l.desc1.top(), l.title.top());
    EXPECT_LT(l.desc2.top(), l.desc1.top());
    EXPECT_EQ(l.learnMore.top(), l.desc2.top() - 40);
    EXPECT_EQ(l.learnMoreImage.left(), l.learnMore.right() + 2);

    for (const char* chinese : {"zh-Hans-CN", "zh-CN", "zh-Hans"})
        EXPECT_EQ(make(QLatin1String(chinese))->layout().plus.x(), l.plus.x() - NoDocumentView::kPlusLanguageShift) << chinese;
    for (const char* other : {"zh-TW", "zh-Hant-HK", "de", ""})
        EXPECT_EQ(make(QLatin1String(other))->layout().plus.x(), l.plus.x()) << other;
}

TEST_F(NoDocumentViewTest, TheLinkRedrawsOnceOnEntryAndOnceOnExitAndOpensItsPage)
{
    auto view = make(QStringLiteral("en"));
    PaintCounter counter;
    view->installEventFilter(&counter);
    view->show();
    ASSERT_TRUE(testsupport::spinUntil([&] { return counter.paints > 0; }));
    settle();
    counter.paints = 0;

    const QRectF hot = view->layout().hotArea();
    send(*view, QEvent::MouseMove, hot.center());
    ASSERT_TRUE(testsupport::spinUntil([&] { return counter.paints == 1; }));
    EXPECT_TRUE(view->isMouseIn());
    send(*view, QEvent::MouseMove, hot.center() + QPointF(3, 1));
    send(*view, QEvent::MouseMove, QPointF(hot.right() - 1, hot.center().y())); // over the arrow
    settle();
    EXPECT_EQ(counter.paints, 1);

    send(*view, QEvent::MouseMove, QPointF(hot.right() + 5, hot.center().y()));
    ASSERT_TRUE(testsupport::spinUntil([&] { return counter.paints == 2; }));
    send(*view, QEvent::MouseMove, QPointF(5, 5));
    settle();
    EXPECT_EQ(counter.paints, 2);
    EXPECT_FALSE(view->isMouseIn());

    send(*view, QEvent::MouseButtonPress, QPointF(5, 5));
    EXPECT_TRUE(recorder.launcher.launches.isEmpty());
    send(*view, QEvent::MouseButtonPress, hot.center());
    EXPECT_TRUE(recorder.opened(QStringLiteral("https://www.example.org/fv2lm")));
}

TEST_F(NoDocumentViewTest, WithoutALinkHostThereIsNoLinkToLightOrClick)
{
    auto view = make(QStringLiteral("en"), QString());
    const NoDocumentView::Layout l = view->layout();
    EXPECT_FALSE(l.hasLink);
    EXPECT_TRUE(l.hotArea().isEmpty());
    // Where the link would be.
    const QPointF where(350, l.desc2.top() - 35);
    send(*view, QEvent::MouseMove, where);
    EXPECT_FALSE(view->isMouseIn());
    send(*view, QEvent::MouseButtonPress, where);
    EXPECT_TRUE(recorder.launcher.launches.isEmpty());
}

} // namespace
