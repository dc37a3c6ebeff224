#include "Tools/Sources/SourceSetupViewController.h"

#include "Tools/Sources/IndexFolderType.h"
#include "Tools/Sources/SourceItemViewController.h"
#include "Tools/Sources/SourceiCloudSetupWindowController.h"

#include "Controls/KPCoustomDrawBGView.h"
#include "Platform/Kit/Canvas.h"

#include <QPushButton>

using platform::kit::Canvas;

namespace {

const QColor kBorderColor(201, 201, 201);
const QColor kICloudLineColor(197, 197, 197);
const QColor kFirstRowColor(244, 244, 244);

} // namespace

SourceSetupViewController::SourceSetupViewController(SourceServices services, QWidget* parent)
    : m_services(std::move(services))
{
    const QList<CloudSourceKind>& kinds = cloudSourceKinds();
    buildSourceSetupView(m_outlets, int(kinds.size()), parent);
    setParent(m_outlets.view);
    m_outlets.view->setDrawBackgroudWithSelector(
        [this](KPCoustomDrawBGView*, QPainter& painter, const QRectF&) { onDrawBG(painter); });
    m_outlets.iCloudView->setDrawBackgroudWithSelector(
        [this](KPCoustomDrawBGView*, QPainter& painter, const QRectF&) { onDrawICloudBG(painter); });
    QObject::connect(m_outlets.btnManageCloud, &QPushButton::clicked, this, [this] { btnManageCloudClick(); });

    const int height = m_outlets.view->height();
    for (qsizetype i = 0; i < kinds.size(); ++i) {
        auto* row = new SourceItemViewController(kinds[i].type, m_services, m_outlets.view);
        row->view()->setGeometry(sourceRowFrame(int(i) + 1, height));
        row->setBgColor(i % 2 == 0 ? kFirstRowColor : QColor(Qt::white));
        m_rows.append(row);
    }
}

QWidget* SourceSetupViewController::view() const
{
    return m_outlets.view;
}

void SourceSetupViewController::onDrawBG(QPainter& painter)
{
    Canvas canvas(painter, m_outlets.view->height());
    const QRectF bounds(0, 0, m_outlets.view->width(), m_outlets.view->height());
    const QRectF inset = bounds.adjusted(1.0, 1.0, -1.0, -1.0);
    canvas.fillRect(inset, Qt::white);
    canvas.strokeRect(inset.adjusted(0.5, 0.5, -0.5, -0.5), kBorderColor, 1.0);
}

void SourceSetupViewController::onDrawICloudBG(QPainter& painter)
{
    Canvas canvas(painter, m_outlets.iCloudView->height());
    const qreal width = m_outlets.iCloudView->width();
    canvas.fillRect(QRectF(0, 0, width, m_outlets.iCloudView->height()), Qt::white);
    canvas.strokeLine(QPointF(0, 0.5), QPointF(width, 0.5), QPen(kICloudLineColor, 1.0));
}

void SourceSetupViewController::btnManageCloudClick()
{
    if (m_iCloudWindow)
        return;
    m_iCloudWindow = new SourceiCloudSetupWindowController(m_services, m_outlets.view->window());
    m_iCloudWindow->beginSheet([](int) {});
}
