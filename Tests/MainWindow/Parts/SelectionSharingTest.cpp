#include "GridContextMenuFixture.h"

#include "Mail/SendMailClient.h"
#include "Platform/Foundation/FakeXAttrBackend.h"
#include "Platform/Foundation/XAttr.h"
#include "Platform/Kit/Popover.h"
#include "Platform/Mail/MailComposer.h"
#include "SideBar/SideBarNotifications.h"
#include "Store/DBTag.h"
#include "TWService/Client/TWBaseRequest.h"
#include "TWService/Peer/RawPeer.h"
#include "TWService/Server/TWServer.h"
#include "TWService/Service/TWPeerExchange.h"
#include "TWService/ServerInfo.h"

#include <QClipboard>
#include <QDir>
#include <QMimeData>
#include <QMutex>
#include <QUrl>
#include <QWidget>

using platform::kit::MenuItemModel;

namespace {

// An editor that only remembers what it was opened with and who to tell.
struct EditorProbe {
    QStringList shown;
    TagEditorCallbacks callbacks;
};

// Peers that answer uploads as the test says, recording what they were given.
class FakePeers : public PeerDirectory {
public:
    struct Upload {
        QString address;
        quint16 port = 0;
        QVariantMap info;
        QString path;
        bool fileExisted = false;
        qint64 archiveEntries = 0;
    };
    std::vector<std::shared_ptr<ServerInfo>> serverList() const override { return peers; }
    void uploadFile(const QString& address, quint16 port, const QVariantMap& info, const QString& filePath,
                    qint64 archiveEntries, std::function<void(const QString&)> completed) override
    {
        uploads.append({address, port, info, filePath, QFileInfo::exists(filePath), archiveEntries});
        completed(error);
    }
    std::vector<std::shared_ptr<ServerInfo>> peers;
    QList<Upload> uploads;
    QString error;
};

// The program's own peer exchange, sending for real.
class ExchangePeers : public PeerDirectory {
public:
    std::vector<std::shared_ptr<ServerInfo>> serverList() const override { return peers; }
    void uploadFile(const QString& address, quint16 port, const QVariantMap& info, const QString& filePath,
                    qint64 archiveEntries, std::function<void(const QString&)> completed) override
    {
        TWPeerExchange::uploadFile(address, port, info, filePath, std::move(completed), archiveEntries);
    }
    std::vector<std::shared_ptr<ServerInfo>> peers;
};

// The receiving copy: keeps the names of the documents it stored and how many of them (those
// whose names begin with "doc") it received at once at most.
struct Receiver : TWServerDelegate, TWSocketFileUploadDelegate, std::enable_shared_from_this<Receiver> {
    QMutex mutex;
    QStringList stored;
    int receiving = 0;
    int most = 0;
    int begun = 0;
    void onClientReqestuUploadFileFileBySocketReader(const std::shared_ptr<TWSocketFileUpload>& r) override
    {
        r->setDelegate(std::static_pointer_cast<TWSocketFileUploadDelegate>(shared_from_this()));
    }
    static bool ours(const std::shared_ptr<TWSocketFileUpload>& r) { return r->fileInfo().name.startsWith(QLatin1String("doc")); }
    void onClientWillUploadFile(const std::shared_ptr<TWSocketFileUpload>& r) override
    {
        QMutexLocker lock(&mutex);
        if (ours(r)) {
            ++begun;
            most = std::max(most, ++receiving);
        }
    }
    bool onClientUploadedFile(const std::shared_ptr<TWSocketFileUpload>& r, const QString&) override
    {
        QDir(r->stagingFolder()).removeRecursively();
        QMutexLocker lock(&mutex);
        if (ours(r)) {
            --receiving;
            stored.append(r->fileInfo().name);
        }
        return true;
    }
    void onClientUploadedFileError(const std::shared_ptr<TWSocketFileUpload>& r, const platform::Error&) override
    {
        QMutexLocker lock(&mutex);
        if (ours(r))
            --receiving;
    }
    QStringList storedNames()
    {
        QMutexLocker lock(&mutex);
        QStringList names = stored;
        names.sort();
        return names;
    }
    int begunCount()
    {
        QMutexLocker lock(&mutex);
        return begun;
    }
    int mostAtOnce()
    {
        QMutexLocker lock(&mutex);
        return most;
    }
    void forget()
    {
        QMutexLocker lock(&mutex);
        stored.clear();
    }
};

// The exchange's limits as they were before the case changed them.
struct ExchangeLimits {
    TWTimeouts timeouts = TWTimeouts::shared();
    TWFileUploadRequest::Resend resend = TWFileUploadRequest::resend();
    qint64 margin = TWSocketFileUpload::freeSpaceMargin;
    ~ExchangeLimits()
    {
        TWTimeouts::shared() = timeouts;
        TWFileUploadRequest::resend() = resend;
        TWSocketFileUpload::freeSpaceMargin = margin;
    }
};

QStringList tagNames(const DBFileInfo& file)
{
    QStringList names;
    for (const DBTag& tag : file.tags())
        names.append(tag.name());
    names.sort();
    return names;
}

} // namespace

