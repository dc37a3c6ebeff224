#include "MainWindow/Parts/KPThumbStackView.h"

#include "Platform/Content/ContentPreview.h"
#include "Platform/Foundation/Dispatch.h"

#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>
#include <cmath>

KPThumbStackView::KPThumbStackView(const QStringList& filePaths, const QRect& frame, QWidget* parent,
                                   PreviewProvider provider)
    : QWidget(parent), m_filePaths(filePaths)
{
    setGeometry(frame);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    if (!provider) {
        provider = [](const QString& path, const QSize& box) {
            return platform::ContentPreview::shared().preview(path, box);
        };
    }
    const QStringList shown = filePaths.mid(0, kMaxCards);
    platform::Dispatch::async(platform::DispatchQueue::global(), [this, alive = std::weak_ptr<bool>(m_alive), shown,
                                                                  provider = std::move(provider)] {
        QList<QImage> images;
        for (const QString& path : shown)
            images.append(provider(path, QSize(kPreviewSide, kPreviewSide)));
        platform::Dispatch::main([this, alive, images] {
            if (!alive.expired())
                showCards(images);
        });
    });
    show();
}

KPThumbStackView::~KPThumbStackView()
{
    m_alive.reset();
}

QRectF KPThumbStackView::layerRectByIndex(int index) const
{
    double x = std::round(width() / 2.0) - kCardSize.width() / 2.0;
    if (index == 1)
        x -= kCardSpread;
    else if (index == 2)
        x += kCardSpread;
    return QRectF(QPointF(x, -kStartAbove - kCardSize.height()), QSizeF(kCardSize));
}

double KPThumbStackView::rotationOf(int index) const
{
    return index >= 0 && index < m_cards.size() ? m_cards[index].rotation : 0;
}

QRectF KPThumbStackView::cardRect(int index) const
{
    if (index < 0 || index >= m_cards.size())
        return {};
    const Card& card = m_cards[index];
    QRectF rect = card.start;
    rect.moveCenter(QPointF(card.start.center().x(), card.centreY));
    return rect;
}

void KPThumbStackView::showCards(const QList<QImage>& images)
{
    for (int i = 0; i < images.size(); ++i) {
        Card card;
        card.image = images[i];
        card.rotation = i == 1 ? kTurnDegrees : i == 2 ? -kTurnDegrees : 0;
        card.start = layerRectByIndex(i);
        card.centreY = card.start.center().y();
        m_cards.append(card);
    }
    // Added in order, then the first goes directly above the second.
    m_order.clear();
    for (int i = 0; i < m_cards.size(); ++i)
        m_order.append(i);
    if (m_order.size() >= 2)
        m_order.swapItemsAt(0, 1);

    const double rest = height() - kRestFromBottom;
    for (int i = 0; i < m_cards.size(); ++i) {
        auto* move = new QVariantAnimation(this);
        move->setStartValue(m_cards[i].centreY);
        move->setEndValue(rest);
        move->setDuration(kFirstMoveMs + i * kMoveStepMs);
        connect(move, &QVariantAnimation::valueChanged, this, [this, i](const QVariant& value) {
            m_cards[i].centreY = value.toDouble();
            update();
        });
        auto* scale = new QVariantAnimation(this);
        scale->setStartValue(kStartScale);
        scale->setEndValue(1.0);
        scale->setDuration(kScaleMs);
        connect(scale, &QVariantAnimation::valueChanged, this, [this, i](const QVariant& value) {
            m_cards[i].scale = value.toDouble();
            update();
        });
        move->start(QAbstractAnimation::DeleteWhenStopped);
        scale->start(QAbstractAnimation::DeleteWhenStopped);
    }
    update();
}

void KPThumbStackView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int index : m_order) {
        const Card& card = m_cards[index];
        const QRectF rect = cardRect(index);
        painter.save();
        QTransform transform;
        transform.translate(rect.center().x(), rect.center().y());
        transform.rotate(card.rotation);
        transform.scale(card.scale, card.scale);
        painter.setTransform(transform);
        const QRectF local(QPointF(-rect.width() / 2, -rect.height() / 2), rect.size());
        QPainterPath clip;
        clip.addRoundedRect(local, 5, 5);
        painter.fillPath(clip.translated(0, 3), QColor(0, 0, 0, 90)); // the shadow
        painter.setClipPath(clip);
        painter.fillRect(local, Qt::white);
        if (!card.image.isNull()) {
            QRectF at(QPointF(), QSizeF(card.image.size()));
            at.moveCenter(local.center());
            painter.drawImage(at, card.image);
        }
        painter.setClipping(false);
        painter.setPen(QPen(Qt::white, 3));
        painter.drawPath(clip);
        painter.restore();
    }
}
