#include "SideBarTestSupport.h"

#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Store/KPContextHelper.h"
#include "Theme/KPThemeManager.h"
#include "Utilities/KPLogger/KPLogClient.h"

namespace sidebartest {

namespace {

class ThemeEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        KPLogSetOptionFlags(nullptr, kKPLogOptionLogToConsole);
        useGeneratedTheme();
    }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new ThemeEnvironment);

QString titleOf(const KPNode::Ptr& node)
{
    return node ? node->title() : QStringLiteral("-");
}

} // namespace

void useGeneratedTheme()
{
    ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("gray")));
}

void SideBarFixture::SetUp()
{
    previousXAttr = platform::XAttr::setBackend(std::make_shared<platform::FakeXAttrBackend>());
    library = testsupport::makeTempDir(QStringLiteral("library"));
    disk = testsupport::makeTempDir(QStringLiteral("disk"));
    DataBaseEngine::Options options;
    options.libraryPath = library;
    engine = std::make_unique<DataBaseEngine>(options);
    ASSERT_TRUE(engine->initDataBase());
    indexStore = std::make_unique<KPIndexFolderDBEngine>(library);
    files = std::make_unique<KPLibraryFileManager>(library);
    manager = std::make_unique<KPIndexFolderManager>(stores());
    listener = std::make_unique<FSEventsListener>(library);
    workspace = std::make_unique<platform::Workspace>(launcher);
    window = std::make_unique<QWidget>();
    window->resize(240, 640);
    view = new KPSideBarOutlineView(window.get());
    view->setGeometry(0, 0, 240, 640);
    for (const QString& name : {RefreshItemCountNotification, FavoriteNodeChangeNotification,
                                RemoveIndexFolderNotification}) {
        tokens.push_back(platform::NotificationCenter::defaultCenter().addObserver(
            name, [this, name](const platform::Notification& note) { posted.append(name + ' ' + note.object.toString()); }));
    }
}

void SideBarFixture::TearDown()
{
    source.reset();
    window.reset();
    manager.reset();
    listener.reset();
    if (engine) {
        EXPECT_TRUE(engine->writeToDiskAndWait());
    }
    indexStore.reset();
    engine.reset();
    files.reset();
    tokens.clear();
    platform::XAttr::setBackend(previousXAttr);
}

IndexFolderServices SideBarFixture::stores()
{
    IndexFolderServices s;
    s.library = engine.get();
    s.indexStore = indexStore.get();
    s.files = files.get();
    s.libraryPath = library;
    s.startIndexer = [this] { ++indexerStarts; };
    return s;
}

SideBarServices SideBarFixture::services()
{
    SideBarServices s;
    s.library = engine.get();
    s.eventsListener = listener.get();
    s.indexFolderManager = manager.get();
    s.workspace = workspace.get();
    s.removeDocumentSource = [this](const QString& path, const QString& title, QWidget* w, std::function<void(int)> done) {
        if (remover)
            remover(path, title, w, std::move(done));
    };
    return s;
}

void SideBarFixture::open()
{
    source = std::make_unique<SideBarDataSource>(view, services());
    SideBarDataSourceDelegate d;
    d.onSideBarBeforeNodeWillChange = [this](const KPNode::Ptr& node) { told.append(QStringLiteral("before:") + titleOf(node)); };
    d.onSideBarNodeChange = [this](const KPNode::Ptr& node) { told.append(QStringLiteral("change:") + titleOf(node)); };
    source->setDelegate(d);
    ASSERT_TRUE(testsupport::spinUntil([this] { return source->bDataLoaded(); }));
}

void SideBarFixture::reopen()
{
    source.reset();
    told.clear();
    open();
}

DBNode SideBarFixture::addNode(const QString& title, int type, const DBNode& parent)
{
    DBNode node = engine->createDBNode();
    node.setTitle(title);
    node.setType(type);
    if (parent)
        node.setParent(parent);
    return node;
}

DBTag SideBarFixture::addTag(const QString& name)
{
    return engine->createTagByContext(name);
}

void SideBarFixture::addFavorite(const DBRecord& object, int dataType)
{
    save();
    auto favorite = DBRecord::insertNewObject<DBFavorite>(engine->context());
    favorite.setDataType(dataType);
    favorite.setDataURI(object.URIString());
}

DBIndexFolder SideBarFixture::addIndexFolderRow(const QString& path, const QString& type, bool createFolder)
{
    if (createFolder)
        QDir().mkpath(path);
    auto folder = DBRecord::insertNewObject<DBIndexFolder>(engine->context());
    folder.setPath(path);
    folder.setType(type);
    folder.setTitle(QFileInfo(path).fileName());
    return folder;
}

void SideBarFixture::save()
{
    ASSERT_TRUE(KPContextHelper::save(engine->context()));
}

QList<DBFavorite> SideBarFixture::favorites()
{
    auto found = engine->queryRecordByName(DBFavorite::entityName());
    return found ? DBRecord::recordsOf<DBFavorite>(*found) : QList<DBFavorite>();
}

QStringList SideBarFixture::titles(const KPNode::Ptr& node) const
{
    QStringList out;
    for (const KPNode::Ptr& child : node->children())
        out.append(child->title());
    return out;
}

KPNode::Ptr SideBarFixture::childTitled(const KPNode::Ptr& parent, const QString& title) const
{
    for (const KPNode::Ptr& child : parent->children()) {
        if (child->title() == title)
            return child;
    }
    return nullptr;
}

} // namespace sidebartest
