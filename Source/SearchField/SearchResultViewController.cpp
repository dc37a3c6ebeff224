#include "SearchField/SearchResultViewController.h"

#include "Controls/KPThemeImageButton.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/Input.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPMultiSprite.h"
#include "Theme/KPThemeManager.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Kit/FontResolver.h"
#include "Theme/KPSprite.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>

namespace {

constexpr int kUpArrow = 63232;
constexpr int kDownArrow = 63233;

constexpr int kKindRole = Qt::UserRole + 1;

// The theme sprite drawn beside a row of a kind ("#", "." or "@"); none for the free-text row.
const KPSprite* kindSprite(const QString& kind, bool selected)
{
    const char* name = kind == u"#"   ? "SearchPanel_Tag_Button"
                       : kind == u"." ? "SearchPanel_FileType_Button"
                       : kind == u"@" ? "SearchPanel_Author_Button"
                                      : nullptr;
    if (!name)
        return nullptr;
    const KPCustomThemeObject* theme =
        KPThemeManager::themeManager()->customThemeObjectWithName(QStringLiteral("Search"));
    const KPMultiSprite* states = theme ? theme->themeObjectWithName<KPMultiSprite>(QLatin1String(name)) : nullptr;
    if (!states)
        return nullptr;
    const KPSprite* sprite = selected && states->highlightSprite() ? states->highlightSprite() : states->normalSprite();
    return sprite && !sprite->image().isNull() ? sprite : nullptr;
}

// The separator strip under every row, read once and kept for the whole run; the sharper
// picture serves scaled screens.
const QImage& separatorImage(qreal dpr)
{
    static const auto load = [](const QString& name, qreal scale) {
        const QString path = platform::Bundle::mainBundle().pathForResource(name, QStringLiteral("png"));
        QImage image = path.isEmpty() ? QImage() : QImage(path);
        if (image.isNull())
            KPLogLogMessage(QStringLiteral("search: the suggestion list's separator picture %1 is missing").arg(name));
        image.setDevicePixelRatio(scale);
        return image;
    };
    static const QImage one = load(QStringLiteral("KPSearchTextEditor_ResultWindowLine"), 1);
    static const QImage two = load(QStringLiteral("KPSearchTextEditor_ResultWindowLine@2x"), 2);
    return dpr > 1 && !two.isNull() ? two : one;
}

// A row: the selection in the list's own blue, the separator at its foot, the kind's icon and
// the title, white on the selection.
class RowDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const bool selected = option.state & QStyle::State_Selected;
        const QRect row = option.rect;
        painter->save();
        if (selected)
            painter->fillRect(row, QColor(52, 145, 250));
        const QImage& line = separatorImage(painter->device() ? painter->device()->devicePixelRatioF() : 1);
        if (!line.isNull()) {
            painter->setOpacity(0.4);
            painter->drawImage(QRectF(row.x(), row.bottom() + 1 - line.deviceIndependentSize().height(), row.width(),
                                      line.deviceIndependentSize().height()),
                               line);
            painter->setOpacity(1);
        }
        int textLeft = row.x() + SearchResultViewController::kTextInset;
        if (const KPSprite* sprite = kindSprite(index.data(kKindRole).toString(), selected)) {
            const QRectF icon = SearchResultViewController::iconRect(row);
            painter->setRenderHint(QPainter::Antialiasing);
            painter->setRenderHint(QPainter::SmoothPixmapTransform);
            QPainterPath rounded;
            rounded.addRoundedRect(icon, SearchResultViewController::kIconRadius, SearchResultViewController::kIconRadius);
            painter->setClipPath(rounded);
            painter->drawImage(icon, sprite->image());
            painter->setClipping(false);
            textLeft = int(icon.right()) + SearchResultViewController::kIconTextGap;
        }
        static const QFont font =
            platform::kit::FontResolver::fontNamed(QStringLiteral("LucidaGrande"), 12).value_or(
                platform::kit::FontResolver::systemFont(12));
        painter->setFont(font);
        painter->setPen(selected ? QColor(Qt::white) : QColor(99, 99, 99));
        const QRect text(textLeft, row.y(), std::max(0, row.right() - 6 - textLeft), row.height());
        painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
                          QFontMetrics(font).elidedText(index.data().toString(), Qt::ElideRight, text.width()));
        painter->restore();
    }
    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override
    {
        return {0, SearchResultViewController::kRowHeight};
    }
};

