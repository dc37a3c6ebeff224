#include "MainWindow/Parts/GridInteraction.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/ItemViews/KPSectionItemView.h"
#include "Browser/KPDataSourceManager.h"
#include "Browser/KPItemViewType.h"
#include "Browser/KPSectionContentLayoutManager.h"
#include "Browser/KPViewSizeManager.h"
#include "Controls/KPThemeImageButton.h"
#include "MainWindow/AppMenuController.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/MainWindowExtensions.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/AnimationPolicy.h"
#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "Platform/Kit/FontResolver.h"
#include "Platform/Kit/Input.h"
#include "Platform/Kit/TextAttributes.h"
#include "SideBar/SideBarNodeType.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPMultiSprite.h"
#include "Theme/KPSprite.h"
#include "Theme/KPThemeObject.h"

#include <QFileInfo>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QLocale>
#include <QPainter>
#include <QPropertyAnimation>
#include <algorithm>
#include <cmath>

namespace keychar = platform::kit::keychar;

namespace {

constexpr int kSearchTitleWidth = 400;
constexpr int kSearchTitleHeight = 70;
constexpr int kSearchTitleBottom = 40;
constexpr int kActionBarBottom = 28;

// Fills the "%ld" and "%@" places of a localized format in order.
QString fillFormat(const QString& format, const QStringList& values)
{
    QString out;
    qsizetype next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format[i] == u'%' && next < values.size()) {
            if (format.mid(i, 3) == QLatin1String("%ld")) {
                out += values[next++];
                i += 2;
                continue;
            }
            if (format.mid(i, 2) == QLatin1String("%@")) {
                out += values[next++];
                i += 1;
                continue;
            }
        }
        out += format[i];
    }
    return out;
}

QString localized(const char* key, const QStringList& values)
{
    return fillFormat(platform::localizedString(QString::fromLatin1(key)), values);
}

// Takes a widget out of the window. Its own events may still be on the stack (a bar button that
// moved the last documents to the Trash), so it goes once they are done.
template <typename W>
void dropLater(QPointer<W>& widget)
{
    if (widget) {
        widget->hide();
        widget->deleteLater();
    }
    widget = nullptr;
}

KPCustomThemeObject* collectionViewTheme()
{
    return KPThemeObject::customThemeObjectWithName(QStringLiteral("CollectionView"));
}

// The action bar: the tool-bar image of the current theme under five buttons.
class ActionBarView final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        KPCustomThemeObject* theme = collectionViewTheme();
        auto* background = theme ? theme->themeObjectWithName<KPSprite>(QStringLiteral("MSToolBarBG")) : nullptr;
        if (!background)
            return;
        QPainter painter(this);
        painter.drawImage(rect(), background->image());
    }
};

} // namespace

// The type-to-find overlay: the text typed so far over a dark rounded rectangle.
class GridInteraction::SearchTitleView final : public QWidget {
public:
    SearchTitleView(QWidget* parent, const MainWindowState& state) : QWidget(parent), m_state(state)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        m_opacity = new QGraphicsOpacityEffect(this);
        m_opacity->setOpacity(1);
        setGraphicsEffect(m_opacity);
    }
    QGraphicsOpacityEffect* opacity() const { return m_opacity; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        platform::kit::Canvas canvas(painter, height());
        const QRectF bounds(0, 0, width(), height());
        canvas.fillPath(platform::kit::Canvas::roundRectPath(bounds, 8), QColor(0, 0, 0, int(0.7 * 255)));
        const QString& text = m_state.searchTitleKeyDownCharStr;
        if (text.isEmpty())
            return;
        platform::kit::TextAttributes title;
        title.font = font(18);
        title.color = Qt::white;
        title.hasParagraphStyle = true;
        title.alignment = 2; // centred
        canvas.drawText(QRectF(0, 30, width(), 40), fillFormat(platform::localizedString(QStringLiteral("Search Title: %@")), {text}), title);
        platform::kit::TextAttributes hint = title;
        hint.font = font(12);
        hint.color = Qt::lightGray;
        canvas.drawText(QRectF(0, 0, width(), 30), platform::localizedString(QStringLiteral("Press ESC to cancel")), hint);
    }

