// A stand-in for the window that feeds the grid: sections stacked from the top as the window
// stacks them (each as high as its layout says, a collapsed one as high as its header), one
// layout manager for every section, KPSectionView or KPNotTitleSectionView sections, and item
// views from a factory. It records what the grid tells it. Shared by the grid's tests and its
// benchmark.
#pragma once

#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/CollectionView/KPSectionView.h"
#include "Browser/KPNotTitleSectionView.h"
#include "Browser/KPSectionContentLayoutManager.h"
#include "Browser/KPSectionData.h"

#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QSet>
#include <functional>
#include <memory>
#include <vector>

namespace gridtest {

// An item view that selects on a click anywhere, is taken by any band it meets, wants hover,
// and counts its constructions.
class CountingItemView : public KPCollectionItemView {
public:
    static inline int constructed = 0;
    explicit CountingItemView(QWidget* parent = nullptr) : KPCollectionItemView(parent) { ++constructed; }

    bool willSelectByPoint(const QPointF&) const override { return true; }
    bool willSelectByRect(const QRectF& rect) const override { return rect.intersects(QRectF(0, 0, width(), height())); }
    bool trackMouseEnterWithEvent(const QPointF&) const override { return true; }
    void mouseEntered(const QPointF&) override { hovered = true; }
    void mouseExited() override { hovered = false; }

    bool hovered = false;
    QString title;

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && !(event->modifiers() & Qt::MetaModifier))
            doSelectedWithEvent(event);
        else
            event->ignore();
    }
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect().adjusted(2, 2, -2, -2), selected() ? QColor(40, 110, 220) : QColor(200, 200, 205));
        p.setPen(selected() ? Qt::white : Qt::black);
        p.drawText(rect(), Qt::AlignCenter, title);
    }
};

// The layout of titled sections with the base class's fixed sizes (100 × 100 items).
class FixedTitledLayout : public KPSectionContentLayoutManager {
public:
    double sectionHeaderViewHeight() const override { return 26; }
};

class FakeGrid : public KPCollectionViewDataSource, public KPCollectionViewDelegate {
public:
    FakeGrid(KPCollectionView* grid, KPSectionContentLayoutManager* layout, bool titled)
        : grid(grid), layout(layout), titled(titled)
    {
        grid->setDataSource(this);
        grid->setDelegate(this);
    }

    // Sections of the given sizes; items are flag records numbered section × 1,000,000 + index.
    void setSections(const std::vector<qint64>& counts)
    {
        sections.clear();
        for (size_t s = 0; s < counts.size(); ++s) {
            QList<KPSectionItem> items;
            items.reserve(counts[s]);
            for (qint64 i = 0; i < counts[s]; ++i)
                items.append(FlagGroupRecord{qint64(s) * 1000000 + i, {}});
            sections.append(KPSectionData::create(QStringLiteral("Section %1").arg(s), std::move(items)));
        }
    }

    // ---- data source ----
    qint64 collectionViewSectionCount(KPCollectionView*) override { return sections.size(); }
    qint64 collectionViewItemCount(KPCollectionView*, qint64 s) override
    {
        return s >= 0 && s < sections.size() ? sections[s]->itemCount() : 0;
    }
    std::optional<KPSectionItem> collectionViewSectionItemObject(KPCollectionView*, const KPSectionIndexSet& a) override
    {
        if (a.sectionIndex() < 0 || a.sectionIndex() >= sections.size())
            return std::nullopt;
        const KPSectionItem* item = sections[a.sectionIndex()]->itemDataWithIndex(a.itemIndex());
        return item ? std::optional<KPSectionItem>(*item) : std::nullopt;
    }

    // ---- geometry ----
    bool collectionViewSectionIsExpand(KPCollectionView*, qint64 s) override
    {
        return s < 0 || s >= sections.size() || sections[s]->isExpand();
    }
    double sectionHeight(qint64 s) const
    {
        return sections[s]->isExpand() ? layout->contentHeightWithItemCount(sections[s]->itemCount())
                                       : layout->sectionHeaderViewHeight();
    }
    double collectionViewContentHeight(KPCollectionView*) override
    {
        layout->setLayoutWidth(grid->scrollViewSize().width());
        tops.assign(1, 0);
        for (qsizetype s = 0; s < sections.size(); ++s)
            tops.push_back(tops.back() + sectionHeight(s));
        return std::max(tops.back(), grid->scrollViewSize().height()) + extraHeight;
    }
    QRectF collectionViewSectionRect(KPCollectionView* view, qint64 s) override
    {
        const double h = collectionViewContentHeight(view);
        return QRectF(0, h - tops[size_t(s) + 1], grid->scrollViewSize().width(), tops[size_t(s) + 1] - tops[size_t(s)]);
    }
    KPSectionContentLayoutManager* collectionViewSectionLayoutManager(KPCollectionView*, qint64) override
    {
        return layout;
    }

