// A segmented row of stretch buttons built from item dictionaries {"Title", "Tag"}: buttons are
// measured from their titles, laid out 8 points apart and centred, and one of them is selected.
// A click reports the clicked item once (clicking the selected button again reports nothing);
// selectByTag selects silently and lets the next click report even on the same button. The row
// rebuilds itself after a theme switch, keeping the selected position.
#pragma once

#include "Theme/KPThemeBaseObjectProtocol.h"

#include <QPointer>
#include <QVariantList>
#include <QVariantMap>
#include <QWidget>
#include <functional>
#include <vector>

class KPCustomThemeObject;
class KPHorizontalStretchButton;

class KPButtonGroups : public QWidget, public KPThemeBaseObjectProtocol {
public:
    static constexpr int kButtonHeight = 22;
    static constexpr int kButtonGap = 8;
    // Room added to a measured title.
    static constexpr int kTitlePadding = 24;

    using ClickAction = std::function<void(const QVariantMap& item)>;

    explicit KPButtonGroups(const QRect& frame = {}, QWidget* parent = nullptr);
    ~KPButtonGroups() override;

    // Takes effect at the next setupDatas().
    void setCustomThemeObject(KPCustomThemeObject* group);
    void setupDatas(const QVariantList& items);
    void setupButtonGroupsClickAction(ClickAction action) { m_action = std::move(action); }
    void selectByTag(int tag);
    void onBtnClick(KPHorizontalStretchButton* button);
    int currentTag() const { return m_currentTag; }
    void setCurrentTag(int tag) { m_currentTag = tag; }

    void themeUpdateWithName(const QString& themeName) override;

    const std::vector<KPHorizontalStretchButton*>& buttons() const { return m_buttons; }
    const QVariantList& datas() const { return m_datas; }

private:
    QVariantList m_datas;
    std::vector<KPHorizontalStretchButton*> m_buttons;
    KPCustomThemeObject* m_group = nullptr;
    QString m_groupName;
    int m_currentTag = 0;
    KPHorizontalStretchButton* m_lastClickObj = nullptr;
    ClickAction m_action;
};
