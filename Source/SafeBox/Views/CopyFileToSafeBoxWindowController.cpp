#include "SafeBox/Views/CopyFileToSafeBoxWindowController.h"

#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/XAttr.h"
#include "Platform/Kit/Alert.h"
#include "Platform/Kit/DialogService.h"
#include "Platform/Kit/Sheet.h"
#include "SafeBox/Views/DeleteSoon.h"
#include "Store/KPSafeBoxMoveJournal.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QUuid>
#include <QVBoxLayout>

#include <chrono>
#include <sys/stat.h>
#include <thread>

using platform::FileManager;

struct CopyFileToSafeBoxWindowController::Run {
    QString folder;
    QString device;
    bool move = false;
    QStringList paths;
    QStringList uris; // the library records of the sources, where they have one
    QString journalFolder;
    QString journal; // written before the originals are deleted
    Services services;
    std::shared_ptr<std::atomic<bool>> cancel;
    std::shared_ptr<std::atomic<bool>> cancelSealWait;
    std::shared_ptr<std::atomic<bool>> sealing;
    // Written by the worker, read on the main thread after it has ended.
    QList<int> copied;
    bool noSpace = false;
    QString notOpen;
    bool originalsDeleted = false;
    QString keptReason;
};

namespace {

quint64 itemSize(const QByteArray& path)
{
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0)
        return 0;
    return std::max<quint64>(quint64(st.st_size), quint64(st.st_blocks) * 512);
}

// The sealer must have begun a seal after `after`, without failing since, to hold the copies.
// The sealer judged is the one the status names at each look: one found dead may be replaced
// meanwhile by the window's watch, and only a sealer still dead after the time that takes ends
// the wait.
QString waitForSeal(const CopyFileToSafeBoxWindowController::Services& services, const QString& device, qint64 after,
                    const std::atomic<bool>& cancel)
{
    // A seal that began before `after` but after the last copy would leave the sealer nothing
    // to do: ask for one. When the request cannot be made, a later change may still bring one.
    if (auto asked = services.requestSeal(device); !asked)
        KPLogLogMessage(QStringLiteral("SafeBox: no seal could be asked for: %1").arg(asked.error().message));
    std::optional<std::chrono::steady_clock::time_point> deadSince;
    for (;;) {
        if (cancel.load())
            return QObject::tr("The wait for the SafeBox to be sealed was stopped.");
        const platform::sbx::SealStatus status = services.sealStatus(device);
        if (!status.lastFailure.isEmpty())
            return QObject::tr("The SafeBox could not be sealed: %1").arg(status.lastFailure);
        if (status.generation > 0 && status.lastSealBeganNs > after)
            return {};
        if (services.sealerAlive(status, device)) {
            deadSince.reset();
        } else {
            const auto now = std::chrono::steady_clock::now();
            if (!deadSince)
                deadSince = now;
            else if (now - *deadSince >= std::chrono::milliseconds(services.sealerReplacementMs))
                return QObject::tr("The process that seals the SafeBox is no longer running.");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(services.sealPollMs));
    }
}

// Copies one document under a hidden name and renames it into place; answers the final path.
platform::Result<QString> copyIn(const QString& source, const QString& folder)
{
    const QString name = QFileInfo(source).fileName();
    const QString temporary =
        folder + QStringLiteral("/.folivo-copy-") + QUuid::createUuid().toString(QUuid::Id128) + QStringLiteral(".part");
    if (auto copied = FileManager::copyItem(source, temporary); !copied) {
        FileManager::removeItem(temporary);
        return std::unexpected(copied.error());
    }
    // Another writer may take the name between the choice and the rename: try the next one.
    for (int attempt = 0; attempt < 20; ++attempt) {
        const QString target = CopyFileToSafeBoxWindowController::freeTargetPath(folder, name);
        auto renamed = FileManager::renameItem(temporary, target);
        if (renamed)
            return target;
        if (!FileManager::itemExists(target)) {
            FileManager::removeItem(temporary);
            return std::unexpected(renamed.error());
        }
    }
    FileManager::removeItem(temporary);
    return std::unexpected(platform::Error{QStringLiteral("SafeBox"), 1, QObject::tr("No free name for %1").arg(name)});
}

