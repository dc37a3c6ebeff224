#include "Browser/ItemViews/KPSectionItemViewOverLayerToolBar.h"

#include "Controls/KPThemeImageButton.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/Canvas.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPMultiSprite.h"

#include <QGraphicsOpacityEffect>
#include <QMouseEvent>
#include <QPainter>
#include <QVariantAnimation>
#include <algorithm>
#include <cmath>

namespace {
const char* const kSpriteNames[3] = {"Info", "QuickLook", "ShowInFinder"};
}

KPSectionItemViewOverLayerToolBar::KPSectionItemViewOverLayerToolBar(QWidget* parent) : QWidget(parent)
{
    for (int i = 0; i < 3; ++i) {
        m_buttons[i] = new KPThemeImageButton(QRect(0, 0, 26, 26), this);
        m_buttons[i]->setupAction([this](KPThemeImageButton* sender) { onButtonAction(sender); });
    }
    themeUpdateWithName(QString());
    m_effect = new QGraphicsOpacityEffect(this);
    m_effect->setOpacity(0);
    setGraphicsEffect(m_effect);
    layoutButtons();
}

KPSectionItemViewOverLayerToolBar::~KPSectionItemViewOverLayerToolBar() = default;

void KPSectionItemViewOverLayerToolBar::setIsSelected(bool selected)
{
    m_isSelected = selected;
    update();
}

KPThemeImageButton* KPSectionItemViewOverLayerToolBar::button(int index) const
{
    return index >= 0 && index < 3 ? m_buttons[index] : nullptr;
}

void KPSectionItemViewOverLayerToolBar::layoutButtons()
{
    const int x0 = int(std::round((width() - 102) / 2.0));
    // y 1 from the bottom, in Qt terms.
    const int top = height() - 1 - 26;
    for (int i = 0; i < 3; ++i)
        m_buttons[i]->setGeometry(x0 + 38 * i, top, 26, 26);
}

void KPSectionItemViewOverLayerToolBar::themeUpdateWithName(const QString&)
{
    KPCustomThemeObject* group = KPThemeObject::customThemeObjectWithName(QStringLiteral("TopLayer"));
    for (int i = 0; i < 3; ++i)
        m_buttons[i]->setMultiSprite(group ? group->themeObjectWithName<KPMultiSprite>(QLatin1String(kSpriteNames[i])) : nullptr);
}

void KPSectionItemViewOverLayerToolBar::onButtonAction(KPThemeImageButton* sender)
{
    if (!m_itemData)
        return;
    const int index = sender == m_buttons[1] ? 1 : sender == m_buttons[2] ? 2 : 0;
    platform::NotificationCenter::defaultCenter().post(
        kButtonClickNotification,
        QVariantMap{{QStringLiteral("ItemData"), QVariant::fromValue(m_itemData)}, {QStringLiteral("ButtonIndex"), index}});
}

void KPSectionItemViewOverLayerToolBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    platform::kit::Canvas canvas(painter, height());
    QRectF r(0, 0, width(), height());
    if (m_isSelected)
        r = QRectF(r.x() + 1, r.y() + 1, r.width() - 2, r.height() - 2 + 2);
    const double radius = std::min(4.0, std::min(r.width(), r.height()) / 2);
    QPainterPath path;
    path.moveTo(r.x(), r.y() + radius);
    path.arcTo(QRectF(r.x(), r.y(), 2 * radius, 2 * radius), 180, 90);
    path.arcTo(QRectF(r.right() - 2 * radius, r.y(), 2 * radius, 2 * radius), 270, 90);
    path.addRect(QRectF(r.x(), r.y() + 4, r.width(), r.height() - 4));
    path.setFillRule(Qt::WindingFill);
    canvas.clipPath(path);
    canvas.fillRect(QRectF(0, 0, width(), height()), QColor(0, 0, 0, int(0.3 * 255)));
}

void KPSectionItemViewOverLayerToolBar::resizeEvent(QResizeEvent*)
{
    layoutButtons();
}

void KPSectionItemViewOverLayerToolBar::mousePressEvent(QMouseEvent* event)
{
    event->accept();
}

void KPSectionItemViewOverLayerToolBar::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
}

qreal KPSectionItemViewOverLayerToolBar::opacity() const
{
    return m_effect->opacity();
}

void KPSectionItemViewOverLayerToolBar::fadeTo(qreal target)
{
    if (m_fade)
        m_fade->stop();
    auto* fade = new QVariantAnimation(this);
    fade->setDuration(kFadeMs);
    fade->setStartValue(m_effect->opacity());
    fade->setEndValue(target);
    connect(fade, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) { m_effect->setOpacity(v.toReal()); });
    if (target <= 0)
        connect(fade, &QVariantAnimation::finished, this, [this] {
            hide();
            m_itemData.reset();
        });
    m_fade = fade;
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void KPSectionItemViewOverLayerToolBar::fadeIn()
{
    show();
    raise();
    fadeTo(1);
}

void KPSectionItemViewOverLayerToolBar::fadeOut()
{
    if (isVisible())
        fadeTo(0);
}

void KPSectionItemViewOverLayerToolBar::hideNow()
{
    if (m_fade)
        m_fade->stop();
    m_effect->setOpacity(0);
    hide();
    m_itemData.reset();
}
