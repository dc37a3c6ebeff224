// The translucent bar with three buttons (Info, Quick Look, Show in Folder) over the bottom of a
// hovered document's frame in the icon form. A button press posts "SectionItemViewButtonClick"
// {"ItemData": the item, "ButtonIndex": 0, 1 or 2}; a press on the band itself does nothing, so
// it neither selects nor drags the item below.
//
// One bar per item view, made on the first hover and then only shown and hidden: its buttons
// register with the theme manager once. It fades in and out on the scheduler's animation clock.
// A hidden bar holds no item, so a press that reaches it late posts nothing.
#pragma once

#include "Browser/KPItemData.h"
#include "Theme/KPThemeBaseObjectProtocol.h"

#include <QPointer>
#include <QWidget>

class KPThemeImageButton;
class QGraphicsOpacityEffect;
class QVariantAnimation;

class KPSectionItemViewOverLayerToolBar : public QWidget, public KPThemeBaseObjectProtocol {
public:
    static inline const QString kButtonClickNotification = QStringLiteral("SectionItemViewButtonClick");
    static constexpr int kFadeMs = 250;

    explicit KPSectionItemViewOverLayerToolBar(QWidget* parent = nullptr);
    ~KPSectionItemViewOverLayerToolBar() override;

    void setItemData(const KPItemDataPtr& item) { m_itemData = item; }
    const KPItemDataPtr& itemData() const { return m_itemData; }
    void setIsSelected(bool selected);
    bool isSelected() const { return m_isSelected; }

    void layoutButtons();
    void themeUpdateWithName(const QString& themeName) override;
    void onButtonAction(KPThemeImageButton* sender);
    KPThemeImageButton* button(int index) const;

    // Fades to opacity 1 (shown) or 0 (then hidden); hideNow takes it away at once.
    void fadeIn();
    void fadeOut();
    void hideNow();
    qreal opacity() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void fadeTo(qreal target);

    KPThemeImageButton* m_buttons[3] = {};
    KPItemDataPtr m_itemData;
    bool m_isSelected = false;
    QGraphicsOpacityEffect* m_effect = nullptr;
    QPointer<QVariantAnimation> m_fade;
};