// Attributes the box's file system refused on the copy go to the box's sidecar.
void keepAttributes(const QString& source, const QString& target, const QString& mount)
{
    const auto names = platform::XAttr::list(source);
    if (!names)
        return;
    for (const QString& name : *names) {
        const auto value = platform::XAttr::get(source, name);
        if (!value || platform::XAttr::get(target, name))
            continue;
        if (auto kept = platform::SafeBoxAttributes::setAttribute(mount, target, name, *value); !kept)
            KPLogLogMessage(QStringLiteral("SafeBox: the attribute %1 of %2 was not kept: %3")
                                .arg(name, target, kept.error().message));
    }
}

} // namespace

CopyFileToSafeBoxWindowController::CopyFileToSafeBoxWindowController() : CopyFileToSafeBoxWindowController(Services{})
{
}

CopyFileToSafeBoxWindowController::CopyFileToSafeBoxWindowController(Services services, QObject* parent)
    : QObject(parent), m_services(std::move(services))
{
    if (!m_services.volumeInfo)
        m_services.volumeInfo = [](const QString& mount) { return platform::SafeBoxVolumeInfo::forMount(mount); };
    if (!m_services.sealStatus)
        m_services.sealStatus = [](const QString& device) { return platform::sbx::readSealStatus(device); };
    if (!m_services.requestSeal)
        m_services.requestSeal = [](const QString& device) { return platform::sbx::requestSeal(device); };
    if (!m_services.sealerAlive)
        m_services.sealerAlive = [](const platform::sbx::SealStatus& status, const QString& device) {
            // The sealer in charge records itself in the status once it watches, and the tool
            // that started it in the registry.
            if (status.sealerPid > 0 && platform::sbx::isSealerAlive(status.sealerPid, device))
                return true;
            const auto entry = platform::sbx::readRegistryEntry(device);
            return entry && entry->sealerPid > 0 && platform::sbx::isSealerAlive(entry->sealerPid, device);
        };

    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("CopyFileToSafeBox"));
    content->setFixedWidth(440);
    auto* outer = new QVBoxLayout(content);
    m_pages = new QStackedWidget(content);
    outer->addWidget(m_pages);

    m_choicePage = new QWidget;
    auto* choice = new QVBoxLayout(m_choicePage);
    m_question = new QLabel(m_choicePage);
    m_question->setWordWrap(true);
    choice->addWidget(m_question);
    auto* note = new QLabel(tr("Move deletes the original files, also those of index folders, once the SafeBox "
                               "holds them safely."),
                            m_choicePage);
    note->setWordWrap(true);
    choice->addWidget(note);
    auto* buttons = new QHBoxLayout;
    auto* cancel = new QPushButton(tr("Cancel"), m_choicePage);
    // Alt+M and Alt+C choose without the pointer.
    auto* move = new QPushButton(tr("&Move (deletes the originals)"), m_choicePage);
    auto* copy = new QPushButton(tr("&Copy"), m_choicePage);
    copy->setDefault(true);
    buttons->addWidget(cancel);
    buttons->addStretch();
    buttons->addWidget(move);
    buttons->addWidget(copy);
    choice->addLayout(buttons);
    connect(cancel, &QPushButton::clicked, this, &CopyFileToSafeBoxWindowController::btnCancel);
    connect(move, &QPushButton::clicked, this, &CopyFileToSafeBoxWindowController::btnMove);
    connect(copy, &QPushButton::clicked, this, &CopyFileToSafeBoxWindowController::btnCopy);

    m_statuView = new QWidget;
    auto* status = new QVBoxLayout(m_statuView);
    txtCopyingHint = new QLabel(m_statuView);
    txtCopyingHint->setWordWrap(true);
    txtCopyingHint->setTextFormat(Qt::PlainText);
    progressIndicator = new QProgressBar(m_statuView);
    btnCancelCopyingButton = new QPushButton(tr("Stop"), m_statuView);
    status->addWidget(txtCopyingHint);
    status->addWidget(progressIndicator);
    status->addWidget(btnCancelCopyingButton, 0, Qt::AlignRight);
    connect(btnCancelCopyingButton, &QPushButton::clicked, this, &CopyFileToSafeBoxWindowController::btnCancelCopying);

    m_pages->addWidget(m_choicePage);
    m_pages->addWidget(m_statuView);
    m_sheet = std::make_unique<platform::kit::Sheet>(content);
}

CopyFileToSafeBoxWindowController::~CopyFileToSafeBoxWindowController()
{
    // A worker still running stops after its current file and deletes nothing.
    m_bCancel->store(true);
    m_bCancelSealWait->store(true);
}

