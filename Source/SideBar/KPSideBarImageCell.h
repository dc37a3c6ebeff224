// Draws one side-bar row from its node: icon, title, and at the right end either the badge
// count, the missing-folder warning, the busy spinner or the row's small button, plus the
// disclosure triangle of index-folder rows. It also gives rows their height and makes the title
// editor.
//
// Rows are laid out y-down, as table rows are in the design: every rectangle below is in the
// view's viewport coordinates, the row's frame being the column's rectangle after indentation.
// The right edge R of the elements is the frame's right edge; Qt's viewport already excludes a
// visible scroll bar, so nothing more is taken off for it.
//
// Colours and fonts come from the side bar's theme group; every member is optional and the
// built-in values stand in. The badge switch and the three shared pictures (the triangles and
// the warning) are class-wide, reloaded by updateDrawNumberCount and updateTheme.
//
// Threads: main thread only.
#pragma once

#include <functional>

#include "Platform/Kit/TextAttributes.h"

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QStyledItemDelegate>
#include <memory>

class KPCustomThemeObject;
class KPNode;
class ProgressIndicatorCellView;

// Where the parts of a row go; pure arithmetic on the row's frame.
struct KPSideBarCellGeometry {
    static constexpr qreal kIconX = 6;
    static constexpr qreal kTitleIndentWithIcon = 28;
    static constexpr qreal kTitleHeadIndent = 3;
    static constexpr qreal kTitleGap = 2;
    static constexpr qreal kBadgeMinTextWidth = 12;
    static constexpr qreal kBadgePadding = 8;
    static constexpr qreal kBadgeHeight = 16;
    static constexpr qreal kBadgeRadius = 3;
    static constexpr qreal kRightInset = 4;
    static constexpr qreal kWarningSize = 16;
    static constexpr qreal kSpinnerSize = 16;
    static constexpr qreal kSpinnerTop = 5;
    static constexpr qreal kButtonSize = 12;
    static constexpr qreal kButtonTop = 8;
    static constexpr qreal kTriangleSize = 10;
    static constexpr qreal kTriangleOffset = 6;

    // The badge's text room: its text width, at least 12.
    static qreal badgeTextWidth(qreal textWidth);
    // The badge's left edge before rounding.
    static qreal badgeX(qreal right, qreal textWidth);
    // The filled badge: rounded x, 8 above the middle, round(width + 8) wide, 16 high.
    static QRectF badgeRect(const QRectF& frame, qreal right, qreal textWidth);
    // The warning, the spinner and the button end where a badge does, 4 points before the
    // row's edge, so the right ends of all rows line up (placed by their left edges as given,
    // the warning would stick out past the row and the other two touch its edge).
    static QRectF warningRect(const QRectF& frame, qreal right);
    static QRectF spinnerRect(const QRectF& frame, qreal right);
    static QRectF rightButtonRect(const QRectF& frame, qreal right);
    // 10 x 10, 6 points left of the frame, centred vertically.
    static QRectF triangleRect(const QRectF& frame);
    static QRectF iconRect(const QRectF& frame, const QSizeF& iconSize);
    // From the frame's left (28 further with an icon) to 2 points before limit.
    static QRectF titleRect(const QRectF& frame, bool hasIcon, qreal limit);
};

class KPSideBarImageCell : public QStyledItemDelegate {
public:
    // Built-in values for a theme without them.
    static constexpr int kSectionRowHeight = 30;
    static constexpr int kDefaultRowHeight = 20;
    static constexpr qreal kTitleFontSize = 12;
    static constexpr qreal kBadgeFontSize = 11;
    static constexpr qreal kHoverWarningOpacity = 0.7;
    static inline const QColor kSelectedTitleColor{Qt::black};
    static inline const QColor kSectionTitleColor{132, 145, 158};
    static inline const QColor kTitleColor{94, 97, 103};
    static inline const QColor kSelectedBadgeTextColor{151, 169, 197};
    static inline const QColor kSelectedBadgeFill{Qt::black};
    static inline const QColor kBadgeFill{154, 165, 178};
    // The shadow of a title or badge text whose style names none.
    static inline const QColor kShadowColor{0, 0, 0, 85};

    explicit KPSideBarImageCell(QObject* parent = nullptr);
    ~KPSideBarImageCell() override;

    // The side bar's theme group (nullptr: built-in colours).
    void setCustomThemeObject(KPCustomThemeObject* group) { m_group = group; }
    KPCustomThemeObject* customThemeObject() const { return m_group; }

    // Reads "Bool_ShowSideBarItemCount" again (a missing value counts as on).
    static void updateDrawNumberCount();
    static bool drawsNumberCount();
    // Looks the shared pictures up again in the current theme.
    static void updateTheme();
    static QRectF triangleButtonRectWithCellFrame(const QRectF& frame) { return KPSideBarCellGeometry::triangleRect(frame); }

    // Row height of a node: 30 for section headers, else the group's "ItemHeight" when above 0,
    // else 20.
    int rowHeight(const KPNode& node) const;
    // Which rows with children draw a disclosure triangle; unset: index folders, their
    // sub-folders and the iCloud node.
    void setTriangleTest(std::function<bool(const KPNode&)> test) { m_triangleTest = std::move(test); }
    bool showsTriangle(const KPNode& node) const;
    // A side bar's own height for some of its rows (answering 0 leaves the row to the rule).
    void setRowHeightOverride(std::function<int(const KPNode&)> override) { m_rowHeightOverride = std::move(override); }

    // What the row shows at its right end, decided from the node and the badge switch.
    enum class RightEnd { None, Badge, Warning, Spinner };
    static RightEnd rightEndOf(const KPNode& node);
    // The title rectangle of a node's row: it stops before whatever the right end shows.
    QRectF titleRectForNode(const KPNode& node, const QRectF& frame) const;
    // The badge rectangle a count would take in a frame.
    QRectF badgeRectForNumber(qint64 number, const QRectF& frame, bool selected) const;
    // Where node's count badge goes: at the row's right end, or left of the row's button.
    QRectF badgeRectForNode(const KPNode& node, const QRectF& frame, bool selected) const;

    // Text attributes of titles and badges, from the theme or the built-in values.
    platform::kit::TextAttributes titleAttributes(const KPNode& node, bool selected) const;
    platform::kit::TextAttributes numberAttributes(bool selected) const;
    QColor numberFill(bool selected) const;

    // ---- QStyledItemDelegate ----
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    void drawTitle(QPainter& painter, const KPNode& node, const QRectF& rect, bool selected) const;
    void drawBadge(QPainter& painter, qint64 number, const QRectF& frame, qreal right, bool selected) const;
    void drawSpinner(QPainter& painter, const KPNode& node, const QRectF& rect) const;

    KPCustomThemeObject* m_group = nullptr;
    // Never shown: the spinner's spokes are computed by it and painted here.
    std::unique_ptr<ProgressIndicatorCellView> m_spokes;
    std::function<int(const KPNode&)> m_rowHeightOverride;
    std::function<bool(const KPNode&)> m_triangleTest;
};
