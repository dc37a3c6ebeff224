#include "Browser/ItemViews/KPFlagPickerView.h"

#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/FontResolver.h"
#include "Platform/Kit/Input.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPSprite.h"
#include "Utilities/FlagNames.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QVariantAnimation>
#include <cmath>

namespace {

QFont nameFont()
{
    return platform::kit::FontResolver::fontNamed(QStringLiteral("OpenSans-Bold"), 12)
        .value_or(platform::kit::FontResolver::boldSystemFont(12));
}

} // namespace

KPFlagPickerView::KPFlagPickerView(const QPointF& origin, QWidget* parent) : QWidget(parent)
{
    m_flagTheme = KPThemeObject::customThemeObjectWithName(QStringLiteral("Flag"));
    const int h = 160;
    const int parentH = parent ? parent->height() : h;
    setGeometry(int(origin.x()), int(parentH - origin.y() - h), maxWidth(), h);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
}

KPFlagPickerView::~KPFlagPickerView() = default;

int KPFlagPickerView::maxWidth()
{
    const QFontMetricsF metrics(nameFont());
    double widest = 0;
    for (qint64 flag = 0; flag <= 7; ++flag)
        widest = std::max(widest, metrics.horizontalAdvance(flagNameForIndex(flag)));
    return int(std::ceil(widest + 32 + 4));
}

void KPFlagPickerView::showLayerByLabelIndex(qint64 currentFlag)
{
    m_rows.clear();
    m_hovered.reset();
    double y = 140;
    for (qint64 flag : kDisplayOrder) {
        if (flag == currentFlag)
            continue;
        m_rows.append({flag, y, -16});
        y -= 20;
    }
    m_rows.append({0, y, -16});
    update();
}

std::optional<qsizetype> KPFlagPickerView::rowAtPoint(const QPointF& p) const
{
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        if (QRectF(0, m_rows[i].y, width(), 20).contains(p))
            return i;
    }
    return std::nullopt;
}

void KPFlagPickerView::hover(const QPointF& p)
{
    const auto row = rowAtPoint(p);
    if (row == m_hovered)
        return;
    if (m_hovered)
        slide(*m_hovered, -16);
    m_hovered = row;
    if (row)
        slide(*row, 0);
}

void KPFlagPickerView::slide(qsizetype row, double to)
{
    auto* animation = new QVariantAnimation(this);
    animation->setDuration(kSlideMs);
    animation->setStartValue(m_rows[row].iconX);
    animation->setEndValue(to);
    const qint64 flag = m_rows[row].flag;
    connect(animation, &QVariantAnimation::valueChanged, this, [this, flag](const QVariant& v) {
        for (Row& r : m_rows) {
            if (r.flag == flag)
                r.iconX = v.toDouble();
        }
        update();
    });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void KPFlagPickerView::answer(std::optional<qint64> flag)
{
    if (m_answered)
        return;
    m_answered = true;
    if (m_answer)
        m_answer(flag);
}

void KPFlagPickerView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    platform::kit::Canvas canvas(painter, height());
    platform::kit::TextAttributes attrs = platform::kit::TextAttributes::plain(nameFont());
    attrs.color = QColor(0x6c, 0x6c, 0x6c);
    attrs.hasParagraphStyle = true;
    attrs.lineBreakMode = 4;
    for (const Row& row : m_rows) {
        if (m_flagTheme) {
            if (auto* sprite = m_flagTheme->themeObjectWithName<KPSprite>(QString::number(row.flag)))
                canvas.drawImage(QRectF(row.iconX, row.y, 32, 20), sprite->image());
        }
        const double textH = QFontMetricsF(attrs.font).height();
        canvas.drawText(QRectF(36, row.y + (20 - textH) / 2, width() - 36, textH), flagNameForIndex(row.flag), attrs);
    }
}

void KPFlagPickerView::mouseMoveEvent(QMouseEvent* event)
{
    hover(QPointF(event->position().x(), height() - event->position().y()));
}

void KPFlagPickerView::mousePressEvent(QMouseEvent* event)
{
    event->accept();
}

void KPFlagPickerView::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    const auto row = rowAtPoint(QPointF(event->position().x(), height() - event->position().y()));
    answer(row ? std::optional<qint64>(m_rows[*row].flag) : std::nullopt);
}

void KPFlagPickerView::keyPressEvent(QKeyEvent* event)
{
    event->accept();
    if (platform::kit::Input::keyCharacter(event) == platform::kit::keychar::Escape)
        answer(std::nullopt);
}