private:
    static QFont font(qreal size)
    {
        return platform::kit::FontResolver::fontNamed(QStringLiteral("Comic Sans MS"), size)
            .value_or(platform::kit::FontResolver::systemFont(size));
    }

    const MainWindowState& m_state;
    QGraphicsOpacityEffect* m_opacity = nullptr;
};

GridInteraction::GridInteraction(MainWindowContext& ctx) : m_ctx(ctx), m_alive(std::make_shared<bool>(true)) {}

GridInteraction::~GridInteraction()
{
    m_searchTitleHideTimer.cancel();
    m_titlePrepareTimer.cancel();
    dropLater(m_actionContentView);
    dropLater(m_searchTitleView);
}

void GridInteraction::install()
{
    if (!m_ctx.gridDataSource)
        return;
    GridActions& actions = m_ctx.gridDataSource->actions;
    actions.keyDown = [this](QKeyEvent* event) { collectionViewKeyDown(event); };
    actions.itemDidSelected = [this] { collectionViewItemDidSelected(); };
    actions.swipeChange = [this](int type) { collectionViewSwipeChange(type); };
    actions.reloaded = [this] { gridReloaded(); };
}

int GridInteraction::itemViewType() const
{
    return m_ctx.viewSizeManager ? int(m_ctx.viewSizeManager->itemViewType()) : 0;
}

// ---- keys ----

void GridInteraction::collectionViewKeyDown(QKeyEvent* event)
{
    KPCollectionView* grid = m_ctx.collectionView;
    if (!event || !grid)
        return;
    char16_t key = platform::kit::Input::keyCharacter(event);
    if (key == keychar::ForwardDelete)
        key = keychar::Delete;
    const QList<KPSectionIndexSet>& selected = grid->selectedIndexs();
    switch (key) {
    case keychar::Return:
        if (!selected.isEmpty()) {
            if (auto* view = dynamic_cast<KPSectionItemView*>(grid->itemViewWithIndexSet(selected.last())))
                view->rename();
        }
        return;
    case u' ':
        if (!selected.isEmpty() && togglePreview)
            togglePreview();
        return;
    case keychar::UpArrow:
    case keychar::DownArrow:
    case keychar::LeftArrow:
    case keychar::RightArrow:
        navigationByArrowKey(key);
        return;
    default:
        break;
    }
    const int type = itemViewType();
    if (type >= KPItemViewTypeMonth && type <= KPItemViewTypeSafeBox)
        return;
    if (key == keychar::Escape) {
        if (!m_ctx.state.searchTitleKeyDownCharStr.isEmpty())
            clearSearchTitle();
        return;
    }
    const bool accepted = (key >= u'a' && key <= u'{') || (key >= u'0' && key <= u'9') || key == keychar::Delete;
    if (!accepted || (event->modifiers() & Qt::ControlModifier))
        return;
    typeToFind(key);
}

bool GridInteraction::typeToFind(char16_t character)
{
    QString& text = m_ctx.state.searchTitleKeyDownCharStr;
    if (character == keychar::Delete) {
        if (text.isEmpty())
            return false;
        if (text.size() == 1) {
            clearSearchTitle();
            return true;
        }
        text.chop(1);
    } else {
        text += QChar(character);
    }
    refilter(text, text.size() == 1 && character != keychar::Delete);
    showSearchTitleWindow();
    return true;
}

void GridInteraction::clearSearchTitle()
{
    m_ctx.state.searchTitleKeyDownCharStr.clear();
    refilter(QString());
    if (m_searchTitleView)
        m_searchTitleView->update();
}