QString CopyFileToSafeBoxWindowController::freeTargetPath(const QString& folder, const QString& name)
{
    const QString plain = folder + QLatin1Char('/') + name;
    if (!FileManager::itemExists(plain))
        return plain;
    // The extension is what follows the last dot of a name that does not start with it.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot > 0;
    const QString base = hasExtension ? name.left(dot) : name;
    const QString extension = hasExtension ? name.mid(dot) : QString();
    const QString copy = folder + QLatin1Char('/') + base + QStringLiteral(" copy") + extension;
    if (!FileManager::itemExists(copy))
        return copy;
    for (int number = 2;; ++number) {
        const QString candidate =
            folder + QLatin1Char('/') + base + QStringLiteral(" copy %1").arg(number) + extension;
        if (!FileManager::itemExists(candidate))
            return candidate;
    }
}

quint64 CopyFileToSafeBoxWindowController::requiredSize(const QString& path)
{
    quint64 total = itemSize(QFile::encodeName(path));
    bool isDirectory = false;
    if (!FileManager::fileExists(path, &isDirectory) || !isDirectory || QFileInfo(path).isSymLink())
        return total;
    FileManager::enumerate(path, [&total](const platform::EnumeratedItem& item) {
        total += itemSize(QFile::encodeName(item.path));
        return platform::EnumerationControl::Continue;
    });
    return total;
}

void CopyFileToSafeBoxWindowController::copyFilesWithSheedWindow(QWidget* window, const QList<KPItemDataPtr>& sources,
                                                                 CompletedBlock block)
{
    m_window = window;
    m_sourceFiles = sources;
    m_completedBlock = std::move(block);
    m_question->setText(sources.size() == 1
                            ? tr("Copy \"%1\" into the SafeBox?").arg(QFileInfo(sources.first()->filePath()).fileName())
                            : tr("Copy %1 documents into the SafeBox?").arg(sources.size()));
    platform::kit::DialogService& dialogs =
        m_services.dialogs ? *m_services.dialogs : platform::kit::DialogService::shared();
    dialogs.beginSheet(window, *m_sheet, [self = QPointer(this)](int) {
        if (self)
            safebox::deleteSoon(self);
    });
}

void CopyFileToSafeBoxWindowController::btnCopy()
{
    start();
}

void CopyFileToSafeBoxWindowController::btnMove()
{
    if (m_started)
        return;
    m_isMoveMode = true;
    start();
}

void CopyFileToSafeBoxWindowController::btnCancel()
{
    if (m_started)
        return;
    if (m_sheet->isBegun())
        m_sheet->end(0);
}

void CopyFileToSafeBoxWindowController::btnCancelCopying()
{
    if (m_sealing->load())
        m_bCancelSealWait->store(true);
    else
        m_bCancel->store(true);
    btnCancelCopyingButton->setEnabled(false);
}

