#include "TWService/Service/TWPeerExchange.h"

#include "Platform/Content/ImageDecodeLimit.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/StringHash.h"
#include "Platform/Foundation/UserDefaults.h"
#include "TWService/Client/TWBaseRequest.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QtGlobal>

class TWPeerExchange::Bridge : public TWServerDelegate, public TWClientDelegate {
public:
    explicit Bridge(const Hooks& hooks) : m_hooks(hooks) {}
    QByteArray onClientRequestByParameter(TWSocketReader*, const QVariantMap& parameter) override
    {
        return m_hooks.dataAnswer ? m_hooks.dataAnswer(parameter) : QByteArray();
    }
    void onClientReqestuUploadFileFileBySocketReader(const std::shared_ptr<TWSocketFileUpload>& reader) override
    {
        if (m_hooks.newUpload)
            m_hooks.newUpload(reader);
    }
    void onTWClientFindServer(std::shared_ptr<ServerInfo> server) override
    {
        if (m_hooks.found)
            m_hooks.found(std::move(server));
    }
    void onTWClientRemoveServer(const std::shared_ptr<ServerInfo>& server) override
    {
        if (m_hooks.removed)
            m_hooks.removed(server);
    }

private:
    const Hooks m_hooks;
};

TWPeerExchange::TWPeerExchange(Hooks hooks) : m_hooks(std::move(hooks)), m_bridge(std::make_shared<Bridge>(m_hooks)) {}

TWPeerExchange::~TWPeerExchange()
{
    stop();
}

void TWPeerExchange::start(const QString& guid, const QString& userName)
{
    if (m_server)
        return;
    m_server = TWServer::create();
    m_server->setDelegate(m_bridge);
    if (!m_hooks.stagingRoot.isEmpty())
        m_server->setUploadStagingRoot(m_hooks.stagingRoot);
    if (auto started = m_server->startServer(); !started) {
        qWarning("server error: %s", qPrintable(started.error().toString()));
        m_server.reset();
        return;
    }
    m_service = std::make_unique<TWService>(guid, m_server->serverPort(), userName);
    m_service->startService();
    m_client = std::make_unique<TWClient>(guid);
    m_client->setDelegate(m_bridge);
    m_client->startSearch();
}

void TWPeerExchange::stop()
{
    m_client.reset();
    m_service.reset();
    if (m_server) {
        m_server->stopServer();
        m_server.reset();
    }
}

quint16 TWPeerExchange::serverPort() const
{
    return m_server ? m_server->serverPort() : 0;
}

QString TWPeerExchange::copyIdentifier()
{
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    const QString key = QStringLiteral("String_Service_UUID");
    QString id = defaults.objectForKey(key).toString();
    if (id.isEmpty()) {
        id = platform::newUUIDString().toUpper();
        defaults.setObject(id, key);
    }
    return id;
}

void TWPeerExchange::requestIcon(std::shared_ptr<ServerInfo> server)
{
    if (!server)
        return;
    auto request = TWDataRequest::create({server->address(), server->dataPort(), server->guid()},
                                         {{QStringLiteral("Type"), QStringLiteral("Icon")}});
    request->requestWithCompltedBlock([server](TWDataRequest*, const QByteArray& data, const std::optional<platform::Error>& e) {
        if (e) {
            qInfo("TWPeerExchange: no picture from %s: %s", qPrintable(server->address()), qPrintable(e->toString()));
            return;
        }
        if (data.isEmpty() || data.size() > 1024 * 1024)
            return;
        QBuffer buffer;
        buffer.setData(data);
        QImageReader reader(&buffer);
        const QByteArray format = reader.format();
        if (format != "tiff" && format != "png" && format != "jpeg")
            return;
        if (!platform::ImageDecodeLimit::headerWithin(reader, 16 << 20)) // a small picture; the limit is the program's
            return;
        const QImage image = reader.read();
        if (!image.isNull())
            server->setIcon(image);
    });
}

void TWPeerExchange::uploadFile(const QString& address, quint16 port, const QVariantMap& info, const QString& filePath,
                                std::function<void(const QString& error)> completed, qint64 archiveEntries)
{
    auto request = TWFileUploadRequest::create({address, port, {}}, info, filePath);
    request->setArchiveEntries(archiveEntries);
    request->requestWithCompltedBlock([completed, filePath](TWFileUploadRequest*, const std::optional<platform::Error>& e) {
        // The log keeps what went wrong on the wire; the caller gets it in its user's words.
        if (e)
            qInfo("TWPeerExchange: %s did not arrive: %s", qPrintable(filePath), qPrintable(e->toString()));
        const QString text = e ? TWFileUploadRequest::reasonForUser(*e) : QString();
        platform::Dispatch::main([completed, text] {
            if (completed)
                completed(text);
        });
    });
}