void GridInteraction::refilter(const QString& text, bool started)
{
    if (!m_ctx.dataSourceManager || !m_ctx.gridDataSource)
        return;
    QList<KPSectionDataPtr>& shown = m_ctx.gridDataSource->dataSource();
    // A search narrows the listing the grid shows as it began. When the grid changed under a
    // search (a save listed again, a section lost a document), the whole listing is grouped
    // again to narrow from.
    if (!m_titleFinder.isCurrent(shown)) {
        if (!started)
            m_ctx.gridDataSource->grouping().createDataAndFileDataByGroupSortSetting(m_ctx.dataSourceManager->dataSource());
        m_titleFinder.prepare(shown);
    }
    m_titlePrepareTimer.cancel();
    shown = m_titleFinder.narrowed(text);
    m_ctx.gridDataSource->reloadData();
    KPCollectionView* grid = m_ctx.collectionView;
    if (!grid)
        return;
    // Typing finds: the first match is selected and brought into view.
    if (!text.isEmpty() && grid->sectionCount() > 0 && grid->itemCountWithSectionIndex(0) > 0) {
        grid->selectItemIndexWithSectionIndexSet(KPSectionIndexSet(0, 0));
    } else {
        grid->deselect();
        grid->doCollectionViewItemSelectedNotify();
    }
}

void GridInteraction::gridReloaded()
{
    if (!m_ctx.state.searchTitleKeyDownCharStr.isEmpty() || !m_ctx.gridDataSource
        || m_titleFinder.isCurrent(m_ctx.gridDataSource->dataSource()))
        return;
    platform::kit::Scheduler& scheduler = m_ctx.scheduler ? *m_ctx.scheduler : platform::kit::Scheduler::current();
    m_titlePrepareTimer = scheduler.after(kTitlePrepareDelayMs, [this] { prepareTitleSlice(); });
}

void GridInteraction::prepareTitleSlice()
{
    // A search that began since folds what is left itself.
    if (!m_ctx.state.searchTitleKeyDownCharStr.isEmpty() || !m_ctx.gridDataSource)
        return;
    const int type = itemViewType();
    if (type >= KPItemViewTypeMonth && type <= KPItemViewTypeSafeBox)
        return;
    if (m_titleFinder.prepareSome(m_ctx.gridDataSource->dataSource(), kTitlesPerSlice))
        return;
    platform::kit::Scheduler& scheduler = m_ctx.scheduler ? *m_ctx.scheduler : platform::kit::Scheduler::current();
    m_titlePrepareTimer = scheduler.after(kTitleSliceGapMs, [this] { prepareTitleSlice(); });
}

// ---- the type-to-find overlay ----

void GridInteraction::showSearchTitleWindow()
{
    QWidget* center = m_ctx.centerView;
    if (!center)
        return;
    if (!m_searchTitleView)
        m_searchTitleView = new SearchTitleView(center, m_ctx.state);
    // Centred again each time: the window may have been resized since the last search.
    const int x = int(std::lround((center->width() - kSearchTitleWidth) / 2.0));
    m_searchTitleView->setGeometry(x, center->height() - kSearchTitleBottom - kSearchTitleHeight, kSearchTitleWidth,
                                   kSearchTitleHeight);
    // A fade still running from the last pause must not finish after the overlay came back.
    for (auto* animation : m_searchTitleView->opacity()->findChildren<QPropertyAnimation*>())
        animation->stop();
    m_searchTitleView->opacity()->setOpacity(1);
    m_searchTitleView->show();
    m_searchTitleView->raise();
    m_searchTitleView->update();
    platform::kit::Scheduler& scheduler = m_ctx.scheduler ? *m_ctx.scheduler : platform::kit::Scheduler::current();
    m_searchTitleHideTimer = scheduler.after(kSearchTitleHideMs, [this] { onSearchTitleContentViewHideTimer(); });
}

void GridInteraction::onSearchTitleContentViewHideTimer()
{
    m_searchTitleHideTimer.cancel();
    if (!m_searchTitleView)
        return;
    const platform::kit::AnimationPolicy& policy =
        m_ctx.animation ? *m_ctx.animation : platform::kit::AnimationPolicy::current();
    QGraphicsOpacityEffect* effect = m_searchTitleView->opacity();
    if (QPropertyAnimation* fade = policy.animate(effect, "opacity", 0.0, kSearchTitleFadeMs))
        fade->setParent(effect);
}

QWidget* GridInteraction::searchTitleWindowContentView() const
{
    return m_searchTitleView.data();
}