QStringList beginningWith(const QStringList& names, const QString& prefix)
{
    if (prefix.isEmpty())
        return names;
    QStringList out;
    const auto predicate = platform::Predicate::format(QStringLiteral("SELF BEGINSWITH[cd] %@"), {prefix});
    for (const QString& name : names) {
        if (predicate && predicate->evaluate(QVariant(name)))
            out.append(name);
    }
    return out;
}

} // namespace

SearchResultViewController::SearchResultViewController(Services services, QWidget* parent)
    : QWidget(parent), m_services(std::move(services))
{
    setFocusPolicy(Qt::NoFocus);
    for (int i = 0; i < 3; ++i) {
        auto* button = new KPThemeImageButton(QRect(QPoint(0, kTabTop), kTabSize), this);
        button->setTag(i + 1);
        button->setIsFillAll(false);
        // The lit tab stands on a rounded patch of the list's blue.
        button->setupDrawBGAction([](KPThemeImageButton* b, QPainter& painter, const QRectF&) {
            if (!b->isHighlight())
                return;
            painter.save();
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(52, 145, 250));
            painter.drawRoundedRect(QRectF(b->rect()), 3, 3);
            painter.restore();
        });
        button->setFocusPolicy(Qt::NoFocus);
        const int tag = i + 1;
        // A tab shows its whole kind: what was typed so far no longer narrows the list.
        button->setupAction([this, tag](KPThemeImageButton*) { onButtonClick(tag); });
        m_tabs[i] = button;
    }
    m_list = new QListWidget(this);
    m_list->setFocusPolicy(Qt::NoFocus);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setItemDelegate(new RowDelegate(m_list));
    m_list->setSpacing(1);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QObject::connect(m_list, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        const int row = m_list->row(item);
        if (row >= 0 && onSearchResultValueChange)
            onSearchResultValueChange(rowValue(row));
    });
    resize(kWidth, 160);
    layoutSubViews();
    themeUpdate();
    // The rows fetch their pictures as they draw; the tabs keep theirs until the theme changes.
    m_themeObserver = platform::NotificationCenter::defaultCenter().addObserver(
        KPThemeManager::kThemeChangeNotification, [this](const platform::Notification&) { themeUpdate(); });
}

void SearchResultViewController::themeUpdate()
{
    static const char* const kSprites[3] = {"SearchPanel_Tag_Button", "SearchPanel_FileType_Button",
                                            "SearchPanel_Author_Button"};
    const KPCustomThemeObject* theme =
        KPThemeManager::themeManager()->customThemeObjectWithName(QStringLiteral("Search"));
    for (int i = 0; i < 3; ++i)
        m_tabs[i]->setMultiSprite(theme ? theme->themeObjectWithName<KPMultiSprite>(QString::fromLatin1(kSprites[i]))
                                        : nullptr);
    update();
}

void SearchResultViewController::layoutSubViews()
{
    // The three tabs side by side in the middle of the top strip, 56 points apart.
    const int left = qRound((width() - 146) / 2.0);
    for (int i = 0; i < 3; ++i)
        m_tabs[i]->setGeometry(QRect(QPoint(left + i * kTabPitch, kTabTop), kTabSize));
}

void SearchResultViewController::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutSubViews();
}

void SearchResultViewController::paintEvent(QPaintEvent*)
{
    // The line picture across the foot of the tabs' strip, just above the list.
    const QImage& line = separatorImage(devicePixelRatioF());
    if (line.isNull())
        return;
    QPainter painter(this);
    const qreal height = line.deviceIndependentSize().height();
    painter.drawImage(QRectF(0, kListTop - height, width(), height), line);
}

void SearchResultViewController::onButtonClick(int tag)
{
    selectButtonByTag(tag);
    m_query.reset();
    doSearchByPredicateValue(std::nullopt);
}

KPThemeImageButton* SearchResultViewController::tabButton(int tag) const
{
    return tag >= 1 && tag <= 3 ? m_tabs[tag - 1] : nullptr;
}

QRectF SearchResultViewController::iconRect(const QRect& row)
{
    return QRectF(row.x() + kTextInset, row.y() + (row.height() - kIconSize) / 2.0, kIconSize, kIconSize);
}

QRect SearchResultViewController::rowRect(int row) const
{
    if (row < 0 || row >= rowCount())
        return {};
    return m_list->visualItemRect(m_list->item(row)).translated(m_list->viewport()->mapTo(this, QPoint(0, 0)));
}

void SearchResultViewController::selectButtonByTag(int tag)
{
    m_dataType = tag;
    for (int i = 0; i < 3; ++i)
        m_tabs[i]->setIsHighlight(i + 1 == tag);
}

