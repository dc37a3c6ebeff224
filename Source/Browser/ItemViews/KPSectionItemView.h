// The view of one document in the grid, in three forms: the icon form (a framed thumbnail with
// title, rating stars, tag line, colour flag and, when selected, a file-type badge), the list
// form (one row with thumbnail and columns) and the SafeBox icon form (the icon form without
// flag, stars and tags). The form follows KPViewSizeManager's display mode.
//
// Drawing records the rectangles of the frame, thumbnail, title, tag line and stars (y-up, in
// the view); the interaction hit-tests against them between draws:
// - a click selects through the grid; a single click (0.2 s without a second click or a drag)
//   on the title of a selected item opens the inline title editor, on the tag line the tag
//   popover; a double click opens the document;
// - a press on the stars rates by dragging, stored once at the release;
// - a click on the flag opens the flag picker in a popover;
// - a drag past 4 points (icon form, from the thumbnail) or 3 points (list form) drags the
//   documents out with the grid's drag formats;
// - tags dropped from the tag side bar are added to the selection when the item is in it,
//   else to this item alone.
// SafeBox items refuse rating, tag edits, the flag picker and tag drops.
//
// Class-wide state (main thread only): the theme groups, the cache of drawn frames (one per
// frame size, emptied by resetTheme) and the two star images.
#pragma once

#include "Browser/CollectionView/KPCollectionItemView.h"
#include "Browser/ItemViews/ItemViewServices.h"
#include "Browser/ItemViews/KPFlagPickerView.h"
#include "Browser/ItemViews/KPSectionItemViewOverLayerToolBar.h"
#include "Browser/KPItemData.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/DelayedCalls.h"
#include "Platform/Kit/GridDragFormats.h"
#include "Platform/Kit/Popover.h"
#include "Platform/Kit/TextAttributes.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QLineEdit>
#include <QPointer>
#include <array>
#include <optional>

class KPViewSizeManager;
namespace platform::kit {
class Canvas;
}

class KPSectionItemView : public KPCollectionItemView {
public:
    static constexpr int kSingleClickDelayMs = 200;
    static constexpr double kIconDragThreshold = 4;
    static constexpr double kListDragThreshold = 3;

    explicit KPSectionItemView(QWidget* parent = nullptr);
    ~KPSectionItemView() override;

    // The services every item view uses (the shared ones until a test sets others).
    static ItemViewServices& services();
    static void setServices(ItemViewServices services);

    // Drops the cached frames and star images and fetches the theme groups again.
    static void resetTheme();
    static int frameCacheCount();

    void setItemData(const KPItemDataPtr& item);
    const KPItemDataPtr& itemData() const { return m_itemData; }
    qint64 itemIndex() const { return m_itemIndex; }
    void setItemIndex(qint64 index) { m_itemIndex = index; }
    bool isSafeBoxItem() const { return m_isSafeBoxItem; }
    // File-type badge label and colour, and the thumbnail request.
    void loadContent();

    QRectF frameRect() const;
    QRectF actualFrameRect() const { return m_actualFrameRect; }
    QRectF actualImageRect() const { return m_actualImageRect; }
    QRectF actualTextRect() const { return m_actualTextRect; }
    QRectF actualTagRect() const { return m_actualTagRect; }
    QRectF actualRateRect() const { return m_actualRateRect; }
    const QString& fileTypeStr() const { return m_fileTypeStr; }
    const std::optional<QColor>& fileTypeColor() const { return m_fileTypeColor; }
    bool isMouseIn() const { return m_isMouseIn; }
    bool isDragDroping() const { return m_isDragDroping; }
    // Title and tag-line styles for the current form and state; none without the theme member.
    std::optional<platform::kit::TextAttributes> textAttribute() const;
    std::optional<platform::kit::TextAttributes> tagTextAttribute() const;

    void setSelected(bool selected) override;
    bool willSelectByPoint(const QPointF& point) const override;
    bool willSelectByRect(const QRectF& rect) const override;
    bool trackMouseEnterWithEvent(const QPointF& point) const override;
    void mouseEntered(const QPointF& point) override;
    void mouseExited() override;

    // ---- interaction entry points ----
    // wasMultiple: the press landed on one of several selected items.
    void onSingleClick(const QPointF& point, bool wasMultiple = false);
    void onDoubleClick();
    void onFlagChange(qint64 label);
    // Opens the inline title editor over the title (the Return key of the grid).
    void rename();
    void removeEditTextField();
    QLineEdit* editTextField() const { return m_editor; }
    platform::kit::Popover* flagPopover() const { return m_flagPopover; }
    platform::kit::Popover* tagPopover() const { return m_tagPopover; }
    void removeTagEditorPopver();
    // Whether any item view shows its tag popover now (the side bar holds back a finished
    // index folder meanwhile).
    static bool isTagPopoverOpen();
    KPSectionItemViewOverLayerToolBar* overLayerToolBar() const { return m_toolBar; }

