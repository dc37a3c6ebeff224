#include "SideBar/KPSideBarImageCell.h"

#include "Controls/ProgressIndicatorCellView.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/FontResolver.h"
#include "SideBar/KPNode.h"
#include "SideBar/KPNodeTreeModel.h"
#include "SideBar/SideBarNodeType.h"
#include "Theme/KPColor.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPCustomThemeObjectValue.h"
#include "Theme/KPMultiSprite.h"
#include "Theme/KPSprite.h"
#include "Theme/KPTextStyle.h"

#include <QLineEdit>
#include <QPainter>
#include <algorithm>
#include <cmath>

using platform::kit::Canvas;
using platform::kit::FontResolver;
using platform::kit::TextAttributes;
using platform::kit::TextShadow;

namespace {

using G = KPSideBarCellGeometry;

const QString kShowItemCountKey = QStringLiteral("Bool_ShowSideBarItemCount");

struct SharedPictures {
    KPSprite* triangleExpand = nullptr;   // drawn on a collapsed row
    KPSprite* triangleCollapse = nullptr; // drawn on an expanded row
    KPSprite* folderNotFound = nullptr;
    bool loaded = false;
};

SharedPictures& storage()
{
    static SharedPictures shared;
    return shared;
}

const SharedPictures& pictures()
{
    if (!storage().loaded)
        KPSideBarImageCell::updateTheme();
    return storage();
}

bool& numberSwitch()
{
    static bool on = [] {
        const auto& defaults = platform::UserDefaults::standardUserDefaults();
        return !defaults.objectForKey(kShowItemCountKey).isValid() || defaults.boolForKey(kShowItemCountKey);
    }();
    return on;
}

KPNode* nodeOf(const QModelIndex& index)
{
    const auto ptr = index.data(KPNodeTreeModel::NodeRole).value<KPNode::Ptr>();
    return ptr.get();
}

QString numberText(qint64 number)
{
    return QString::number(number);
}

// The font of a theme text style, or the fallback when the style or its face is missing.
QFont styleFont(const KPTextStyle* style, const QFont& fallback)
{
    if (style && !style->fontName().isEmpty()) {
        if (auto font = FontResolver::fontNamed(style->fontName(), style->fontSize()))
            return *font;
    }
    return fallback;
}

TextAttributes attributesFrom(const KPTextStyle* style, const QFont& fallbackFont, const QColor& fallbackColor)
{
    TextAttributes attrs;
    attrs.font = styleFont(style, fallbackFont);
    attrs.color = style && style->fontColor() ? *style->fontColor() : fallbackColor;
    const QColor shadow = style && style->shadowColor() ? *style->shadowColor() : KPSideBarImageCell::kShadowColor;
    attrs.shadow = TextShadow{shadow, QSizeF(0, -1), std::nullopt};
    return attrs;
}

// Text in a y-down rectangle of the viewport. The canvas takes y-up rectangles; over a space of
// height 0 the flip of a flipped rectangle is the rectangle itself.
void drawTextIn(QPainter& painter, const QRectF& rect, const QString& text, const TextAttributes& attrs)
{
    Canvas canvas(painter, 0);
    canvas.drawText(canvas.toQtRect(rect), text, attrs);
}

} // namespace

// ---- geometry ----

qreal KPSideBarCellGeometry::badgeTextWidth(qreal textWidth)
{
    return std::max(kBadgeMinTextWidth, textWidth);
}

qreal KPSideBarCellGeometry::badgeX(qreal right, qreal textWidth)
{
    return right - (badgeTextWidth(textWidth) + kBadgePadding) - kRightInset;
}

QRectF KPSideBarCellGeometry::badgeRect(const QRectF& frame, qreal right, qreal textWidth)
{
    const qreal w = badgeTextWidth(textWidth);
    return QRectF(std::round(badgeX(right, textWidth)), frame.center().y() - kBadgeHeight / 2,
                  std::round(w + kBadgePadding), kBadgeHeight);
}

QRectF KPSideBarCellGeometry::warningRect(const QRectF& frame, qreal right)
{
    return QRectF(right - kRightInset - kWarningSize, frame.y() + std::round((frame.height() - kWarningSize) / 2),
                  kWarningSize, kWarningSize);
}