double GridInteraction::searchTitleOpacity() const
{
    return m_searchTitleView && m_searchTitleView->isVisible() ? m_searchTitleView->opacity()->opacity() : 0.0;
}

// ---- arrow navigation ----

std::optional<KPSectionIndexSet> GridInteraction::navigationTarget(QList<KPSectionIndexSet> selected, char16_t key,
                                                                   const NavigationShape& shape)
{
    if (selected.isEmpty() || shape.sectionCount <= 0 || !shape.itemCount)
        return std::nullopt;
    if (key != keychar::UpArrow && key != keychar::DownArrow && key != keychar::LeftArrow && key != keychar::RightArrow)
        return std::nullopt;
    auto count = [&](qint64 s) { return std::max<qint64>(0, shape.itemCount(s)); };
    // Addresses whose documents went since they were selected are no place to start from.
    selected.removeIf([&](const KPSectionIndexSet& a) {
        return a.sectionIndex() < 0 || a.sectionIndex() >= shape.sectionCount || a.itemIndex() < 0
            || a.itemIndex() >= count(a.sectionIndex());
    });
    if (selected.isEmpty())
        return std::nullopt;
    std::sort(selected.begin(), selected.end());
    const KPSectionIndexSet first = selected.front();
    const KPSectionIndexSet last = selected.back();
    const qint64 sections = shape.sectionCount;

    if (shape.oneItemPerRow)
        key = key == keychar::UpArrow ? keychar::LeftArrow : key == keychar::DownArrow ? keychar::RightArrow : key;

    if (key == keychar::LeftArrow) {
        const qint64 s = first.sectionIndex(), i = first.itemIndex();
        if (i > 0)
            return KPSectionIndexSet(s, i - 1);
        // The nearest earlier section that holds anything; an empty one has no last item.
        for (qint64 p = s - 1; p >= 0; --p) {
            if (count(p) > 0)
                return KPSectionIndexSet(p, count(p) - 1);
        }
        return first;
    }
    if (key == keychar::RightArrow) {
        const qint64 s = last.sectionIndex(), i = last.itemIndex();
        if (i < count(s) - 1)
            return KPSectionIndexSet(s, i + 1);
        for (qint64 n = s + 1; n < sections; ++n) {
            if (count(n) > 0)
                return KPSectionIndexSet(n, 0);
        }
        return last;
    }
    const qint64 columns = std::max<qint64>(1, shape.columnCount ? shape.columnCount(first.sectionIndex()) : 1);
    if (key == keychar::UpArrow) {
        const qint64 s = first.sectionIndex(), i = first.itemIndex();
        if (i - columns >= 0)
            return KPSectionIndexSet(s, i - columns);
        for (qint64 p = s - 1; p >= 0; --p) {
            const qint64 m = count(p) - 1;
            if (m < 0)
                continue;
            const qint64 column = i % columns;
            return KPSectionIndexSet(p, m % columns < column ? m : m - (m % columns) + column);
        }
        return first;
    }
    const qint64 s = last.sectionIndex(), i = last.itemIndex();
    if (i + columns < count(s))
        return KPSectionIndexSet(s, i + columns);
    for (qint64 n = s + 1; n < sections; ++n) {
        if (count(n) > 0)
            return KPSectionIndexSet(n, i % columns < count(n) ? i % columns : 0);
    }
    // Down on the last row stays where it is.
    return last;
}

void GridInteraction::navigationByArrowKey(char16_t key)
{
    KPCollectionView* grid = m_ctx.collectionView;
    if (!grid || grid->selectedIndexs().isEmpty())
        return;
    NavigationShape shape;
    shape.sectionCount = grid->sectionCount();
    shape.itemCount = [grid](qint64 s) { return grid->itemCountWithSectionIndex(s); };
    shape.columnCount = [grid](qint64 s) -> qint64 {
        KPSectionContentLayoutManager* layout = grid->layoutManagerWithSectionIndex(s);
        const std::optional<QRectF> rect = grid->sectionRect(s);
        return layout ? layout->itemViewColWithContainerHeight(rect ? rect->height() : 0) : 1;
    };
    shape.oneItemPerRow = m_ctx.viewSizeManager && m_ctx.viewSizeManager->isListMode();
    const std::optional<KPSectionIndexSet> target = navigationTarget(grid->selectedIndexs(), key, shape);
    if (!target)
        return;
    grid->selectItemIndexWithSectionIndexSet(*target);
}

