#include "Controls/KPButtonGroups.h"

#include "Controls/KPHorizontalStretchButton.h"
#include "Platform/Kit/FontResolver.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPTextStyle.h"
#include "Theme/KPThemeManager.h"

#include <algorithm>
#include <cmath>

KPButtonGroups::KPButtonGroups(const QRect& frame, QWidget* parent)
    : QWidget(parent)
{
    if (frame.isValid())
        setGeometry(frame);
    KPThemeManager::themeManager()->addThemeObject(this);
}

KPButtonGroups::~KPButtonGroups() = default;

void KPButtonGroups::setCustomThemeObject(KPCustomThemeObject* group)
{
    m_group = group;
    if (group)
        m_groupName = group->themeObjectName();
}

void KPButtonGroups::setupDatas(const QVariantList& items)
{
    m_lastClickObj = nullptr;
    m_datas = items;
    // Later, not now: the row may be rebuilt from inside one of its buttons' click handlers.
    for (KPHorizontalStretchButton* b : m_buttons) {
        b->hide();
        b->deleteLater();
    }
    m_buttons.clear();

    auto measure = platform::kit::TextAttributes::plain(platform::kit::FontResolver::systemFont(KPTextStyle::kDefaultFontSize));
    if (auto* style = m_group ? m_group->themeObjectWithName<KPTextStyle>(QStringLiteral("Text")) : nullptr)
        measure = style->textAttribute();

    int total = 0;
    for (const QVariant& item : m_datas) {
        const QString title = item.toMap().value(QStringLiteral("Title")).toString();
        // The padding is exactly what the theme's insets and the button take around the title,
        // so the title's advance is rounded up, never to the nearest point.
        const int w = KPHorizontalStretchButton::titleWidth(title, measure) + kTitlePadding;
        // y 0 of the row in y-up terms is its bottom edge.
        auto* button = new KPHorizontalStretchButton(QRect(0, height() - kButtonHeight, w, kButtonHeight), this);
        button->setupTargetAndAction([this](KPHorizontalStretchButton* b) { onBtnClick(b); });
        button->setCustomThemeObject(m_group);
        button->setTitle(title);
        button->show();
        m_buttons.push_back(button);
        total += w;
    }
    if (!m_buttons.empty())
        total += kButtonGap * int(m_buttons.size() - 1);
    int x = int(std::lround((width() - total) * 0.5));
    for (KPHorizontalStretchButton* b : m_buttons) {
        b->move(x, b->y());
        x += b->width() + kButtonGap;
    }
}

void KPButtonGroups::onBtnClick(KPHorizontalStretchButton* button)
{
    const auto it = std::find(m_buttons.begin(), m_buttons.end(), button);
    if (it == m_buttons.end())
        return;
    for (KPHorizontalStretchButton* b : m_buttons)
        b->setIsHightlight(b == button);
    const bool report = button != m_lastClickObj;
    m_lastClickObj = button;
    if (report && m_action)
        m_action(m_datas.value(int(it - m_buttons.begin())).toMap());
}

void KPButtonGroups::selectByTag(int tag)
{
    for (int i = 0; i < m_datas.size(); ++i) {
        if (m_datas.at(i).toMap().value(QStringLiteral("Tag")).toInt() != tag)
            continue;
        m_currentTag = tag;
        for (size_t j = 0; j < m_buttons.size(); ++j)
            m_buttons[j]->setIsHightlight(int(j) == i);
        m_lastClickObj = nullptr;
        return;
    }
}

void KPButtonGroups::themeUpdateWithName(const QString&)
{
    m_group = KPThemeObject::customThemeObjectWithName(m_groupName);
    const auto it = std::find(m_buttons.begin(), m_buttons.end(), m_lastClickObj);
    const int position = it == m_buttons.end() ? 0 : int(it - m_buttons.begin());
    const QVariantList items = m_datas;
    setupDatas(items);
    if (position < int(m_buttons.size())) {
        selectByTag(m_datas.at(position).toMap().value(QStringLiteral("Tag")).toInt());
        m_lastClickObj = m_buttons[size_t(position)];
    }
    update();
}
