#include "MainWindow/Parts/SelectionSharing.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "Mail/MailInfo.h"
#include "Mail/SendMailClient.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/MainWindowExtensions.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Kit/Alert.h"
#include "Platform/Kit/DialogService.h"
#include "Platform/Kit/Popover.h"
#include "Platform/Kit/PopoverGeometry.h"
#include "Platform/Mail/MailComposer.h"
#include "Platform/Workspace/Workspace.h"
#include "SideBar/SideBarNotifications.h"
#include "Store/DBHelper.h"
#include "Store/DBTag.h"
#include "Store/DataBaseEngine.h"
#include "Utilities/KPLogger/KPLogClient.h"
#include "Utilities/KPZipArchive.h"
#include "Utilities/ZipCentralDirectory.h"
#include "TWService/ServerInfo.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QUrl>
#include <QUuid>

using platform::kit::MenuItemModel;
using platform::localizedString;

namespace {

const QString kTagsCountObject = QStringLiteral("Tags");

QString userAccountName()
{
    const QByteArray user = qgetenv("USER");
    return user.isEmpty() ? QDir::home().dirName() : QString::fromLocal8Bit(user);
}

} // namespace

SelectionSharing::SelectionSharing(MainWindowContext& ctx) : tagEditor(&ItemViewServices::tokenTagEditor), m_ctx(ctx) {}

SelectionSharing::~SelectionSharing()
{
    *m_alive = false;
    if (m_tagPopover)
        delete m_tagPopover.data();
}

void SelectionSharing::install()
{
    if (!m_ctx.commands)
        return;
    auto& commands = *m_ctx.commands;
    m_commands.push_back(commands.add(kShowTagsCommand, [this](const QVariant&) { onShowTagsAction(); }));
    m_commands.push_back(commands.add(kShareItemCommand, [this](const QVariant& s) { onShareItemClick(s); }));
    m_commands.push_back(commands.add(kShareCommand, [this](const QVariant& s) {
        onShareClick(qobject_cast<QWidget*>(platform::kit::senderData(s).value<QObject*>()));
    }));
    m_commands.push_back(commands.add(kMailClientCommand, [this](const QVariant& s) { onMailClientClick(s); }));
    m_commands.push_back(commands.add(kSendFileToCommand, [this](const QVariant& s) { onSendFileTo(s); }));
}

DataBaseEngine& SelectionSharing::store() const
{
    return m_ctx.store ? *m_ctx.store : *DataBaseEngine::dataBaseEngine();
}

platform::Workspace& SelectionSharing::desktop() const
{
    return workspace ? *workspace : platform::Workspace::shared();
}

QList<KPItemDataPtr> SelectionSharing::selectedItems() const
{
    if (!m_ctx.collectionView || !m_ctx.gridDataSource)
        return {};
    return m_ctx.gridDataSource->itemDatasWithSectionIndexSets(m_ctx.collectionView->selectedIndexs());
}

QStringList SelectionSharing::selectedPaths() const
{
    QStringList paths;
    for (const KPItemDataPtr& item : selectedItems())
        if (!item->filePath().isEmpty())
            paths.append(item->filePath());
    return paths;
}

void SelectionSharing::redrawSelection() const
{
    if (!m_ctx.collectionView)
        return;
    for (const KPSectionIndexSet& indexSet : m_ctx.collectionView->selectedIndexs())
        m_ctx.collectionView->updateDisplayWithIndexSet(indexSet);
}

// ---------------------------------------------------------------------------------------------
// The tag popover

platform::kit::Popover* SelectionSharing::tagPopover() const
{
    return m_tagPopover;
}

void SelectionSharing::onShowTagsAction()
{
    if (m_tagPopover)
        return;
    m_tagItems = selectedItems();
    m_sourceMutileValues.clear();
    for (qsizetype i = 0; i < m_tagItems.size(); ++i) {
        const QStringList& names = m_tagItems[i]->tagObjects();
        const QSet<QString> own(names.begin(), names.end());
        m_sourceMutileValues = i == 0 ? own : m_sourceMutileValues.intersect(own);
    }
    if (!tagEditor)
        return;
    QStringList shown = m_sourceMutileValues.values();
    shown.sort(Qt::CaseInsensitive);
    TagEditorCallbacks callbacks;
    callbacks.valueChange = [this](const QStringList& names) { onTagEditorVCValueChange(names); };
    callbacks.done = [this] { onTagEditorVCDone(); };
    // The token editor takes typing, so the popover lives inside the window (Overlay).
    auto* popover = new platform::kit::Popover(platform::kit::Popover::Form::Overlay);
    popover->setContentWidget(tagEditor(shown, std::move(callbacks)));
    popover->setContentSize(QSize(220, 160));
    m_tagPopover = popover;
    QObject::connect(popover, &platform::kit::Popover::closed, popover, [this, popover] {
        if (m_tagPopover == popover)
            onTagEditorVCDone();
    });
    if (QWidget* anchor = m_ctx.collectionView ? static_cast<QWidget*>(m_ctx.collectionView) : m_ctx.window.data()) {
        // Above the action bar, which stands at the bottom middle of the grid.
        const QRect anchorRect(anchor->width() / 2 - 212, anchor->height() - 70, 220, 160);
        popover->show(anchor, anchorRect, platform::kit::flippedEdge(platform::kit::PopoverEdge::MaxY));
    }
}

