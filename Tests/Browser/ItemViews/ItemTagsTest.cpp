#include "ItemViewTestSupport.h"

#include "Import/KPImportKeys.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Kit/Pasteboard.h"
#include "Controls/KPTokenEditorView.h"
#include "Platform/Kit/Popover.h"
#include "Platform/Kit/PopoverMarker.h"
#include "Store/DBHelper.h"
#include "Store/DBTag.h"

#include <QDropEvent>

using namespace itemtest;

class ItemTags : public ItemViewTest {
protected:
    void SetUp() override
    {
        ItemViewTest::SetUp();
        newTags = platform::NotificationCenter::defaultCenter().addObserver(
            KPImportKeys::NewTagNotification, [this](const platform::Notification& n) { announced.append(n.object.toList().size()); });
        refreshes = platform::NotificationCenter::defaultCenter().addObserver(
            QStringLiteral("RefreshItemCountNotification"), [this](const platform::Notification& n) { refreshed.append(n.object.toString()); });
    }
    QStringList names(const DBFileInfo& record) const
    {
        QStringList out;
        for (const DBTag& tag : record.tags())
            out.append(tag.name());
        out.sort();
        return out;
    }
    bool apply(const QStringList& typed, const DBFileInfo& record, QList<DBTag>* created = nullptr)
    {
        QList<DBTag> fresh;
        const bool changed = KPSectionItemView::updateTagObjectToFileInfo(typed, record, *engine, &fresh);
        if (created)
            *created = fresh;
        return changed;
    }
    qsizetype tagCount() { return engine->countByObject(QStringLiteral("DBTag")); }
    QStringList attributeTags(const QString& path)
    {
        auto bytes = platform::XAttr::get(path, QStringLiteral("com.apple.metadata:_kMDItemUserTags"));
        if (!bytes)
            return {QStringLiteral("<none>")};
        return platform::PropertyList::read(*bytes).value_or(QVariant()).toStringList();
    }

    platform::ObserverToken newTags;
    platform::ObserverToken refreshes;
    QList<qsizetype> announced;
    QStringList refreshed;
};

TEST_F(ItemTags, TypedNamesReuseExactTagsAndCreateTheRest)
{
    auto item = document(browsertest::DocumentFields{.title = QStringLiteral("Letter"), .tags = {QStringLiteral("Cat"), QStringLiteral("drafts")}});
    DBFileInfo record = item->data();
    DBTag trashed = engine->createTagByContext(QStringLiteral("Old"));
    trashed.setIsTrash(true);
    engine->createTagByContext(QStringLiteral("Résumé"));
    ASSERT_TRUE(save());
    const qsizetype before = tagCount();

    // The same names in the stored order: nothing to do.
    EXPECT_FALSE(apply({QStringLiteral("Cat"), QStringLiteral("drafts")}, record));
    // Another order is a rewrite, and the file's attributes are written again.
    EXPECT_TRUE(apply({QStringLiteral("drafts"), QStringLiteral("Cat")}, record));
    EXPECT_EQ(tagCount(), before);
    EXPECT_EQ(attributeTags(item->filePath()).size(), 2);

    // Wildcards are plain characters; case and accents do not make a new tag; a trashed tag is
    // never brought back.
    QList<DBTag> created;
    EXPECT_TRUE(apply({QStringLiteral("C*"), QStringLiteral("draft?"), QStringLiteral("RESUME"), QStringLiteral("old"), QStringLiteral("cat")},
                      record, &created));
    QStringList createdNames;
    for (const DBTag& tag : created)
        createdNames.append(tag.name());
    EXPECT_EQ(createdNames, (QStringList{QStringLiteral("C*"), QStringLiteral("draft?"), QStringLiteral("old")}));
    EXPECT_EQ(names(record), (QStringList{QStringLiteral("C*"), QStringLiteral("Cat"), QStringLiteral("Résumé"), QStringLiteral("draft?"), QStringLiteral("old")}));
    EXPECT_FALSE(record.tags().contains(trashed));
    EXPECT_EQ(attributeTags(item->filePath()).size(), 5);

    // Clearing every name clears the tags and the attributes.
    EXPECT_TRUE(apply({}, record));
    EXPECT_TRUE(record.tags().isEmpty());
    EXPECT_EQ(attributeTags(item->filePath()), QStringList());
}