class SelectionSharingTest : public gridmenutest::GridMenuTest {
protected:
    void SetUp() override
    {
        GridMenuTest::SetUp();
        sharing->tagEditor = [this](const QStringList& tags, TagEditorCallbacks callbacks) {
            editor.shown = tags;
            editor.callbacks = std::move(callbacks);
            return new QWidget;
        };
        ctx.peers = &peers;
        SendMailClient::setComposerForTesting(&composer);
    }
    void TearDown() override
    {
        SendMailClient::setComposerForTesting(nullptr);
        GridMenuTest::TearDown();
    }

    EditorProbe editor;
    FakePeers peers;
    platform::MailComposer composer{workspace};
};

// The popover edits what every selected document shares, names tags exactly and only live
// ones, and writes the files' attributes when it closes.
TEST_F(SelectionSharingTest, TagPopoverEditsTheCommonTags)
{
    auto xattrs = std::make_shared<platform::FakeXAttrBackend>();
    const auto previous = platform::XAttr::setBackend(xattrs);

    const DBFileInfo a = document(QStringLiteral("a"), QStringLiteral("pdf"), 0, 0, {QStringLiteral("apple")});
    const DBFileInfo b = document(QStringLiteral("b"), QStringLiteral("pdf"), 0, 0, {QStringLiteral("drafts")});
    DBTag trashed = tagNamed(QStringLiteral("old"));
    trashed.setIsTrash(true);
    for (const KPItemDataPtr& item : show({a, b}))
        item->loadDataContent();

    sharing->onShowTagsAction();
    ASSERT_TRUE(sharing->tagPopover());
    EXPECT_TRUE(editor.shown.isEmpty()) << "no tag is common to both";

    QVariantList created;
    QVariantList counted;
    platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter();
    platform::ObserverToken newTags = center.addObserver(SelectionSharing::kNewTagNotification,
                                                         [&](const platform::Notification& n) { created += n.object.toList(); });
    platform::ObserverToken counts = center.addObserver(RefreshItemCountNotification,
                                                        [&](const platform::Notification& n) { counted.append(n.object); });

    // A case variant reuses "apple"; pattern characters and near names make new tags; the name
    // of a trashed tag makes a live one instead of reviving it.
    editor.callbacks.valueChange({QStringLiteral("APPLE"), QStringLiteral("a*"), QStringLiteral("draft?"),
                                  QStringLiteral("old")});
    EXPECT_EQ(tagNames(a), (QStringList{QStringLiteral("a*"), QStringLiteral("apple"), QStringLiteral("draft?"),
                                        QStringLiteral("old")}));
    EXPECT_EQ(tagNames(b), (QStringList{QStringLiteral("a*"), QStringLiteral("apple"), QStringLiteral("draft?"),
                                        QStringLiteral("drafts"), QStringLiteral("old")}));
    EXPECT_EQ(created.size(), 3);
    for (const DBTag& tag : a.tags())
        EXPECT_FALSE(tag.isTrash()) << tag.name().toStdString();
    EXPECT_EQ(trashed.fileInfos().size(), 0);
    EXPECT_EQ(counted, QVariantList{QStringLiteral("Tags")});

    // Removing a common tag takes it from both; the others stay.
    editor.callbacks.valueChange({QStringLiteral("APPLE"), QStringLiteral("draft?"), QStringLiteral("old")});
    EXPECT_FALSE(tagNames(a).contains(QStringLiteral("a*")));
    EXPECT_FALSE(tagNames(b).contains(QStringLiteral("a*")));
    EXPECT_TRUE(tagNames(b).contains(QStringLiteral("drafts")));

    // Closing writes every edited file, whatever changed.
    editor.callbacks.done();
    EXPECT_FALSE(sharing->tagPopover());
    for (const DBFileInfo& file : {a, b}) {
        const auto written = xattrs->attributes(QFile::encodeName(DBHelper::CombinFileAbsolutePath(file)));
        EXPECT_FALSE(written.isEmpty()) << file.title().toStdString();
    }

    // Reopened without any change, closing still writes (attributes lost meanwhile come back).
    xattrs = std::make_shared<platform::FakeXAttrBackend>();
    platform::XAttr::setBackend(xattrs);
    sharing->onShowTagsAction();
    EXPECT_EQ(editor.shown.size(), 3);
    editor.callbacks.done();
    EXPECT_FALSE(xattrs->attributes(QFile::encodeName(DBHelper::CombinFileAbsolutePath(a))).isEmpty());
    platform::XAttr::setBackend(previous);
}