    // The documents a drag from this view carries: the grid's selection when two or more are
    // selected, else this item (URIs left out for SafeBox files).
    platform::kit::pasteboard::GridDragPayload dragPayload() const;
    // The picture under the pointer: the thumbnail at the size of actualImageRect, with a
    // count badge ("999+" above 999) for several documents.
    QImage dragImage(qsizetype count) const;

    // Applies tag names to record: the store side of the tag popover. New tags go to newTags.
    // True when the record's tags changed (saved and written to the file's attributes).
    static bool updateTagObjectToFileInfo(const QStringList& names, DBFileInfo record, DataBaseEngine& library,
                                          QList<DBTag>* newTags);

    // The flag hit zone of the icon form.
    QRectF iconFlagZone() const;
    static QRectF listFlagZone() { return QRectF(0, 14, 32, 20); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void prepareForReuse() override;
    void viewDidMoveToSuperview() override;

private:
    enum class Tracking { None, Drag, Rate, FlagZone };
    // One drawn line of text, kept while its text, box and style stay the same: styles with a
    // blurred shadow are too dear to draw afresh for every item on every frame.
    struct LineImage {
        QString text;
        QSizeF size;
        qreal dpr = 0;
        platform::kit::TextAttributes attrs;
        QImage image;
    };
    enum LineSlot { TitleLine, TagLine, KindLine, DateLine, SizeLine, LineSlotCount };
    void drawLine(platform::kit::Canvas& canvas, LineSlot slot, const QRectF& rect, const QString& text,
                  const platform::kit::TextAttributes& attrs);
    // platform::kit::textSize, kept per line while its text and font stay: shaping a title again
    // on every frame cost more than drawing it.
    struct LineSize {
        QString text;
        QFont font;
        QSizeF size;
    };
    QSizeF lineSize(LineSlot slot, const QString& text, const platform::kit::TextAttributes& attrs);

    bool isIconMode() const;
    bool canEditMetadata() const;
    void drawIconMode(platform::kit::Canvas& canvas, bool safeBox);
    void drawListViewMode(platform::kit::Canvas& canvas);
    void drawFlag(platform::kit::Canvas& canvas, const QRectF& clip);
    void drawStars(platform::kit::Canvas& canvas, const QPointF& at);
    void drawThumbnail(platform::kit::Canvas& canvas, const QRectF& rect, const char* shadowGroup);

    void pressed(QMouseEvent* event, int clickCount);
    bool traceMouseDraggedEvent(const QPointF& point);
    void startDrag();
    void setRateFromPoint(const QPointF& point);
    void finishRating(const QPointF& point);
    void openFlagPopover(const QRectF& anchorUp);
    // text: what the editor starts with (the title when none).
    void openEditor(bool fromClick, const std::optional<QString>& text = std::nullopt);
    // A rename refused for reason: said in an alert, then the editor opens again on what was
    // typed, for correcting, while the view still shows item.
    void refuseTitle(const QString& key, const QString& title, const QString& reason);
    void endEditing();
    void commitTitle(const QString& text);
    void renameFile(const QString& title, bool isSafeBox);
    void openTagPopover();
    void tagsEdited(const QStringList& names);
    void hideToolBar(bool animated);
    QList<KPItemDataPtr> dropTargets() const;

    KPViewSizeManager& m_viewSizeManager;
    KPItemDataPtr m_itemData;
    qint64 m_itemIndex = 0;
    bool m_isSafeBoxItem = false;
    bool m_isMouseIn = false;
    bool m_isUnvisible = false;
    bool m_isDragDroping = false;
    bool m_dragStarted = false;
    bool m_isCancelTitleEditing = false;
    // The refused text an editor was opened again on: left as it is, it is not sent again when
    // focus moves away (the user has been told why); only Return sends it again.
    QString m_refusedTitle;
    QPointF m_firstMouseDownPoint;
    QRectF m_actualFrameRect;
    QRectF m_actualImageRect;
    QRectF m_actualTextRect;
    QRectF m_actualTagRect;
    QRectF m_actualRateRect;
    QString m_fileTypeStr;
    std::optional<QColor> m_fileTypeColor;

    std::array<LineImage, LineSlotCount> m_lines;
    std::array<LineSize, LineSlotCount> m_lineSizes;
    Tracking m_tracking = Tracking::None;
    platform::kit::DelayedCalls m_delayed;
    QPointer<QLineEdit> m_editor;
    QPointer<platform::kit::Popover> m_flagPopover;
    QPointer<KPFlagPickerView> m_flagPicker;
    QPointer<platform::kit::Popover> m_tagPopover;
    platform::ObserverToken m_resignObserver;
    QPointer<KPSectionItemViewOverLayerToolBar> m_toolBar;
};
