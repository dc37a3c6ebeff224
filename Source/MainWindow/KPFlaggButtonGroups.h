// The flag filter strip: "All" and seven flag buttons in a centred row, exactly one of them lit
// once the owner has chosen one. A click lights the clicked button and reports its index (0 for
// "All", 1 to 7 for the flags) unless it was also the last one clicked; selectByIndex lights a
// button silently. Which flag each button stands for is the receiver's to decide.
//
// The pictures are the bundle's "collection_toolbar_filterbutton_bg.png" (the lit background,
// caps of 10 around a 2-point middle) and "flag_images.png" (seven 18-point squares).
// Threads: main thread only.
#pragma once

#include <QList>
#include <QWidget>
#include <functional>
#include <vector>

class KPHorizontalStretchButton;

class KPFlaggButtonGroups : public QWidget {
public:
    static constexpr int kButtonCount = 8;
    static constexpr int kButtonHeight = 18;
    static constexpr int kFlagButtonWidth = 36;
    static constexpr int kFlagSquare = 18;
    static constexpr int kGap = 8;
    static constexpr int kAllTitlePadding = 24;

    using ClickAction = std::function<void(int index)>;

    explicit KPFlaggButtonGroups(const QRect& frame = {}, QWidget* parent = nullptr);
    ~KPFlaggButtonGroups() override;

    void setupButtonGroupsClickAction(ClickAction action) { m_action = std::move(action); }
    void onBtnClick(KPHorizontalStretchButton* button);
    // Lights the button of index (0 to 7; anything else changes nothing) and reports nothing.
    void selectByIndex(int index);
    const std::vector<KPHorizontalStretchButton*>& buttons() const { return m_buttons; }

    // Where buttons of these widths go in a row centred in a view of viewWidth, kGap apart.
    static QList<int> rowPositions(const QList<int>& widths, int viewWidth);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void initData();
    void layoutRow();

    std::vector<KPHorizontalStretchButton*> m_buttons;
    KPHorizontalStretchButton* m_lastClickObj = nullptr;
    ClickAction m_action;
};