QRectF KPSideBarCellGeometry::spinnerRect(const QRectF& frame, qreal right)
{
    return QRectF(right - kRightInset - kSpinnerSize, frame.y() + kSpinnerTop, kSpinnerSize, kSpinnerSize);
}

QRectF KPSideBarCellGeometry::rightButtonRect(const QRectF& frame, qreal right)
{
    return QRectF(right - kRightInset - kButtonSize, frame.y() + kButtonTop, kButtonSize, kButtonSize);
}

QRectF KPSideBarCellGeometry::triangleRect(const QRectF& frame)
{
    return QRectF(frame.x() - kTriangleOffset, frame.y() + (frame.height() - kTriangleSize) / 2, kTriangleSize,
                  kTriangleSize);
}

QRectF KPSideBarCellGeometry::iconRect(const QRectF& frame, const QSizeF& iconSize)
{
    return QRectF(frame.x() + kIconX, frame.y() + std::round((frame.height() - iconSize.height()) / 2),
                  iconSize.width(), iconSize.height());
}

QRectF KPSideBarCellGeometry::titleRect(const QRectF& frame, bool hasIcon, qreal limit)
{
    const qreal left = frame.x() + (hasIcon ? kTitleIndentWithIcon : 0);
    return QRectF(left, frame.y(), std::max<qreal>(0, limit - kTitleGap - left), frame.height());
}

// ---- the cell ----

KPSideBarImageCell::KPSideBarImageCell(QObject* parent)
    : QStyledItemDelegate(parent)
    , m_spokes(std::make_unique<ProgressIndicatorCellView>())
{
    m_spokes->setSpinning(true);
}

KPSideBarImageCell::~KPSideBarImageCell() = default;

void KPSideBarImageCell::updateDrawNumberCount()
{
    const auto& defaults = platform::UserDefaults::standardUserDefaults();
    numberSwitch() = !defaults.objectForKey(kShowItemCountKey).isValid() || defaults.boolForKey(kShowItemCountKey);
}

bool KPSideBarImageCell::drawsNumberCount()
{
    return numberSwitch();
}

void KPSideBarImageCell::updateTheme()
{
    SharedPictures& p = storage();
    p.triangleExpand = KPThemeObject::themeObjectWithName<KPSprite>(QStringLiteral("SideBarTriangleExpand"));
    p.triangleCollapse = KPThemeObject::themeObjectWithName<KPSprite>(QStringLiteral("SideBarTriangleCollapse"));
    p.folderNotFound = KPThemeObject::themeObjectWithName<KPSprite>(QStringLiteral("FolderNotFoundIcon"));
    p.loaded = true;
}

bool KPSideBarImageCell::showsTriangle(const KPNode& node) const
{
    if (!node.hasChildren())
        return false;
    return m_triangleTest ? m_triangleTest(node) : SideBarNodeType::hasOwnTriangle(node.nodeType());
}

int KPSideBarImageCell::rowHeight(const KPNode& node) const
{
    if (m_rowHeightOverride) {
        if (const int height = m_rowHeightOverride(node); height > 0)
            return height;
    }
    if (node.nodeType() == SideBarNodeType::SectionNode)
        return kSectionRowHeight;
    if (m_group) {
        if (auto* value = m_group->themeObjectWithName<KPCustomThemeObjectValue>(QStringLiteral("ItemHeight"))) {
            const double height = value->objectValue().toDouble();
            if (height > 0)
                return int(std::lround(height));
        }
    }
    return kDefaultRowHeight;
}

KPSideBarImageCell::RightEnd KPSideBarImageCell::rightEndOf(const KPNode& node)
{
    if (node.boolShowWarning())
        return RightEnd::Warning;
    if (node.isBusy())
        return RightEnd::Spinner;
    if (node.rightNumber() > 0 && drawsNumberCount())
        return RightEnd::Badge;
    return RightEnd::None;
}

QRectF KPSideBarImageCell::badgeRectForNumber(qint64 number, const QRectF& frame, bool selected) const
{
    const qreal textWidth = platform::kit::textSize(numberText(number), numberAttributes(selected)).width();
    return G::badgeRect(frame, frame.right(), textWidth);
}

namespace {

// A header row's "+" takes the right end; its count stands left of it, this far apart.
constexpr qreal kBadgeButtonGap = 4;

qreal badgeRight(const KPNode& node, const QRectF& frame)
{
    if (!node.boolShowRightButton())
        return frame.right();
    return G::rightButtonRect(frame, frame.right()).left() - kBadgeButtonGap + G::kRightInset;
}

} // namespace