// ---- selection change ----

void GridInteraction::collectionViewItemDidSelected()
{
    KPCollectionView* grid = m_ctx.collectionView;
    const QList<KPSectionIndexSet> selected = grid ? grid->selectedIndexs() : QList<KPSectionIndexSet>{};
    const qsizetype k = selected.size();
    const KPNode::Ptr& node = m_ctx.state.shownNode;
    const bool inTrash = node && node->nodeType() == SideBarNodeType::TrashNode;
    const int type = itemViewType();

    if (AppMenuController* menu = m_ctx.appMenu) {
        menu->setBNewFolderFromSelection(k >= 1);
        menu->setBHasFileSelected(k >= 1);
        menu->setBMoveToTrash(k >= 1);
        menu->setBCanMerge(false);
        if (inTrash)
            menu->setBMoveToTrash(false);
    }

    // Made once: thousands of selected documents each load their display values for it.
    const QList<KPItemDataPtr> items =
        k > 0 && m_ctx.gridDataSource ? m_ctx.gridDataSource->itemDatasWithSectionIndexSets(selected) : QList<KPItemDataPtr>{};
    if (PropertyPane* inspector = m_ctx.inspector) {
        if (k == 0)
            inspector->showItemDatas({}, 0);
        else
            inspector->showItemDatas(items, type);
        if (m_ctx.state.inspectorExpanded)
            inspector->refreshDatas();
    }

    if (type != KPItemViewTypeSafeBox)
        showActionWindow(node && !inTrash && k >= 2, items);

    updateCountText(k);

    if (isPreviewing && isPreviewing() && reloadPreviewItems)
        reloadPreviewItems();
}

void GridInteraction::updateCountText(qsizetype k)
{
    qint64 total = 0;
    const int type = itemViewType();
    if (type == KPItemViewTypeSafeBox) {
        if (m_ctx.gridDataSource) {
            for (const KPSectionDataPtr& section : m_ctx.gridDataSource->dataSource())
                total += section->itemCount();
        }
    } else if (m_ctx.dataSourceManager) {
        total = m_ctx.dataSourceManager->dataSource().size();
    }
    const QLocale locale;
    QString text;
    bool shown = total > 0;
    if (k >= 1)
        text = localized("%ld of %ld selected", {QString::number(k), QString::number(total)});
    else if (!m_ctx.state.globleSearchLastString.isEmpty())
        text = total == 1 ? localized("%ld document found", {QStringLiteral("1")})
                          : localized("%@ documents found", {locale.toString(total)});
    else
        text = total == 1 ? localized("%ld document", {QStringLiteral("1")})
                          : localized("%@ documents", {locale.toString(total)});

    if (type == KPItemViewTypeAuthor && m_ctx.gridDataSource && !m_ctx.gridDataSource->dataSource().isEmpty()) {
        const qint64 authors = m_ctx.gridDataSource->dataSource().last()->itemCount();
        if (authors > 0) {
            text = authors == 1 ? localized("%ld author", {QStringLiteral("1")})
                                : localized("%ld authors", {QString::number(authors)});
            shown = true;
        }
    }
    setCountText(text, shown);
}

void GridInteraction::setCountText(const QString& text, bool shown)
{
    m_countText = text;
    m_countShown = shown;
    if (countTextChanged)
        countTextChanged(text, shown);
}

// ---- the action bar ----

void GridInteraction::showActionWindow(bool show)
{
    const QList<KPItemDataPtr> items = show && m_ctx.collectionView && m_ctx.gridDataSource
        ? m_ctx.gridDataSource->itemDatasWithSectionIndexSets(m_ctx.collectionView->selectedIndexs())
        : QList<KPItemDataPtr>{};
    showActionWindow(show, items);
}