void CopyFileToSafeBoxWindowController::start()
{
    if (m_started)
        return;
    m_started = true;
    m_pages->setCurrentWidget(m_statuView);
    progressIndicator->setRange(0, int(m_sourceFiles.size()));
    progressIndicator->setValue(0);

    auto run = std::make_shared<Run>();
    run->folder = m_safeBoxFolder;
    run->device = m_safeBoxDisk;
    run->move = m_isMoveMode;
    for (const KPItemDataPtr& item : m_sourceFiles) {
        run->paths.append(item->filePath());
        run->uris.append(item->data() ? item->data().URIString() : QString());
    }
    run->journalFolder = m_moveJournalFolder;
    run->services = m_services;
    run->cancel = m_bCancel;
    run->cancelSealWait = m_bCancelSealWait;
    run->sealing = m_sealing;

    const QPointer<CopyFileToSafeBoxWindowController> self(this);
    platform::Dispatch::async(platform::DispatchQueue::global(), [run, self] {
        const auto toMain = [self](std::function<void(CopyFileToSafeBoxWindowController&)> step) {
            platform::Dispatch::main([self, step = std::move(step)] {
                if (self)
                    step(*self);
            });
        };
        const std::optional<platform::SafeBoxVolumeInfo> volume = run->services.volumeInfo(run->folder);
        if (!volume) {
            run->notOpen = QObject::tr("The SafeBox is not open.");
            toMain([run](CopyFileToSafeBoxWindowController& c) { c.finish(run); });
            return;
        }
        quint64 free = volume->free;
        for (int i = 0; i < run->paths.size(); ++i) {
            const QString& source = run->paths.at(i);
            const QString name = QFileInfo(source).fileName();
            toMain([i, name, move = run->move](CopyFileToSafeBoxWindowController& c) {
                c.progressIndicator->setValue(i);
                c.txtCopyingHint->setText((move ? QStringLiteral("Moving \"%1\"") : QStringLiteral("Copying \"%1\""))
                                              .arg(name));
            });
            const quint64 size = requiredSize(source);
            if (size >= free) {
                run->noSpace = true;
                break;
            }
            const platform::Result<QString> target = copyIn(source, run->folder);
            if (!target) {
                KPLogLogMessage(QStringLiteral("SafeBox: %1 was not copied: %2").arg(source, target.error().message));
            } else if (auto verified = FileManager::verifyCopy(source, *target); !verified) {
                // What is in the box is not what the user has: keep neither as the document's copy.
                KPLogLogMessage(QStringLiteral("SafeBox: the copy of %1 differs: %2").arg(source, verified.error().message));
                FileManager::removeItem(*target);
            } else {
                keepAttributes(source, *target, run->folder);
                run->copied.append(i);
                free -= size;
            }
            if (run->cancel->load())
                break;
        }
        if (run->move && !run->copied.isEmpty()) {
            // The copies are whole from here: a seal begun after this moment holds them, even one
            // that begins before this thread runs again once the sheet says it is sealing.
            const qint64 copiedAt = platform::sbx::monotonicNowNs();
            run->sealing->store(true);
            toMain([](CopyFileToSafeBoxWindowController& c) {
                c.txtCopyingHint->setText(QObject::tr("Sealing…"));
                c.btnCancelCopyingButton->setText(QObject::tr("Keep Originals"));
                c.btnCancelCopyingButton->setEnabled(true);
            });
            run->keptReason = waitForSeal(run->services, run->device, copiedAt, *run->cancelSealWait);
            if (run->keptReason.isEmpty() && !run->journalFolder.isEmpty()) {
                QList<KPSafeBoxMoveJournal::Entry> entries;
                for (int index : run->copied) {
                    if (!run->uris.at(index).isEmpty())
                        entries.append({run->uris.at(index), run->paths.at(index)});
                }
                if (!entries.isEmpty()) {
                    // Without it a kill after the deletions would leave records without files.
                    if (auto journal = KPSafeBoxMoveJournal::write(run->journalFolder, entries))
                        run->journal = *journal;
                    else
                        run->keptReason = QObject::tr("The move could not be recorded in the library: %1")
                                              .arg(journal.error().message);
                }
            }
            if (run->keptReason.isEmpty()) {
                for (int index : run->copied) {
                    if (auto removed = FileManager::removeItem(run->paths.at(index)); !removed)
                        KPLogLogMessage(QStringLiteral("SafeBox: the original %1 was not deleted: %2")
                                            .arg(run->paths.at(index), removed.error().message));
                }
                run->originalsDeleted = true;
            } else {
                KPLogLogMessage(QStringLiteral("SafeBox: the originals were kept: %1").arg(run->keptReason));
            }
        }
        toMain([run](CopyFileToSafeBoxWindowController& c) { c.finish(run); });
    });
}

void CopyFileToSafeBoxWindowController::finish(const std::shared_ptr<Run>& run)
{
    progressIndicator->setValue(progressIndicator->maximum());
    m_isMoveMode = run->originalsDeleted;
    QList<KPItemDataPtr> copied;
    for (int index : run->copied)
        copied.append(m_sourceFiles.at(index));
    platform::kit::DialogService& dialogs =
        m_services.dialogs ? *m_services.dialogs : platform::kit::DialogService::shared();
    if (run->noSpace) {
        dialogs.alert(m_window, platform::kit::Alert::withMessage(
                                    QStringLiteral("Not enough free space to process this action."), QStringLiteral("OK"),
                                    QString(), QString(),
                                    QStringLiteral("Please go to SafeBox Setting to resize the space volume.")),
                      [](int) {});
    } else if (!run->notOpen.isEmpty()) {
        dialogs.alert(m_window, platform::kit::Alert::withMessage(run->notOpen, tr("OK"), {}, {}, {}), [](int) {});
    }
    if (run->move && !run->copied.isEmpty() && !run->originalsDeleted) {
        dialogs.alert(m_window,
                      platform::kit::Alert::withMessage(
                          tr("The documents were copied into the SafeBox; the originals were kept."), tr("OK"), {}, {},
                          run->keptReason),
                      [](int) {});
    }
    CompletedBlock block = std::move(m_completedBlock);
    if (m_sheet->isBegun())
        m_sheet->end(1);
    if (block)
        block(copied);
    // The block has taken the moved documents out of the library.
    KPSafeBoxMoveJournal::remove(run->journal);
}