void SelectionSharing::onTagEditorVCValueChange(const QStringList& names)
{
    if (!m_tagPopover)
        return;
    const QSet<QString> now(names.begin(), names.end());
    const QSet<QString> removedNames = QSet<QString>(m_sourceMutileValues).subtract(now);
    const QSet<QString> addedNames = QSet<QString>(now).subtract(m_sourceMutileValues);
    m_sourceMutileValues = now;

    DataBaseEngine& engine = store();
    QList<DBTag> removed;
    for (const QString& name : removedNames)
        if (DBTag tag = engine.tagNamed(name))
            removed.append(tag);
    QList<DBTag> added;
    QVariantList created;
    for (const QString& name : addedNames) {
        if (name.trimmed().isEmpty())
            continue;
        DBTag tag = engine.tagNamed(name);
        if (!tag) {
            tag = engine.createTagByContext(name);
            if (!tag)
                continue;
            created.append(tag.ref());
        }
        if (!added.contains(tag))
            added.append(tag);
    }

    for (const KPItemDataPtr& item : std::as_const(m_tagItems)) {
        DBFileInfo record = item->data();
        if (!record || record.isDeleted())
            continue;
        for (const DBTag& tag : std::as_const(removed))
            record.removeTagsObject(tag);
        for (const DBTag& tag : std::as_const(added))
            record.addTagsObject(tag);
        if (item->bLoadedDataContent())
            item->reloadTagFromDBFileInfo();
        else
            item->loadDataContent();
    }
    engine.save();
    platform::NotificationCenter& center =
        m_ctx.notifications ? *m_ctx.notifications : platform::NotificationCenter::defaultCenter();
    if (!created.isEmpty())
        center.post(kNewTagNotification, created);
    redrawSelection();
    center.post(RefreshItemCountNotification, kTagsCountObject);
}

void SelectionSharing::onTagEditorVCDone()
{
    if (!m_tagPopover)
        return;
    platform::kit::Popover* popover = m_tagPopover;
    m_tagPopover = nullptr;
    popover->close();
    popover->deleteLater();
    const QList<KPItemDataPtr> items = std::exchange(m_tagItems, {});
    // Written even when nothing changed: the attributes may have been lost or edited outside.
    for (const KPItemDataPtr& item : items)
        if (item->data() && !item->data().isDeleted())
            DBHelper::writeMetaDataInfoByTags(item->data());
}

// ---------------------------------------------------------------------------------------------
// Share

std::vector<MenuItemModel> SelectionSharing::shareItems() const
{
    std::vector<MenuItemModel> items{
        MenuItemModel::item(localizedString(QStringLiteral("Email…")), ShareEmail, kShareItemCommand),
        MenuItemModel::item(localizedString(QStringLiteral("Copy")), ShareCopy, kShareItemCommand),
        MenuItemModel::item(localizedString(QStringLiteral("Show in Folder")), ShareShowInFolder, kShareItemCommand),
    };
    const QList<platform::MailProgram> programs = SendMailClient::composer().installedMailPrograms();
    if (!programs.isEmpty())
        items.push_back(MenuItemModel::separator());
    for (const platform::MailProgram& program : programs) {
        const QString name = program.application.name.isEmpty() ? program.application.id : program.application.name;
        items.push_back(MenuItemModel::item(name, 0, kMailClientCommand, program.application.id));
    }
    return items;
}

