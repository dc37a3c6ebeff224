#include "Scanner/UI/ScanViewController.h"

#include "Controls/KPCoustomDrawBGView.h"
#include "Scanner/UI/KPScanner.h"

#include <QGraphicsOpacityEffect>
#include <QPainter>
#include <QProgressBar>
#include <QVBoxLayout>

ScanViewController::ScanViewController(platform::ScannerService* service, QWidget* parent)
    : m_browser(std::make_unique<KPScanner>(service))
{
    m_view = new KPCoustomDrawBGView(QRect(), parent);
    m_view->setObjectName(QStringLiteral("ScanView"));
    auto* alpha = new QGraphicsOpacityEffect(m_view);
    alpha->setOpacity(kAlpha);
    m_view->setGraphicsEffect(alpha);
    auto draw = [this](KPCoustomDrawBGView* view, QPainter& painter, const QRectF& dirty) { onDrawBG(view, painter, dirty); };
    m_view->setDrawBackgroudWithSelector(draw);

    // The list keeps its inset whatever size the view takes.
    auto* layout = new QVBoxLayout(m_view);
    layout->setContentsMargins(kListInset, kListInset, kListInset, kListInset);
    m_deviceList = new KPCoustomDrawBGView(QRect(), m_view);
    m_deviceList->setDrawBackgroudWithSelector(draw);
    layout->addWidget(m_deviceList);

    auto* listLayout = new QVBoxLayout(m_deviceList);
    m_progress = new QProgressBar(m_deviceList);
    m_progress->setRange(0, 0); // turns until told otherwise
    m_progress->setTextVisible(false);
    m_progress->setFixedWidth(120);
    listLayout->addWidget(m_progress, 0, Qt::AlignCenter);

    m_browser->searchDevice();
}

ScanViewController::~ScanViewController()
{
    if (m_view && !m_view->parent())
        delete m_view.data();
}

const QList<platform::ScannerDevice>& ScanViewController::devices() const
{
    return m_browser->devices();
}

void ScanViewController::onDrawBG(KPCoustomDrawBGView* view, QPainter& painter, const QRectF&)
{
    // The list lies on the black it is inset in; only the panel itself is filled.
    if (view == m_view)
        painter.fillRect(view->rect(), Qt::black);
}
