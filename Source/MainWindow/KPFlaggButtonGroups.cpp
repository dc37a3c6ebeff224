#include "MainWindow/KPFlaggButtonGroups.h"

#include "Controls/KPHorizontalStretchButton.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/FontResolver.h"

#include <QImage>
#include <QRect>
#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

QImage bundleImage(const QString& name)
{
    const QString path = platform::Bundle::mainBundle().pathForResource(name, QStringLiteral("png"));
    return path.isEmpty() ? QImage() : QImage(path);
}

} // namespace

KPFlaggButtonGroups::KPFlaggButtonGroups(const QRect& frame, QWidget* parent)
    : QWidget(parent)
{
    if (frame.isValid())
        setGeometry(frame);
    initData();
}

KPFlaggButtonGroups::~KPFlaggButtonGroups() = default;

void KPFlaggButtonGroups::initData()
{
    m_lastClickObj = nullptr;
    const QVariantMap setting{{QStringLiteral("Highlight"), bundleImage(QStringLiteral("collection_toolbar_filterbutton_bg"))},
                              {QStringLiteral("1"), QRectF(0, 0, 10, 18)},
                              {QStringLiteral("2"), QRectF(10, 0, 2, 18)},
                              {QStringLiteral("3"), QRectF(12, 0, 10, 18)}};
    const QString all = platform::localizedString(QStringLiteral("All"));
    // The button draws its title in the 12-point system font when no theme group is given.
    const auto attrs = platform::kit::TextAttributes::plain(platform::kit::FontResolver::systemFont(12));
    const int allWidth = int(std::lround(KPHorizontalStretchButton::titleWidth(all, attrs) + kAllTitlePadding));
    auto* first = new KPHorizontalStretchButton(QRect(0, 0, allWidth, kButtonHeight), setting, this);
    first->setTitle(all);
    m_buttons.push_back(first);
    const QImage squares = bundleImage(QStringLiteral("flag_images"));
    for (int i = 0; i < kButtonCount - 1; ++i) {
        auto* button = new KPHorizontalStretchButton(QRect(0, 0, kFlagButtonWidth, kButtonHeight), setting, this);
        if (!squares.isNull())
            button->setIcon(squares.copy(kFlagSquare * i, 0, kFlagSquare, kFlagSquare));
        m_buttons.push_back(button);
    }
    for (KPHorizontalStretchButton* button : m_buttons)
        button->setupTargetAndAction([this](KPHorizontalStretchButton* b) { onBtnClick(b); });
    layoutRow();
}

QList<int> KPFlaggButtonGroups::rowPositions(const QList<int>& widths, int viewWidth)
{
    const int total = std::accumulate(widths.begin(), widths.end(), 0) + kGap * int(std::max<qsizetype>(0, widths.size() - 1));
    int x = int(std::lround((viewWidth - total) / 2.0));
    QList<int> positions;
    for (int w : widths) {
        positions.append(x);
        x += w + kGap;
    }
    return positions;
}

void KPFlaggButtonGroups::layoutRow()
{
    QList<int> widths;
    for (KPHorizontalStretchButton* button : m_buttons)
        widths.append(button->width());
    const QList<int> xs = rowPositions(widths, width());
    for (size_t i = 0; i < m_buttons.size(); ++i)
        m_buttons[i]->move(xs[int(i)], (height() - kButtonHeight) / 2);
}

void KPFlaggButtonGroups::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutRow();
}

void KPFlaggButtonGroups::onBtnClick(KPHorizontalStretchButton* button)
{
    const auto it = std::find(m_buttons.begin(), m_buttons.end(), button);
    if (it == m_buttons.end())
        return;
    for (KPHorizontalStretchButton* b : m_buttons)
        b->setIsHightlight(b == button);
    const bool again = button == m_lastClickObj;
    m_lastClickObj = button;
    if (!again && m_action)
        m_action(int(it - m_buttons.begin()));
}

void KPFlaggButtonGroups::selectByIndex(int index)
{
    if (index < 0 || index >= int(m_buttons.size()))
        return;
    for (size_t i = 0; i < m_buttons.size(); ++i)
        m_buttons[i]->setIsHightlight(int(i) == index);
}
