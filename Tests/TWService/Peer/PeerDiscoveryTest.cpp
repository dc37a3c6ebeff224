// Discovery over the same-host directory backend (forced by the test main).
#include "Platform/Content/ImagePreview.h"
#include "Support/TestSupport.h"
#include "TWService/Service/TWPeerExchange.h"
#include "TWService/Service/TWService.h"

#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <gtest/gtest.h>
#include <mutex>

namespace {

struct Seen : TWClientDelegate {
    std::vector<std::shared_ptr<ServerInfo>> found;
    std::vector<std::shared_ptr<ServerInfo>> removed;
    void onTWClientFindServer(std::shared_ptr<ServerInfo> s) override { found.push_back(std::move(s)); }
    void onTWClientRemoveServer(const std::shared_ptr<ServerInfo>& s) override { removed.push_back(s); }
};

} // namespace

TEST(PeerDiscovery, OwnServiceIsDroppedSameNamesAreToldApartAndAReturningPeerIsOneEntry)
{
    auto seen = std::make_shared<Seen>();
    TWClient client(QStringLiteral("SELF-GUID"));
    client.setDelegate(seen);
    ASSERT_TRUE(client.startSearch().has_value());

    TWService self(QStringLiteral("SELF-GUID"), 1000, QStringLiteral("me"));
    auto a = std::make_unique<TWService>(QStringLiteral("GUID-A"), 2000, QStringLiteral("alice"));
    TWService b(QStringLiteral("GUID-B"), 3000, QStringLiteral("alice"));
    ASSERT_TRUE(self.startService().has_value());
    ASSERT_TRUE(a->startService().has_value());
    ASSERT_TRUE(b.startService().has_value());

    ASSERT_TRUE(testsupport::spinUntil([&] { return seen->found.size() == 2; }));
    QStringList guids;
    for (const auto& s : seen->found) {
        guids << s->guid();
        EXPECT_EQ(s->serverName(), QStringLiteral("alice"));
        EXPECT_EQ(s->dataPort(), s->port());
        EXPECT_FALSE(s->address().isEmpty());
    }
    guids.sort();
    EXPECT_EQ(guids, (QStringList{QStringLiteral("GUID-A"), QStringLiteral("GUID-B")}));

    a.reset(); // the publisher goes
    ASSERT_TRUE(testsupport::spinUntil([&] { return seen->removed.size() == 1; }));
    EXPECT_EQ(seen->removed[0]->guid(), QStringLiteral("GUID-A"));

    TWService again(QStringLiteral("GUID-A"), 2500, QStringLiteral("alice"));
    ASSERT_TRUE(again.startService().has_value());
    ASSERT_TRUE(testsupport::spinUntil([&] { return seen->found.size() == 3; }));
    EXPECT_EQ(seen->found[2]->port(), 2500);
    int entriesOfA = 0;
    for (const auto& s : client.bonjourServers())
        entriesOfA += s->guid() == QStringLiteral("GUID-A");
    EXPECT_EQ(entriesOfA, 1);
    EXPECT_EQ(client.bonjourServers().size(), 2u);
}