std::vector<MenuItemModel> SelectionSharing::sendToItems() const
{
    std::vector<MenuItemModel> items;
    if (!m_ctx.peers)
        return items;
    for (const std::shared_ptr<ServerInfo>& peer : m_ctx.peers->serverList()) {
        if (!peer)
            continue;
        const QVariantMap record{{kAddressKey, peer->address()}, {kPortKey, int(peer->dataPort())}};
        const QString title = peer->serverName().isEmpty() ? peer->address() : peer->serverName();
        items.push_back(MenuItemModel::item(title, 0, kSendFileToCommand, record));
    }
    return items;
}

void SelectionSharing::onShareClick(QWidget* button)
{
    if (!button)
        return;
    QMenu* menu = platform::kit::toQMenu(platform::kit::MenuModel{{}, shareItems()}, button, [this](QAction* action) {
        if (m_ctx.commands)
            m_ctx.commands->performFromAction(action);
    });
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(button->mapToGlobal(QPoint(0, button->height())));
}

QMimeData* SelectionSharing::copiedFilesMimeData(const QStringList& paths)
{
    auto* data = new QMimeData;
    QList<QUrl> urls;
    QByteArray gnome("copy");
    for (const QString& path : paths) {
        const QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
        urls.append(url);
        gnome += '\n' + url.toEncoded();
    }
    // URIs are percent-encoded, so no file name can add a line of its own to either list.
    data->setUrls(urls);
    data->setData(QStringLiteral("x-special/gnome-copied-files"), gnome);
    return data;
}

void SelectionSharing::onShareItemClick(const QVariant& sender)
{
    const QStringList paths = selectedPaths();
    if (paths.isEmpty())
        return;
    switch (platform::kit::senderTag(sender)) {
    case ShareEmail: {
        MailInfo info;
        info.subject = localizedString(QStringLiteral("Documents shared from Folivo 2"));
        info.content = localizedString(QStringLiteral("Sent from Folivo 2"));
        info.files = paths;
        SendMailClient::sendMail(info);
        break;
    }
    case ShareCopy:
        QApplication::clipboard()->setMimeData(copiedFilesMimeData(paths));
        break;
    case ShareShowInFolder:
        if (auto shown = desktop().selectFiles(paths); !shown)
            KPLogLogMessage(shown.error().message);
        break;
    default:
        break;
    }
}

void SelectionSharing::onMailClientClick(const QVariant& sender)
{
    MailInfo info;
    info.subject = localizedString(QStringLiteral("Documents shared from Folivo 2"));
    info.content = localizedString(QStringLiteral("Sent from Folivo 2"));
    info.files = selectedPaths();
    SendMailClient::sendMail(info, platform::kit::senderData(sender).toString());
}

// ---------------------------------------------------------------------------------------------
// Send to a peer

QVariantMap SelectionSharing::uploadFileInfo(const KPItemData& item, const QString& path)
{
    const QFileInfo file(path);
    QVariantMap info{
        {kNameKey, item.data() ? item.data().title() : item.title()},
        {kExtentionKey, item.data() ? item.data().pathExtension() : file.suffix()},
        {kFromKey, userAccountName()},
    };
    if (!file.isDir())
        info.insert(kSizeKey, qint64(file.size()));
    if (!item.tagString().isEmpty())
        info.insert(kTagsKey, item.tagString());
    if (file.exists())
        info.insert(kIsFolderKey, file.isDir());
    return info;
}

// What one send has left to hear and what did not arrive, with why.
struct SelectionSharing::Send {
    QString peerName;
    int pending = 0;
    int count = 0;
    QList<std::pair<QString, QString>> missing; // title, reason
};

void SelectionSharing::onSendFileTo(const QVariant& sender)
{
    const QVariantMap peer = platform::kit::senderData(sender).toMap();
    const QString address = peer.value(kAddressKey).toString();
    const int port = peer.value(kPortKey).toInt();
    if (address.isEmpty() || port <= 0 || port > 65535)
        return;
    const QList<KPItemDataPtr> items = selectedItems();
    if (items.isEmpty())
        return;
    auto send = std::make_shared<Send>();
    send->peerName = address;
    if (m_ctx.peers) {
        for (const std::shared_ptr<ServerInfo>& known : m_ctx.peers->serverList()) {
            if (known && known->address() == address && known->dataPort() == port && !known->serverName().isEmpty())
                send->peerName = known->serverName();
        }
    }
    send->pending = send->count = int(items.size());
    // The peer's exchange takes the uploads to it a few at a time, in this order, and sends again
    // what its receiver made way with: every one is handed over at once.
    for (const KPItemDataPtr& item : items)
        sendOne(item, address, quint16(port), send);
}