// The Share menu: our own three items, then the installed mail programs only.
TEST_F(SelectionSharingTest, ShareHandsTheFilesOver)
{
    xdg.writeApp(QStringLiteral("thunderbird.desktop"), QStringLiteral("Thunderbird"), QStringLiteral("thunderbird %u"),
                 QStringLiteral("x-scheme-handler/mailto;"));
    xdg.writeApp(QStringLiteral("outlook.desktop"), QStringLiteral("Outlook"), QStringLiteral("outlook %u"),
                 QStringLiteral("x-scheme-handler/mailto;"), "TryExec=/nonexistent/outlook\n");
    xdg.writeUserMimeApps("[Default Applications]\nx-scheme-handler/mailto=thunderbird.desktop\n");

    const std::vector<MenuItemModel> items = sharing->shareItems();
    QStringList titles;
    for (const MenuItemModel& item : items)
        titles.append(item.kind == MenuItemModel::Kind::Separator ? QStringLiteral("-") : item.title);
    EXPECT_EQ(titles, (QStringList{QStringLiteral("Email…"), QStringLiteral("Copy"), QStringLiteral("Show in Folder"),
                                   QStringLiteral("-"), QStringLiteral("Thunderbird")}));
    EXPECT_EQ(items.back().data, QStringLiteral("thunderbird.desktop"));

    const DBFileInfo a = document(QStringLiteral("with space"));
    const DBFileInfo b = document(QStringLiteral("new\nline"));
    const QList<KPItemDataPtr> shown = show({a, b});
    const QStringList paths{shown[0]->filePath(), shown[1]->filePath()};

    // Email…: one message with both files, through the mail program's own arguments.
    commands.perform(SelectionSharing::kShareItemCommand, platform::kit::makeSender(SelectionSharing::ShareEmail));
    ASSERT_EQ(launcher.launches.size(), 1);
    const QString launched = launcher.launches[0].join(QLatin1Char(' '));
    EXPECT_EQ(launcher.launches[0].first(), QStringLiteral("thunderbird"));
    EXPECT_TRUE(launched.contains(QStringLiteral("/with%20space.pdf,"))) << launched.toStdString();
    EXPECT_TRUE(launched.contains(QStringLiteral("/new%0Aline.pdf'"))) << launched.toStdString();

    // Copy: both forms, each file once, a newline in a name kept inside its URI.
    commands.perform(SelectionSharing::kShareItemCommand, platform::kit::makeSender(SelectionSharing::ShareCopy));
    const QMimeData* copied = QApplication::clipboard()->mimeData();
    ASSERT_TRUE(copied);
    const QList<QUrl> urls = copied->urls();
    ASSERT_EQ(urls.size(), 2);
    EXPECT_EQ(urls[1].toLocalFile(), paths[1]);
    const QList<QByteArray> gnome = copied->data(QStringLiteral("x-special/gnome-copied-files")).split('\n');
    ASSERT_EQ(gnome.size(), 3);
    EXPECT_EQ(gnome[0], "copy");
    EXPECT_EQ(QUrl::fromEncoded(gnome[2]).toLocalFile(), paths[1]);

    // Show in Folder: one call naming every file, not waited for (a file manager starting or
    // hung on the bus would hold the window); when nobody answers, the first file's folder.
    QList<QStringList> calls;
    std::function<void(bool)> answer;
    workspace.setShowItemsCall([&](const QStringList& uris, const QString&, std::function<void(bool)> answered) {
        calls.append(uris);
        answer = std::move(answered);
    });
    launcher.launches.clear();
    launcher.findable.insert(QStringLiteral("xdg-open"));
    commands.perform(SelectionSharing::kShareItemCommand, platform::kit::makeSender(SelectionSharing::ShareShowInFolder));
    ASSERT_EQ(calls.size(), 1);
    ASSERT_EQ(calls[0].size(), 2);
    EXPECT_EQ(QUrl(calls[0][1]).toLocalFile(), paths[1]);
    ASSERT_TRUE(answer);
    answer(true);
    EXPECT_TRUE(launcher.launches.isEmpty());

    EXPECT_TRUE(workspace.selectFiles(paths));
    EXPECT_TRUE(launcher.launches.isEmpty()) << "the folder opens only once the bus said no";
    answer(false);
    ASSERT_EQ(launcher.launches.size(), 1);
    EXPECT_EQ(launcher.launches[0], (QStringList{QStringLiteral("xdg-open"), QFileInfo(paths[0]).absolutePath()}));
    EXPECT_FALSE(workspace.selectFiles({QStringLiteral("/nonexistent/x")}));
    EXPECT_EQ(calls.size(), 2);
}