    // ---- views ----
    std::optional<KPCollectionSectionView*> collectionViewWillDisplaySectionView(KPCollectionView*, KPCollectionSectionView* shown,
                                                                                 qint64 s) override
    {
        if (!answersSectionViews)
            return std::nullopt;
        if (noViewForSections.contains(s) || s >= sections.size())
            return nullptr;
        if (!titled)
            return shown ? shown : grid->dequeueReusableWithClass<KPNotTitleSectionView>();
        auto* view = shown ? static_cast<KPSectionView*>(shown) : grid->dequeueReusableWithClass<KPSectionView>();
        view->setSectionData(sections[s]);
        view->loadContent();
        return view;
    }
    std::optional<KPCollectionItemView*> collectionViewWillDisplayItemView(KPCollectionView*, KPCollectionItemView* shown,
                                                                           const KPSectionIndexSet& a) override
    {
        if (!answersItemViews)
            return std::nullopt;
        if (noViewForItems.contains(a)) {
            // Like a window that took a view before finding nothing to show there.
            makeItem(grid);
            return nullptr;
        }
        KPCollectionItemView* view = shown ? shown : makeItem(grid);
        if (configureItem)
            configureItem(view, a);
        return view;
    }

    // ---- what the grid tells ----
    void collectionViewItemDidSelected(KPCollectionView*) override
    {
        ++selectionReports;
        if (onSelectionReport)
            onSelectionReport();
    }
    void collectionViewKeyDown(KPCollectionView*, QKeyEvent*) override { ++keyDowns; }
    std::unique_ptr<QMenu> collectionViewMenu(KPCollectionView*, const KPSectionIndexSet& a) override
    {
        ++menuRequests;
        reportsBeforeMenu = selectionReports;
        selectionAtMenu = grid->selectedIndexs();
        auto menu = std::make_unique<QMenu>();
        menu->addAction(QStringLiteral("Open"));
        lastMenu = menu.get();
        return menu;
    }
    void collectionViewSwipeChange(KPCollectionView*, int type) override { swipes.append(type); }
    std::optional<Qt::DropAction> onCollectionViewDraggingEnter(KPCollectionView*, QDropEvent*) override
    {
        drags.append(QStringLiteral("enter"));
        return Qt::CopyAction;
    }
    void onCollectionViewDraggingExited(KPCollectionView*) override { drags.append(QStringLiteral("exit")); }
    bool onCollectionViewPerformDragOperation(KPCollectionView*, QDropEvent*) override
    {
        drags.append(QStringLiteral("perform"));
        return true;
    }
    void onCollectionViewConcludeDragOperation(KPCollectionView*, QDropEvent*) override
    {
        drags.append(QStringLiteral("conclude"));
    }

    KPCollectionView* grid;
    KPSectionContentLayoutManager* layout;
    bool titled;
    QList<KPSectionDataPtr> sections;
    std::vector<double> tops;
    double extraHeight = 0;

    bool answersSectionViews = true;
    bool answersItemViews = true;
    QSet<qint64> noViewForSections;
    QSet<KPSectionIndexSet> noViewForItems;
    std::function<KPCollectionItemView*(KPCollectionView*)> makeItem = [](KPCollectionView* g) {
        return g->dequeueReusableWithClass<CountingItemView>();
    };
    std::function<void(KPCollectionItemView*, const KPSectionIndexSet&)> configureItem;
    std::function<void()> onSelectionReport;

    int selectionReports = 0;
    int keyDowns = 0;
    int menuRequests = 0;
    int reportsBeforeMenu = -1;
    QList<KPSectionIndexSet> selectionAtMenu;
    QPointer<QMenu> lastMenu;
    QList<int> swipes;
    QStringList drags;
};

} // namespace gridtest
