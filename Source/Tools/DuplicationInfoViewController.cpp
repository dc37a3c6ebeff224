#include "Tools/DuplicationInfoViewController.h"

#include "Controls/KPCoustomDrawBGView.h"
#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/Flip.h"

#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QPixmap>

using namespace platform;

namespace {

constexpr int kHeaderHeight = 34;

} // namespace

DuplicationInfoViewController::DuplicationInfoViewController(const QList<DuplicateRecordInfo>& records,
                                                             const QImage& thumbImage, QWidget* parentView,
                                                             QObject* parent)
    : QObject(parent)
    , m_records(records)
    , m_thumbImage(thumbImage)
{
    const int height = DuplicateGrouping::groupHeight(records.size());
    m_view = new KPCoustomDrawBGView(QRect(0, 0, kWidth, height), parentView);
    m_headerBGView = new KPCoustomDrawBGView(QRect(0, 0, kWidth, kHeaderHeight - 4), m_view);
    const auto draw = [this](KPCoustomDrawBGView* view, QPainter& painter, const QRectF& rect) { onDrawBG(view, painter, rect); };
    m_view->setDrawBackgroudWithSelector(draw);
    m_headerBGView->setDrawBackgroudWithSelector(draw);

    m_txtTitle = new QLabel(m_headerBGView);
    m_txtTitle->setGeometry(10, 5, 700, 20);
    m_txtTitle->setTextFormat(Qt::PlainText);
    m_txtFileSize = new QLabel(m_headerBGView);
    m_txtFileSize->setGeometry(kWidth - 180, 5, 170, 20);
    m_txtFileSize->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_thumbImageView = new QLabel(m_view);
    m_thumbImageView->setGeometry(20, kHeaderHeight + 2, 100, 78);
    m_thumbImageView->setAlignment(Qt::AlignCenter);

    for (const DuplicateRecordInfo& info : records)
        m_views.append(new DuplicationInfoSelectView(info, this));
    layoutViews();

    if (!m_thumbImage.isNull())
        m_thumbImageView->setPixmap(QPixmap::fromImage(
            m_thumbImage.scaled(m_thumbImageView->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    if (!records.isEmpty()) {
        const DuplicateRecordInfo& first = records.first();
        m_txtTitle->setText(QFileInfo(first.filePath).fileName());
        m_txtFileSize->setText(DuplicateGrouping::fileSizeText(first.fileSize.value_or(0)));
    }
    const QList<bool> checks = DuplicateGrouping::initialChecks(m_views.size());
    for (qsizetype i = 0; i < m_views.size(); ++i)
        m_views.at(i)->setState(checks.at(i) ? 1 : 0);
}

QList<ObjectID> DuplicationInfoViewController::needRemoveObjIDs() const
{
    QList<ObjectID> ids;
    for (const DuplicationInfoSelectView* row : m_views) {
        if (row->state() == 1)
            ids.append(row->recordInfo().id);
    }
    return ids;
}

void DuplicationInfoViewController::doSelectWithVC(DuplicationInfoSelectView* row)
{
    QList<bool> checks;
    for (const DuplicationInfoSelectView* each : std::as_const(m_views))
        checks.append(each->state() == 1);
    const qsizetype index = m_views.indexOf(row);
    DuplicateGrouping::settleCheck(checks, index);
    if (index >= 0)
        row->setState(checks.at(index) ? 1 : 0);
}

void DuplicationInfoViewController::layoutViews()
{
    const qreal height = m_view->height();
    qreal y = height - kHeaderHeight;
    for (DuplicationInfoSelectView* row : std::as_const(m_views)) {
        y -= DuplicationInfoSelectView::kHeight;
        row->view()->setGeometry(
            kit::toQt(QRectF(135, y, DuplicationInfoSelectView::kWidth, DuplicationInfoSelectView::kHeight), height).toRect());
        if (row->view()->parentWidget() != m_view)
            row->view()->setParent(m_view);
        row->view()->show();
    }
}

void DuplicationInfoViewController::onDrawBG(KPCoustomDrawBGView* view, QPainter& painter, const QRectF&)
{
    kit::Canvas canvas(painter, view->height());
    if (view == m_headerBGView) {
        canvas.fillRect(QRectF(0, 0, view->width(), view->height()), QColor(232, 232, 232));
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing, true);
    canvas.save();
    canvas.translate(0, 0.5);
    canvas.strokeLine(QPointF(0, 1), QPointF(view->width(), 1), QPen(QColor(207, 207, 207), 1.0));
    canvas.restore();
}