// Sending: the info a peer gets, a folder as a UUID-named zip of the zip's size, and no archive
// left behind whether the upload worked, failed, or the zip could not be made.
TEST_F(SelectionSharingTest, SendZipsFoldersAndRemovesTheArchive)
{
    peers.peers.push_back(std::make_shared<ServerInfo>(QStringLiteral("127.0.0.1"), 4242, QStringLiteral("Desk")));
    const std::vector<MenuItemModel> sendTo = sharing->sendToItems();
    ASSERT_EQ(sendTo.size(), 1u);
    EXPECT_EQ(sendTo[0].title, QStringLiteral("Desk"));

    const DBFileInfo file = document(QStringLiteral("note"), QStringLiteral("txt"), 0, 0, {QStringLiteral("t")});
    DBFileInfo folder = addDocument(browsertest::DocumentFields{.title = QStringLiteral("bundle"),
                                                              .extension = QStringLiteral("pages")});
    const QString folderPath = DBHelper::CombinFileAbsolutePath(folder);
    testsupport::writeFile(folderPath + QStringLiteral("/inner/a.txt"), "hello");
    const QString temporary = testsupport::makeTempDir(QStringLiteral("send"));
    sharing->temporaryFolder = temporary;
    bool finished = false;
    sharing->sendFinished = [&] { finished = true; };

    for (const QString& error : {QString(), QStringLiteral("peer went away")}) {
        peers.uploads.clear();
        peers.error = error;
        finished = false;
        const QList<KPItemDataPtr> items = show({file, folder});
        for (const KPItemDataPtr& item : items)
            item->loadDataContent();
        commands.perform(SelectionSharing::kSendFileToCommand, platform::kit::makeSender(0, sendTo[0].data));
        ASSERT_TRUE(testsupport::spinUntil([&] { return finished; }));
        ASSERT_EQ(peers.uploads.size(), 2);
        std::sort(peers.uploads.begin(), peers.uploads.end(),
                  [](const auto& x, const auto& y) { return x.info.value("Name").toString() < y.info.value("Name").toString(); });
        const FakePeers::Upload& zipped = peers.uploads[0];
        const FakePeers::Upload& plain = peers.uploads[1];
        EXPECT_EQ(plain.address, QStringLiteral("127.0.0.1"));
        EXPECT_EQ(plain.port, 4242);
        EXPECT_EQ(plain.path, items[0]->filePath());
        EXPECT_EQ(plain.info.value("Size").toLongLong(), QFileInfo(plain.path).size());
        EXPECT_EQ(plain.info.value("Extention"), QStringLiteral("txt"));
        EXPECT_EQ(plain.info.value("Tags"), QStringLiteral("t"));
        EXPECT_EQ(plain.info.value("IsFolder"), false);
        EXPECT_TRUE(plain.info.contains("From"));

        EXPECT_EQ(zipped.info.value("IsFolder"), true);
        EXPECT_TRUE(zipped.fileExisted);
        EXPECT_GE(zipped.archiveEntries, 1); // the receiver's work, which the sender waits for
        EXPECT_EQ(plain.archiveEntries, 0);
        EXPECT_EQ(QFileInfo(zipped.path).absolutePath(), temporary);
        EXPECT_FALSE(QUuid::fromString(QFileInfo(zipped.path).completeBaseName()).isNull()) << zipped.path.toStdString();
        EXPECT_GT(zipped.info.value("Size").toLongLong(), 0);
        EXPECT_FALSE(zipped.info.contains("Tags"));
        EXPECT_FALSE(QFile::exists(zipped.path)) << "archive left after an upload that ended with \""
                                                 << error.toStdString() << '"';
        EXPECT_TRUE(QDir(temporary).isEmpty());
        // One notice when the send did not all arrive, naming each document and why; none
        // when it did.
        if (error.isEmpty()) {
            EXPECT_EQ(dialogs.count(platform::kit::RecordingDialogService::Kind::Alert), 0);
            continue;
        }
        ASSERT_EQ(dialogs.count(platform::kit::RecordingDialogService::Kind::Alert), 1);
        const auto notice = dialogs.last(platform::kit::RecordingDialogService::Kind::Alert);
        EXPECT_EQ(notice.messageText, SelectionSharing::sendNoticeMessage(QStringLiteral("Desk"), 2, 2));
        EXPECT_TRUE(notice.informativeText.contains(QStringLiteral("“note”: peer went away"))) << qPrintable(notice.informativeText);
        EXPECT_TRUE(notice.informativeText.contains(QStringLiteral("“bundle”: peer went away"))) << qPrintable(notice.informativeText);
    }
    dialogs.clearRecord();

    // A zip that cannot be written sends nothing and leaves nothing.
    peers.uploads.clear();
    finished = false;
    sharing->temporaryFolder = temporary + QStringLiteral("/missing/deeper");
    show({folder});
    commands.perform(SelectionSharing::kSendFileToCommand, platform::kit::makeSender(0, sendTo[0].data));
    ASSERT_TRUE(testsupport::spinUntil([&] { return finished; }));
    EXPECT_TRUE(peers.uploads.isEmpty());
    EXPECT_TRUE(QDir(temporary).isEmpty());
    ASSERT_EQ(dialogs.count(platform::kit::RecordingDialogService::Kind::Alert), 1);
    EXPECT_TRUE(dialogs.last(platform::kit::RecordingDialogService::Kind::Alert).informativeText.contains(QStringLiteral("“bundle”: it could not be packed")));
}

