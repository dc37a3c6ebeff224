// The item views' test fixture: a scratch library with documents made on disk, the "gray" theme,
// the item views' services over that library, a workspace whose launcher only records, a drag
// runner that records instead of dragging, tags written to a fake attribute store, and a grid of
// real document item views on demand.
#pragma once

#include "Browser/BrowserLibraryKit.h"
#include "Browser/CollectionView/FakeGrid.h"
#include "Browser/ItemViews/KPSectionItemView.h"
#include "Browser/KPNotTitleLayoutManager.h"
#include "Browser/KPSafeBoxItemData.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/FakeXAttrBackend.h"
#include "Platform/Foundation/XAttr.h"
#include "Platform/Kit/Alert.h"
#include "Platform/Kit/Flip.h"
#include "Platform/Workspace/ApplicationDatabase.h"
#include "Platform/Workspace/Workspace.h"
#include "Platform/Workspace/WorkspaceTestSupport.h"
#include "Theme/KPThemeManager.h"
#include "Utilities/FlagNames.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

namespace itemtest {

struct RecordedDrag {
    platform::kit::pasteboard::GridDragPayload payload;
    QImage image;
};

class ItemViewTest : public browsertest::BrowserLibraryTest {
protected:
    void SetUp() override
    {
        BrowserLibraryTest::SetUp();
        ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("gray")));
        KPSectionItemView::resetTheme();
        QFile::copy(platform::Bundle::mainBundle().pathForResource(QStringLiteral("FlagConfig"), QStringLiteral("plist")),
                    library + QStringLiteral("/flagconfig.plist"));
        resetFlagNameCacheForTesting();
        xattrs = std::make_shared<platform::FakeXAttrBackend>();
        previousXAttrs = platform::XAttr::setBackend(xattrs);
        launcher.findable.insert(QStringLiteral("xdg-open"));
        applications = std::make_unique<platform::ApplicationDatabase>();
        workspace = std::make_unique<platform::Workspace>(launcher, *applications);
        ItemViewServices services;
        services.library = engine.get();
        services.files = files;
        services.workspace = workspace.get();
        services.tagEditor = &ItemViewServices::tokenTagEditor;
        services.runDrag = [this](QWidget*, std::unique_ptr<QMimeData> mime, const QImage& image) {
            auto payload = platform::kit::pasteboard::readGridDrag(*mime);
            drags.append({payload.value_or(platform::kit::pasteboard::GridDragPayload{}), image});
        };
        KPSectionItemView::setServices(std::move(services));
        platform::kit::Alert::setPresenterForTesting([this](const platform::kit::Alert& alert) {
            alerts.append(alert.messageText());
            alertReasons.append(alert.informativeText());
            return platform::kit::Alert::kDefaultReturn;
        });
    }

    void TearDown() override
    {
        grid.reset();
        platform::kit::Alert::setPresenterForTesting({});
        KPSectionItemView::setServices(ItemViewServices());
        platform::XAttr::setBackend(previousXAttrs);
        resetFlagNameCacheForTesting();
        BrowserLibraryTest::TearDown();
    }

    // A document record with its file on disk, saved, and its display model with a thumbnail
    // of the given size (none for an empty size).
    KPItemDataPtr document(const browsertest::DocumentFields& model, QSize thumbnail = QSize(300, 400))
    {
        DBFileInfo record = addDocument(model);
        EXPECT_TRUE(save());
        auto item = KPItemData::create(record);
        item->loadDataContent();
        QFileInfo(item->filePath()).dir().mkpath(QStringLiteral("."));
        QFile file(item->filePath());
        if (file.open(QIODevice::WriteOnly))
            file.write("content");
        if (!thumbnail.isEmpty()) {
            QImage image(thumbnail, QImage::Format_ARGB32);
            image.fill(QColor(60, 120, 200));
            item->setSourceImage(image);
            item->setImageOriginalSize(thumbnail);
            item->setBLoadedResource(true);
        }
        return item;
    }
    KPItemDataPtr document(const QString& title, QSize thumbnail = QSize(300, 400))
    {
        return document(browsertest::DocumentFields{.title = title}, thumbnail);
    }

    // A grid of real item views over the documents, in one untitled section, shown in a window
    // of the given viewport size.
    KPCollectionView& showGrid(const QList<KPItemDataPtr>& items, int width = 720, int height = 520)
    {
        grid = std::make_unique<KPCollectionView>();
        grid->show();
        const QSize chrome = grid->size() - grid->viewport()->size();
        grid->resize(width + chrome.width(), height + chrome.height());
        QApplication::processEvents();
        fake = std::make_unique<gridtest::FakeGrid>(grid.get(), &layout, false);
        fake->sections = {KPSectionData::create(QString(), items)};
        fake->makeItem = [](KPCollectionView* g) { return g->dequeueReusableWithClass<KPSectionItemView>(); };
        fake->configureItem = [this](KPCollectionItemView* view, const KPSectionIndexSet& a) {
            auto* itemView = static_cast<KPSectionItemView*>(view);
            itemView->setItemData(fake->sections[a.sectionIndex()]->itemAt(a.itemIndex()));
            itemView->setItemIndex(a.itemIndex());
            itemView->loadContent();
        };
        grid->reloadData();
        QApplication::processEvents();
        return *grid;
    }

    KPSectionItemView* itemView(qint64 index) const
    {
        return static_cast<KPSectionItemView*>(grid->itemViewWithIndexSet(KPSectionIndexSet(0, index)));
    }

    // Paints the view once so that it records its rectangles; answers the picture.
    static QImage paint(QWidget* view) { return view->grab().toImage(); }

    // Mouse events at a y-up point of the view.
    static void mouse(QWidget* view, QEvent::Type type, QPointF up, Qt::MouseButtons buttons = Qt::LeftButton,
                      Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        const QPointF at = platform::kit::toQt(up, view->height());
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, at, view->mapToGlobal(at), button,
                          type == QEvent::MouseButtonRelease ? Qt::MouseButtons() : buttons, mods);
        QApplication::sendEvent(view, &event);
    }
    static void click(QWidget* view, QPointF up)
    {
        mouse(view, QEvent::MouseButtonPress, up);
        mouse(view, QEvent::MouseButtonRelease, up);
    }

    testsupport::XdgSandbox xdg;
    testsupport::RecordingLauncher launcher;
    std::unique_ptr<platform::ApplicationDatabase> applications;
    std::unique_ptr<platform::Workspace> workspace;
    std::shared_ptr<platform::FakeXAttrBackend> xattrs;
    std::shared_ptr<platform::XAttrBackend> previousXAttrs;
    QList<RecordedDrag> drags;
    QStringList alerts;
    QStringList alertReasons; // the informative text of each alert
    KPNotTitleLayoutManager layout;
    std::unique_ptr<KPCollectionView> grid;
    std::unique_ptr<gridtest::FakeGrid> fake;
};

} // namespace itemtest
