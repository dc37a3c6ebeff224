#include "Dialogs/Welcome/RateAppViewController.h"

#include "Controls/KPCoustomDrawBGView.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Kit/Canvas.h"
#include "Platform/Workspace/Workspace.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

using platform::localizedString;

namespace {

const QSize kPanelSize(440, 190);

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standardUserDefaults();
}

void postRemove()
{
    platform::NotificationCenter::defaultCenter().post(RateAppViewController::kRemoveRateViewNotification);
}

} // namespace

RateAppViewController::RateAppViewController(QWidget* host) : RateAppViewController(host, Options()) {}

RateAppViewController::RateAppViewController(QWidget* host, Options options)
    : QObject(host), m_host(host), m_options(std::move(options))
{
    m_view = new KPCoustomDrawBGView(host ? host->rect() : QRect(), host);
    m_view->setObjectName(QStringLiteral("RateAppView"));
    m_view->setAttribute(Qt::WA_NoMousePropagation);
    // Clicks outside the panel land here and go no further.
    m_view->setMouseEventSelector([](QEvent* event) { event->accept(); });
    m_view->setDrawBackgroudWithSelector([](KPCoustomDrawBGView* view, QPainter& painter, const QRectF&) {
        painter.fillRect(view->rect(), QColor(0, 0, 0, int(std::lround(0.6 * 255))));
    });

    m_contentView = new KPCoustomDrawBGView(QRect(QPoint(), kPanelSize), m_view);
    m_contentView->setDrawBackgroudWithSelector([](KPCoustomDrawBGView* view, QPainter& painter, const QRectF&) {
        platform::kit::Canvas canvas(painter, view->height());
        painter.setRenderHint(QPainter::Antialiasing);
        canvas.fillPath(platform::kit::Canvas::roundRectPath(QRectF(view->rect()), 7), QColor(238, 238, 238));
    });

    auto* layout = new QVBoxLayout(m_contentView);
    layout->setContentsMargins(24, 20, 24, 18);
    auto* title = new QLabel(localizedString(QStringLiteral("Enjoying Folivo 2?")), m_contentView);
    QFont bold = title->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() + 2);
    title->setFont(bold);
    auto* message = new QLabel(localizedString(QStringLiteral(
                                   "If you enjoy Folivo 2, would you mind taking a moment to rate it? Thanks for your support!")),
                               m_contentView);
    message->setWordWrap(true);
    for (QLabel* label : {title, message}) {
        label->setStyleSheet(QStringLiteral("color: #333333;"));
        layout->addWidget(label);
    }
    layout->addStretch();
    auto* buttons = new QHBoxLayout();
    m_btnCancel = new QPushButton(localizedString(QStringLiteral("No, Thanks")), m_contentView);
    m_btnRemind = new QPushButton(localizedString(QStringLiteral("Remind Me Later")), m_contentView);
    m_btnRate = new QPushButton(localizedString(QStringLiteral("Rate Folivo 2")), m_contentView);
    m_btnRate->setDefault(true);
    buttons->addWidget(m_btnCancel);
    buttons->addStretch();
    buttons->addWidget(m_btnRemind);
    buttons->addWidget(m_btnRate);
    layout->addLayout(buttons);

    connect(m_btnRate, &QPushButton::clicked, this, &RateAppViewController::btnRateClick);
    connect(m_btnRemind, &QPushButton::clicked, this, &RateAppViewController::btnRemindClick);
    connect(m_btnCancel, &QPushButton::clicked, this, &RateAppViewController::btnCancel);

    if (host)
        host->installEventFilter(this);
    layoutSubView();

    auto* effect = new QGraphicsOpacityEffect(m_view);
    effect->setOpacity(0);
    m_view->setGraphicsEffect(effect);
    auto* fade = new QPropertyAnimation(effect, "opacity", m_view);
    fade->setDuration(kFadeInMs);
    fade->setStartValue(0.0);
    fade->setEndValue(1.0);
    // The effect only costs while it fades.
    connect(fade, &QPropertyAnimation::finished, m_view, [view = m_view.data()] { view->setGraphicsEffect(nullptr); });
    m_view->show();
    m_view->raise();
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

RateAppViewController::~RateAppViewController()
{
    if (m_host)
        m_host->removeEventFilter(this);
    delete m_view.data();
}

bool RateAppViewController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_host && event->type() == QEvent::Resize && m_view) {
        m_view->setGeometry(m_host->rect());
        layoutSubView();
    }
    return QObject::eventFilter(watched, event);
}

void RateAppViewController::layoutSubView()
{
    if (!m_view)
        return;
    const QSize size = m_contentView->size();
    const int x = int(std::lround((m_view->width() - size.width()) / 2.0));
    const int y = int(std::lround((m_view->height() - size.height()) / 2.0));
    m_contentView->setGeometry(QRect(QPoint(x, y), size));
}

void RateAppViewController::btnRateClick()
{
    // Taken before the post: its observer may delete this controller.
    const QUrl page = m_options.hosts.linkURL(MakerHosts::kRatePath);
    platform::Workspace& workspace = m_options.workspace ? *m_options.workspace : platform::Workspace::shared();
    defaults().setBool(true, QStringLiteral("Bool_Rated"));
    defaults().synchronize();
    postRemove();
    if (!page.isValid())
        return;
    if (auto opened = workspace.openURL(page); !opened)
        KPLogLogMessage(QStringLiteral("The rating page could not be opened: %1").arg(opened.error().toString()));
}

void RateAppViewController::btnRemindClick()
{
    defaults().setInteger(0, QStringLiteral("Int_RunningCount"));
    defaults().synchronize();
    postRemove();
}

void RateAppViewController::btnCancel()
{
    defaults().setBool(true, QStringLiteral("Bool_Rated"));
    defaults().synchronize();
    postRemove();
}