QString SelectionSharing::sendNoticeMessage(const QString& peerName, int missing, int count)
{
    if (count == 1)
        return localizedString(QStringLiteral("The document did not arrive at “%1”.")).arg(peerName);
    if (missing == count)
        return localizedString(QStringLiteral("None of the %1 documents arrived at “%2”.")).arg(count).arg(peerName);
    return localizedString(QStringLiteral("%1 of %2 documents did not arrive at “%3”."))
        .arg(missing)
        .arg(count)
        .arg(peerName);
}

void SelectionSharing::sendEnded(const std::shared_ptr<Send>& send)
{
    if (send->missing.isEmpty())
        return;
    // One line per document, as many as a notice can show; the log has every one.
    constexpr qsizetype kLines = 8;
    QStringList lines;
    for (qsizetype i = 0; i < send->missing.size() && i < kLines; ++i) {
        lines.append(localizedString(QStringLiteral("“%1”: %2."))
                         .arg(send->missing[i].first, send->missing[i].second));
    }
    if (send->missing.size() > kLines)
        lines.append(localizedString(QStringLiteral("And %1 more.")).arg(send->missing.size() - kLines));
    platform::kit::Alert alert = platform::kit::Alert::withMessage(
        sendNoticeMessage(send->peerName, int(send->missing.size()), send->count),
        localizedString(QStringLiteral("OK")), {}, {}, lines.join(QLatin1Char('\n')));
    alert.setStyle(platform::kit::Alert::Style::Warning);
    auto& dialogs = m_ctx.dialogs ? *m_ctx.dialogs : platform::kit::DialogService::shared();
    dialogs.alert(m_ctx.window, alert, {});
}

void SelectionSharing::sendOne(const KPItemDataPtr& item, const QString& address, quint16 port,
                               const std::shared_ptr<Send>& send)
{
    const QString path = item->filePath();
    QVariantMap info = uploadFileInfo(*item, path);
    const QString title = info.value(kNameKey).toString();
    const bool folder = info.value(kIsFolderKey).toBool();
    QString archive;
    if (folder) {
        QString dir = temporaryFolder;
        if (dir.isEmpty()) {
            auto temporary = platform::Paths::temporaryDirectory();
            dir = temporary ? *temporary : QString();
        }
        archive = dir.isEmpty() ? QString()
                                : QStringLiteral("%1/%2.zip").arg(dir, QUuid::createUuid().toString(QUuid::WithoutBraces));
    }
    std::weak_ptr<bool> alive = m_alive;
    PeerDirectory* peers = m_ctx.peers;
    auto finished = [this, alive, send, title](const QString& error) {
        if (!error.isEmpty())
            KPLogLogMessage(QStringLiteral("Send File Error: %1: %2").arg(title, error));
        if (alive.expired())
            return;
        if (!error.isEmpty())
            send->missing.append({title, error});
        if (--send->pending > 0)
            return;
        sendEnded(send);
        if (sendFinished)
            sendFinished();
    };
    auto upload = [alive, peers, address, port, finished](QVariantMap info, QString file, QString archive,
                                                          qint64 entries) {
        platform::Dispatch::main([=] {
            auto ended = [archive, finished](const QString& error) {
                if (!archive.isEmpty())
                    QFile::remove(archive);
                finished(error);
            };
            if (alive.expired() || !peers) {
                ended(QStringLiteral("the window has closed"));
                return;
            }
            peers->uploadFile(address, port, info, file, entries, ended);
        });
    };
    platform::Dispatch::async(platform::DispatchQueue::global(platform::QueuePriority::Default),
                              [path, info, folder, archive, upload, finished]() mutable {
                                  if (!folder) {
                                      upload(info, path, QString(), 0);
                                      return;
                                  }
                                  if (archive.isEmpty() || !KPZipArchive::zipWithFilePath(path, archive)) {
                                      if (!archive.isEmpty())
                                          QFile::remove(archive);
                                      KPLogLogMessage(QStringLiteral("Send File Error: could not zip %1").arg(path));
                                      platform::Dispatch::main([finished] {
                                          finished(QStringLiteral("it could not be packed for sending"));
                                      });
                                      return;
                                  }
                                  info.insert(kSizeKey, qint64(QFileInfo(archive).size()));
                                  // The receiver writes each entry as a file: the sender waits
                                  // for it to store them in proportion.
                                  qint64 entries = 0;
                                  if (QFile zip(archive); zip.open(QIODevice::ReadOnly)) {
                                      if (auto directory = ZipCentralDirectory::read(zip))
                                          entries = qint64(directory->entries().size());
                                  }
                                  upload(info, archive, archive, entries);
                              });
}