TEST_F(ItemTags, ThePopoverAnnouncesOnlyNewTagsAndClosesWithItsDocument)
{
    auto item = document(browsertest::DocumentFields{.title = QStringLiteral("Memo"), .tags = {QStringLiteral("work")}});
    showGrid({item});
    KPSectionItemView* view = itemView(0);
    paint(view);
    view->onSingleClick(view->actualTagRect().center());
    ASSERT_NE(view->tagPopover(), nullptr);
    EXPECT_TRUE(view->tagPopover()->isShown());
    EXPECT_TRUE(KPSectionItemView::isTagPopoverOpen());

    // A press inside the popover is no press outside it: the popover stays.
    QWidget* content = view->tagPopover()->contentWidget();
    EXPECT_TRUE(platform::kit::isInsidePopover(content));
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), content->mapToGlobal(QPointF(5, 5)), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(content, &press);
    EXPECT_TRUE(view->tagPopover() && view->tagPopover()->isShown());

    auto* editor = static_cast<KPTokenEditorView*>(content);
    editor->setTokenValues({QStringLiteral("WORK"), QStringLiteral("home")});
    editor->pasteboardChanged();
    QApplication::processEvents();
    EXPECT_EQ(announced, QList<qsizetype>{1});
    EXPECT_FALSE(refreshed.isEmpty());
    EXPECT_EQ(item->tagString(), QStringLiteral("home, work"));

    // The document goes away while the popover is open: nothing is written to it.
    DBFileInfo record = item->data();
    engine->context()->deleteObject(record.object());
    ASSERT_TRUE(save());
    announced.clear();
    editor->setTokenValues({QStringLiteral("ghost")});
    editor->pasteboardChanged();
    QApplication::processEvents();
    EXPECT_TRUE(announced.isEmpty());
    EXPECT_EQ(view->tagPopover(), nullptr);
    EXPECT_FALSE(KPSectionItemView::isTagPopoverOpen());
    EXPECT_FALSE(engine->tagNamed(QStringLiteral("ghost")));
}

TEST_F(ItemTags, DroppedTagsGoToTheSelectionOnlyWhenTheTargetIsInIt)
{
    QList<KPItemDataPtr> items;
    for (int i = 0; i < 3; ++i)
        items.append(document(QStringLiteral("Doc %1").arg(i)));
    DBTag urgent = engine->createTagByContext(QStringLiteral("urgent"));
    DBTag gone = engine->createTagByContext(QStringLiteral("gone"));
    ASSERT_TRUE(save());
    const QString goneURI = gone.URIString();
    engine->context()->deleteObject(gone.object());
    ASSERT_TRUE(save());
    showGrid(items);
    auto drop = [&](qint64 index) {
        KPSectionItemView* view = itemView(index);
        paint(view);
        QMimeData mime;
        mime.setData(platform::kit::pasteboard::kDragDropTagNode,
                     (QStringLiteral("x-folivo-store://nowhere/DBTag/p9,") + goneURI + QLatin1Char(',') + urgent.URIString()).toUtf8());
        const QPointF at = platform::kit::toQt(view->actualFrameRect().center(), view->height());
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view, &enter);
        EXPECT_TRUE(enter.isAccepted());
        EXPECT_TRUE(view->isDragDroping());
        QDropEvent dropEvent(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view, &dropEvent);
        EXPECT_FALSE(view->isDragDroping());
    };
    auto tagged = [&] {
        QList<bool> out;
        for (const auto& item : items)
            out.append(item->data().tags().contains(urgent));
        return out;
    };

    grid->selectItemIndexWithSectionIndexSets({KPSectionIndexSet(0, 0), KPSectionIndexSet(0, 1)});
    drop(2); // not selected: that document alone
    EXPECT_EQ(tagged(), (QList<bool>{false, false, true}));
    drop(0); // selected: the whole selection
    EXPECT_EQ(tagged(), (QList<bool>{true, true, true}));
    EXPECT_EQ(items[1]->tagString(), QStringLiteral("urgent"));
    EXPECT_EQ(attributeTags(items[1]->filePath()), QStringList{QStringLiteral("urgent")});
    EXPECT_EQ(refreshed.count(QStringLiteral("Tags")), 2);
}