QRectF KPSideBarImageCell::badgeRectForNode(const KPNode& node, const QRectF& frame, bool selected) const
{
    const qreal textWidth = platform::kit::textSize(numberText(node.rightNumber()), numberAttributes(selected)).width();
    return G::badgeRect(frame, badgeRight(node, frame), textWidth);
}

QRectF KPSideBarImageCell::titleRectForNode(const KPNode& node, const QRectF& frame) const
{
    const qreal right = frame.right();
    qreal limit = right;
    if (node.rightNumber() > 0) {
        // The room a count takes is measured in the small bold system font, whichever font the
        // badge is drawn in.
        const TextAttributes measure = TextAttributes::plain(FontResolver::boldSystemFont(kBadgeFontSize));
        limit = G::badgeX(badgeRight(node, frame), platform::kit::textSize(numberText(node.rightNumber()), measure).width());
    }
    // Whatever else the right end shows is kept clear of the title too.
    switch (rightEndOf(node)) {
    case RightEnd::Warning:
        limit = std::min(limit, G::warningRect(frame, right).left());
        break;
    case RightEnd::Spinner:
        limit = std::min(limit, G::spinnerRect(frame, right).left());
        break;
    case RightEnd::Badge:
        limit = std::min(limit, badgeRectForNode(node, frame, false).left());
        break;
    case RightEnd::None:
        break;
    }
    if (node.boolShowRightButton())
        limit = std::min(limit, G::rightButtonRect(frame, right).left());
    return G::titleRect(frame, !node.icon().isNull(), limit);
}

TextAttributes KPSideBarImageCell::titleAttributes(const KPNode& node, bool selected) const
{
    QString name = QStringLiteral("ItemFont");
    QColor fallback = kTitleColor;
    if (selected) {
        name = QStringLiteral("ItemFont-Selected");
        fallback = kSelectedTitleColor;
    } else if (node.isRoot()) {
        name = QStringLiteral("SectionFont");
        fallback = kSectionTitleColor;
    }
    auto* style = m_group ? m_group->themeObjectWithName<KPTextStyle>(name) : nullptr;
    TextAttributes attrs = attributesFrom(style, FontResolver::systemFont(kTitleFontSize), fallback);
    attrs.hasParagraphStyle = true;
    attrs.alignment = 0;     // left
    attrs.lineBreakMode = 4; // truncated at the tail
    return attrs;
}

TextAttributes KPSideBarImageCell::numberAttributes(bool selected) const
{
    const QString name = selected ? QStringLiteral("ItemNumberFont-Selected") : QStringLiteral("ItemNumberFont");
    auto* style = m_group ? m_group->themeObjectWithName<KPTextStyle>(name) : nullptr;
    // Without a group: light blue on black when selected, the standard text colour otherwise.
    const QColor fallback = selected ? kSelectedBadgeTextColor : QColor(Qt::black);
    TextAttributes attrs = attributesFrom(m_group ? style : nullptr, FontResolver::boldSystemFont(kBadgeFontSize), fallback);
    attrs.hasParagraphStyle = true;
    attrs.alignment = 2; // centred
    attrs.lineBreakMode = 2;
    return attrs;
}

QColor KPSideBarImageCell::numberFill(bool selected) const
{
    if (m_group) {
        const QString name = selected ? QStringLiteral("ItemNumberSelectedBGColor") : QStringLiteral("ItemNumberBGColor");
        if (auto* color = m_group->themeObjectWithName<KPColor>(name); color && color->color())
            return *color->color();
    }
    return selected ? kSelectedBadgeFill : kBadgeFill;
}

QSize KPSideBarImageCell::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const KPNode* node = nodeOf(index);
    return QSize(option.rect.width(), node ? rowHeight(*node) : kDefaultRowHeight);
}