void GridInteraction::showActionWindow(bool show, const QList<KPItemDataPtr>& items)
{
    if (!show) {
        dropLater(m_actionContentView);
        return;
    }
    QWidget* center = m_ctx.centerView;
    if (!center)
        return;
    if (!m_actionContentView) {
        auto* bar = new ActionBarView(center);
        bar->resize(kActionBarWidth, kActionBarHeight);
        struct Button {
            const char* sprite;
            int tag;
            std::function<void()> action;
        };
        std::weak_ptr<bool> alive = m_alive;
        auto perform = [this, alive](const QString& name, int tag) {
            if (!alive.expired() && m_ctx.commands)
                m_ctx.commands->perform(name, platform::kit::makeSender(tag));
        };
        const Button buttons[] = {
            {"MSButton_Tag", 1, [perform] { perform(kShowTagsCommand, 1); }},
            {"MSButton_QuickLook", 1, [this, alive] { if (!alive.expired() && togglePreview) togglePreview(); }},
            {"MSButton_Merge", 2, [perform] { perform(kMergePDFCommand, 2); }},
            // The share menu opens under the button that asked for it.
            {"MSButton_Share", 3, [this, alive] {
                 if (!alive.expired() && m_ctx.commands)
                     m_ctx.commands->perform(kShareCommand, platform::kit::makeSender(3, QVariant::fromValue<QObject*>(m_shareButton.data())));
             }},
            {"MSButton_Delete", 4, [perform] { perform(kMoveToTrashCommand, 4); }},
        };
        KPCustomThemeObject* theme = collectionViewTheme();
        int x = 21;
        for (const Button& b : buttons) {
            // y = 10 from the bar's bottom.
            auto* button = new KPThemeImageButton(QRect(x, kActionBarHeight - 10 - 28, 28, 28), bar);
            button->setTag(b.tag);
            button->setObjectName(QString::fromLatin1(b.sprite));
            if (theme)
                button->setMultiSprite(theme->themeObjectWithName<KPMultiSprite>(QString::fromLatin1(b.sprite)));
            button->setupAction([action = b.action](KPThemeImageButton*) { action(); });
            if (b.tag == 2)
                m_mergeButton = button;
            if (b.tag == 3)
                m_shareButton = button;
            x += 49;
        }
        m_actionContentView = bar;
    }
    // The record's path names the file as the drawn path does, without loading what a model
    // draws: a Select All of thousands would load every one of them here.
    const bool allPdf = !items.isEmpty() && std::all_of(items.begin(), items.end(), [](const KPItemDataPtr& item) {
        const QString path = item->data() ? item->data().path() : item->filePath();
        return QFileInfo(path).suffix().toLower() == QLatin1String("pdf");
    });
    if (m_mergeButton)
        m_mergeButton->setEnabled(allPdf);
    if (m_ctx.appMenu)
        m_ctx.appMenu->setBCanMerge(allPdf);
    updateActionWindowPosition();
}

void GridInteraction::updateActionWindowPosition()
{
    QWidget* center = m_ctx.centerView;
    if (!m_actionContentView || !center)
        return;
    const int x = int(std::lround((center->width() - kActionBarWidth) / 2.0));
    const QRect frame(x, center->height() - kActionBarBottom - kActionBarHeight, kActionBarWidth, kActionBarHeight);
    if (m_actionContentView->geometry() != frame)
        m_actionContentView->setGeometry(frame);
    if (m_actionContentView->parentWidget() != center)
        m_actionContentView->setParent(center);
    m_actionContentView->show();
    m_actionContentView->raise();
}

// ---- swipes ----

void GridInteraction::collectionViewSwipeChange(int type)
{
    const bool back = backButtonVisible && backButtonVisible();
    if (type == 2) {
        if (back) {
            if (backButtonClick)
                backButtonClick();
        } else if (setLeftSideBarExpand) {
            setLeftSideBarExpand(true);
        }
    } else if (type == 1 && !back && setLeftSideBarExpand) {
        setLeftSideBarExpand(false);
    }
}