std::optional<QString> SearchResultViewController::doSearchValue(const QString& value)
{
    if (value.isEmpty()) {
        selectButtonByTag(Tags);
        m_query.reset();
        doSearchByPredicateValue(std::nullopt);
        return std::nullopt;
    }
    const QChar first = value.front();
    const int mode = first == u'#' ? Tags : first == u'@' ? Authors : first == u'.' ? FileTypes : Mixed;
    std::optional<QString> query;
    if (mode == Mixed)
        query = value;
    else if (value.size() > 1)
        query = value.mid(1);
    selectButtonByTag(mode);
    m_query = query;
    return doSearchByPredicateValue(query);
}

std::optional<QString> SearchResultViewController::doSearchByPredicateValue(const std::optional<QString>& query)
{
    m_rows.clear();
    const QString prefix = query.value_or(QString());
    const auto tags = [&] { return m_services.tagNames ? m_services.tagNames(prefix, kFetchLimit) : QStringList(); };
    const auto authors = [&] { return m_services.authorNames ? m_services.authorNames(prefix, kFetchLimit) : QStringList(); };
    const auto extensions = [&] {
        QStringList list = beginningWith(m_services.extensions ? m_services.extensions() : QStringList(), prefix);
        list.sort(Qt::CaseInsensitive);
        return list.mid(0, kFetchLimit);
    };
    const auto kind = [&](const QString& ext) { return m_services.kindName ? m_services.kindName(ext) : QString(); };
    std::optional<QString> completion;
    switch (m_dataType) {
    case Tags:
        for (const QString& name : tags())
            m_rows.push_back({name, "#" + name, "#"});
        break;
    case Authors:
        for (const QString& name : authors())
            m_rows.push_back({name, "@" + name, "@"});
        break;
    case FileTypes:
        for (const QString& ext : extensions())
            m_rows.push_back({QStringLiteral("%1(.%2)").arg(kind(ext), ext), "." + ext, "."});
        break;
    default:
        for (const QString& name : tags())
            m_rows.push_back({name, name, "#"});
        for (const QString& ext : extensions())
            m_rows.push_back({kind(ext), ext, "."});
        for (const QString& name : authors())
            m_rows.push_back({name, name, "@"});
        break;
    }
    if (!m_rows.empty())
        completion = m_rows.front().value;
    if (query) {
        m_rows.insert(m_rows.begin(),
                      Row{platform::localizedString(QStringLiteral("Search for '%@'")).replace(QStringLiteral("%@"), *query),
                          *query, QString()});
    }
    reload();
    if (query) {
        if (m_rows.size() >= 2)
            select(m_dataType == Mixed ? 1 : 0);
        else if (m_rows.size() == 1 && m_dataType != Mixed)
            select(0);
    }
    const QSize size = preferredSize();
    resize(size);
    if (onSizeChange)
        onSizeChange(size);
    return completion;
}

std::optional<QString> SearchResultViewController::doMoveRecordByKeyCode(int code)
{
    if (m_rows.empty())
        return std::nullopt;
    int row = selectedRow();
    if (code == kDownArrow)
        ++row;
    else if (code == kUpArrow)
        --row;
    if (row < 0 || row >= rowCount())
        return std::nullopt;
    select(row);
    m_list->scrollToItem(m_list->item(row));
    return rowValue(row);
}

QString SearchResultViewController::selectedRowDataType() const
{
    const int row = selectedRow();
    return row >= 0 ? m_rows[size_t(row)].prefix : QString();
}

int SearchResultViewController::selectedRow() const
{
    return m_list->currentRow() >= 0 && m_list->currentItem() && m_list->currentItem()->isSelected() ? m_list->currentRow()
                                                                                                     : -1;
}

QString SearchResultViewController::rowTitle(int row) const
{
    return row >= 0 && row < rowCount() ? m_rows[size_t(row)].title : QString();
}

QString SearchResultViewController::rowValue(int row) const
{
    return row >= 0 && row < rowCount() ? m_rows[size_t(row)].value : QString();
}

QSize SearchResultViewController::preferredSize() const
{
    if (m_rows.empty())
        return {kWidth, 69};
    return {kWidth, kRowPitch * std::min(rowCount(), kMaxVisibleRows) + kChromeHeight};
}

void SearchResultViewController::reload()
{
    m_list->clear();
    for (const Row& row : m_rows) {
        auto* item = new QListWidgetItem(row.title, m_list);
        item->setData(kKindRole, row.prefix);
    }
    m_list->setGeometry(0, kListTop, kWidth, std::max(0, preferredSize().height() - kListTop));
}

void SearchResultViewController::select(int row)
{
    m_list->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
}