// Seven documents sent to a real peer at once all arrive, never more than five at a time; so do
// they when another sender holds every slot of the peer for a while, turning them away at first;
// and when the peer has no room for them, one notice names them and says why.
TEST_F(SelectionSharingTest, EveryDocumentSentArrivesOrOneNoticeSaysWhy)
{
    const ExchangeLimits saved;
    TWTimeouts::shared().uploadSlotWait = 1;
    TWTimeouts::shared().uploadRateGrace = 600; // the other sender below is never too slow
    TWFileUploadRequest::resend().pause = 0.2;

    auto receiver = std::make_shared<Receiver>();
    auto server = TWServer::create();
    server->setDelegate(receiver);
    server->setUploadStagingRoot(testsupport::makeTempDir(QStringLiteral("staging")));
    // Connections from the ports listed here come from another computer.
    QMutex portsMutex;
    QSet<quint16> otherPorts;
    server->setPeerAddressOf([&](const KPAsyncSocketPtr& socket) {
        QMutexLocker lock(&portsMutex);
        return otherPorts.contains(socket->connectedPort()) ? QStringLiteral("other") : QStringLiteral("this");
    });
    ASSERT_TRUE(server->startServer().has_value());
    ExchangePeers exchange;
    exchange.peers.push_back(std::make_shared<ServerInfo>(QStringLiteral("127.0.0.1"), server->serverPort(), QStringLiteral("Desk")));
    ctx.peers = &exchange;
    const std::vector<MenuItemModel> sendTo = sharing->sendToItems();
    ASSERT_EQ(sendTo.size(), 1u);

    QList<DBFileInfo> files;
    QStringList names;
    for (int i = 1; i <= 7; ++i) {
        names.append(QStringLiteral("doc%1").arg(i));
        files.append(document(names.last(), QStringLiteral("txt")));
    }
    bool finished = false;
    sharing->sendFinished = [&] { finished = true; };
    const auto sendAll = [&] {
        finished = false;
        show(files);
        commands.perform(SelectionSharing::kSendFileToCommand, platform::kit::makeSender(0, sendTo[0].data));
        return testsupport::spinUntil([&] { return finished; });
    };

    ASSERT_TRUE(sendAll());
    EXPECT_EQ(receiver->storedNames(), names);
    EXPECT_LE(receiver->mostAtOnce(), 5);
    EXPECT_EQ(dialogs.count(platform::kit::RecordingDialogService::Kind::Alert), 0);

    // Another computer takes every slot and keeps it until the peer has turned one of these
    // documents away for want of a slot.
    receiver->forget();
    std::vector<std::unique_ptr<RawPeer>> other;
    for (int i = 0; i < TWServer::kMaxFileUploaders; ++i) {
        other.push_back(std::make_unique<RawPeer>(server->serverPort(), [&](quint16 port) {
            QMutexLocker lock(&portsMutex);
            otherPorts.insert(port);
        }));
        RawPeer& peer = *other.back();
        peer.send(TWWire::u32(TWRequestTypeFileUpload));
        ASSERT_EQ(peer.word(), std::optional<quint32>(TWConnectAccepted));
        peer.send(*TWWire::frameBody({{QStringLiteral("Name"), QStringLiteral("other")}, {QStringLiteral("Size"), 1000}}));
        ASSERT_EQ(TWWire::readI64(peer.recv(8)), std::optional<qint64>(TWWire::kUploadAccepted));
    }
    finished = false;
    const int begun = receiver->begunCount();
    show(files);
    commands.perform(SelectionSharing::kSendFileToCommand, platform::kit::makeSender(0, sendTo[0].data));
    // (A peer that lets a waiting sender in at once by stopping one of the other's uploads
    // takes one of these instead: the case holds as well.)
    ASSERT_TRUE(testsupport::spinUntil([&] { return server->waitingForUploadSlot() > 0 || receiver->begunCount() > begun; }));
    ASSERT_TRUE(testsupport::spinUntil([&] { return server->waitingForUploadSlot() == 0; }));
    other.clear();
    ASSERT_TRUE(testsupport::spinUntil([&] { return finished; }));
    EXPECT_EQ(receiver->storedNames(), names);
    EXPECT_LE(receiver->mostAtOnce(), 5);
    EXPECT_EQ(dialogs.count(platform::kit::RecordingDialogService::Kind::Alert), 0);

    // No room on the other computer: one notice for the send, naming every document and why.
    receiver->forget();
    TWSocketFileUpload::freeSpaceMargin = std::numeric_limits<qint64>::max() / 4;
    files.resize(2);
    ASSERT_TRUE(sendAll());
    EXPECT_TRUE(receiver->storedNames().isEmpty());
    ASSERT_EQ(dialogs.count(platform::kit::RecordingDialogService::Kind::Alert), 1);
    const auto notice = dialogs.last(platform::kit::RecordingDialogService::Kind::Alert);
    EXPECT_TRUE(notice.messageText.contains(QStringLiteral("Desk"))) << qPrintable(notice.messageText);
    const QStringList lines = notice.informativeText.split(QLatin1Char('\n'));
    EXPECT_EQ(lines.size(), 2) << qPrintable(notice.informativeText);
    for (const QString& name : {QStringLiteral("doc1"), QStringLiteral("doc2")}) {
        EXPECT_TRUE(notice.informativeText.contains(QStringLiteral("“%1”: the other computer has no room for it").arg(name)))
            << qPrintable(notice.informativeText);
    }
    server->stopServer();
}