void KPSideBarImageCell::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const KPNode* node = nodeOf(index);
    if (!node)
        return;
    const QRectF frame = option.rect;
    const qreal right = frame.right();
    const bool selected = option.state & QStyle::State_Selected;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::SmoothPixmapTransform);

    const QImage& icon = selected && !node->highlightIcon().isNull() ? node->highlightIcon() : node->icon();
    if (!icon.isNull())
        painter->drawImage(G::iconRect(frame, icon.deviceIndependentSize()), icon);

    // A title being edited is the editor's to show.
    if (!(option.state & QStyle::State_Editing))
        drawTitle(*painter, *node, titleRectForNode(*node, frame), selected);

    if (node->isBusy())
        drawSpinner(*painter, *node, G::spinnerRect(frame, right));

    const SharedPictures& shared = pictures();
    if (showsTriangle(*node)) {
        KPSprite* sprite = (option.state & QStyle::State_Open) ? shared.triangleCollapse : shared.triangleExpand;
        if (sprite && !sprite->image().isNull())
            painter->drawImage(G::triangleRect(frame), sprite->image());
    }

    switch (rightEndOf(*node)) {
    case RightEnd::Warning:
        if (shared.folderNotFound && !shared.folderNotFound->image().isNull()) {
            painter->setOpacity(node->boolShowWarningIn() ? kHoverWarningOpacity : 1.0);
            painter->drawImage(G::warningRect(frame, right), shared.folderNotFound->image());
            painter->setOpacity(1.0);
        }
        break;
    case RightEnd::Badge:
        drawBadge(*painter, node->rightNumber(), frame, badgeRight(*node, frame), selected);
        break;
    case RightEnd::Spinner:
    case RightEnd::None:
        break;
    }

    if (node->boolShowRightButton() && node->rightButtonSprite()) {
        KPSprite* sprite = node->rightButtonSprite()->normalSprite();
        if (sprite && !sprite->image().isNull())
            painter->drawImage(G::rightButtonRect(frame, right), sprite->image());
    }
    painter->restore();
}

void KPSideBarImageCell::drawTitle(QPainter& painter, const KPNode& node, const QRectF& rect, bool selected) const
{
    if (node.title().isEmpty() || rect.width() <= G::kTitleHeadIndent)
        return;
    const TextAttributes attrs = titleAttributes(node, selected);
    const qreal textHeight = platform::kit::textSize(node.title(), attrs).height();
    const QRectF text(rect.x() + G::kTitleHeadIndent, rect.y() + std::round((rect.height() - textHeight) / 2) - 2,
                      rect.width() - G::kTitleHeadIndent, textHeight);
    drawTextIn(painter, text, node.title(), attrs);
}

void KPSideBarImageCell::drawBadge(QPainter& painter, qint64 number, const QRectF& frame, qreal right, bool selected) const
{
    const TextAttributes attrs = numberAttributes(selected);
    const QString text = numberText(number);
    const QSizeF size = platform::kit::textSize(text, attrs);
    const QRectF badge = G::badgeRect(frame, right, size.width());
    QPainterPath path;
    path.addRoundedRect(badge, G::kBadgeRadius, G::kBadgeRadius);
    painter.fillPath(path, numberFill(selected));
    const qreal middle = frame.center().y();
    const QRectF textRect(badge.x() + G::kRightInset, middle - size.height() / 2 - 1,
                          G::badgeTextWidth(size.width()), size.height());
    drawTextIn(painter, textRect, text, attrs);
}

void KPSideBarImageCell::drawSpinner(QPainter& painter, const KPNode& node, const QRectF& rect) const
{
    m_spokes->setDoubleValue(double(node.spinnerPhase()) / ProgressIndicatorCellView::kSpokes);
    const qreal width = m_spokes->lineWidth(rect);
    for (const auto& spoke : m_spokes->spokes(rect)) {
        QColor c = m_spokes->color();
        c.setAlphaF(float(spoke.alpha));
        painter.setPen(QPen(c, width, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(spoke.line);
    }
}

QWidget* KPSideBarImageCell::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const
{
    auto* editor = new QLineEdit(parent);
    editor->setFrame(false);
    editor->setAutoFillBackground(false);
    QPalette palette = editor->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    palette.setColor(QPalette::Text, kTitleColor);
    editor->setPalette(palette);
    if (const KPNode* node = nodeOf(index))
        editor->setFont(titleAttributes(*node, false).font);
    return editor;
}

void KPSideBarImageCell::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                              const QModelIndex& index) const
{
    const KPNode* node = nodeOf(index);
    if (!node)
        return;
    const QRectF title = titleRectForNode(*node, QRectF(option.rect));
    editor->setGeometry(title.adjusted(4, 0, -4, 0).toAlignedRect());
}