TEST(PeerDiscovery, TwoCopiesFindEachOtherShowPicturesAndExchangeAFile)
{
    struct Copy {
        std::vector<std::shared_ptr<ServerInfo>> peers;
        std::vector<QString> received;
        std::unique_ptr<TWPeerExchange> exchange;
    };
    struct Receiver : TWSocketFileUploadDelegate {
        std::mutex mutex;
        QStringList names;
        bool onClientUploadedFile(const std::shared_ptr<TWSocketFileUpload>& r, const QString&) override
        {
            std::lock_guard lock(mutex);
            names << r->fileInfo().fileName();
            QDir(r->stagingFolder()).removeRecursively();
            return true;
        }
    };
    auto receiver = std::make_shared<Receiver>();
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "PNG");
    }
    Copy one, two;
    auto hooks = [&](Copy& c, bool receives) {
        TWPeerExchange::Hooks h;
        h.dataAnswer = [png](const QVariantMap& p) { return p.value(QStringLiteral("Type")) == QStringLiteral("Icon") ? png : QByteArray(); };
        h.found = [&c](std::shared_ptr<ServerInfo> s) { c.peers.push_back(std::move(s)); };
        if (receives)
            h.newUpload = [receiver](const std::shared_ptr<TWSocketFileUpload>& r) { r->setDelegate(receiver); };
        h.stagingRoot = testsupport::makeTempDir(QStringLiteral("staging"));
        return h;
    };
    one.exchange = std::make_unique<TWPeerExchange>(hooks(one, false));
    two.exchange = std::make_unique<TWPeerExchange>(hooks(two, true));
    one.exchange->start(QStringLiteral("COPY-ONE"), QStringLiteral("one"));
    two.exchange->start(QStringLiteral("COPY-TWO"), QStringLiteral("two"));
    ASSERT_TRUE(testsupport::spinUntil([&] { return one.peers.size() == 1 && two.peers.size() == 1; }));
    EXPECT_EQ(one.peers[0]->port(), two.exchange->serverPort());

    TWPeerExchange::requestIcon(one.peers[0]);
    ASSERT_TRUE(testsupport::spinUntil([&] { return !one.peers[0]->icon().isNull(); }));
    EXPECT_EQ(one.peers[0]->icon().pixelColor(0, 0), QColor(Qt::red));

    const QString file = testsupport::makeTempDir() + QStringLiteral("/notes.txt");
    testsupport::writeFile(file, "hello peer");
    std::optional<QString> sent, refused;
    TWPeerExchange::uploadFile(one.peers[0]->address(), one.peers[0]->dataPort(),
                               {{QStringLiteral("Name"), QStringLiteral("notes")}, {QStringLiteral("Extention"), QStringLiteral("txt")}},
                               file, [&](const QString& e) { sent = e; });
    // The other way round nobody receives: the upload is refused, and the sender hears so in
    // its user's words.
    TWPeerExchange::uploadFile(two.peers[0]->address(), two.peers[0]->dataPort(), {{QStringLiteral("Name"), QStringLiteral("x")}},
                               file, [&](const QString& e) { refused = e; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return sent && refused; }));
    EXPECT_EQ(*sent, QString());
    EXPECT_EQ(*refused, QStringLiteral("the other computer has no room for it"));
    std::lock_guard lock(receiver->mutex);
    EXPECT_EQ(receiver->names, QStringList{QStringLiteral("notes.txt")});
}

// A peer's picture is bounded by its own header, not through the decoder limit that every image
// reader of the process shares: once it is read, photographs of an ordinary size still get their
// previews, also in a format decoded whole (TIFF) at a small box.
TEST(PeerDiscovery, APeersPictureLeavesTheOtherImageReadersTheirLimit)
{
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "PNG");
    }
    TWPeerExchange::Hooks hooks;
    hooks.dataAnswer = [png](const QVariantMap&) { return png; };
    hooks.stagingRoot = testsupport::makeTempDir(QStringLiteral("staging"));
    TWPeerExchange exchange(hooks);
    exchange.start(QStringLiteral("COPY-PICTURE"), QStringLiteral("pictures"));
    ASSERT_TRUE(testsupport::spinUntil([&] { return exchange.serverPort() != 0; }));

    const int limit = QImageReader::allocationLimit();
    auto peer = std::make_shared<ServerInfo>(QStringLiteral("127.0.0.1"), exchange.serverPort(), QStringLiteral("peer"),
                                             QStringLiteral("GUID-PEER"));
    TWPeerExchange::requestIcon(peer);
    ASSERT_TRUE(testsupport::spinUntil([&] { return !peer->icon().isNull(); }));
    EXPECT_EQ(QImageReader::allocationLimit(), limit);

    const QString folder = testsupport::makeTempDir(QStringLiteral("photos"));
    QImage photo(3000, 2000, QImage::Format_RGB32);
    photo.fill(QColor(20, 90, 160));
    for (const char* format : {"png", "tiff"}) {
        const QString path = folder + QStringLiteral("/photo.") + QLatin1String(format);
        QImageWriter writer(path, format);
        writer.setCompression(1);
        ASSERT_TRUE(writer.write(photo)) << writer.errorString().toStdString();
        for (const QSize box : {QSize(512, 512), QSize(128, 128)}) {
            const auto preview = platform::ImagePreview::fromFile(path, box);
            ASSERT_TRUE(preview.has_value()) << format << ": " << preview.error().message.toStdString();
            EXPECT_EQ(preview->width(), box.width()) << format;
        }
    }
}
