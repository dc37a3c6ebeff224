// The sheet that copies or moves documents into the open SafeBox, one at a time, with a
// progress bar and a cancel button that takes effect after the current file.
//
// Nothing of the user's is lost on the way:
// - the free-space check counts a package with the allocated size of everything in it, and a
//   file that needs as much as is left, or more, ends the run before it is copied;
// - each document is copied under a hidden temporary name and renamed into place, so a failed
//   copy leaves no partial document in the box; names are never overwritten ("report copy.pdf",
//   "report copy 2.pdf"; no trailing dot for a name without extension);
// - user attributes the box's file system refuses go to the box's sidecar;
// - a move deletes an original only once its copy is verified in the box and the sealer has
//   sealed after it; the sheet asks the sealer for that seal rather than wait for a change that
//   may never come (a seal may have begun between the last copy and the wait); before the first
//   original goes, the move is journalled in the library, so a start after a kill finishes it. When the sealer reports a failure, has died, or the user stops the wait, no
//   original is deleted and the run counts as a copy (isMoveMode() answers false).
//
// Threads: the controller and its widgets live on the main thread; the worker runs on the
// default global queue and reaches the interface only through the main queue. The cancel flags
// are atomics; the services are called on the worker and must be safe there.
#pragma once

#include "Browser/KPItemData.h"
#include "Platform/DiskImage/DiskImageRuntime.h"
#include "Platform/DiskImage/SafeBoxVolumeInfo.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QWidget;

namespace platform::kit {
class DialogService;
class Sheet;
} // namespace platform::kit

class CopyFileToSafeBoxWindowController : public QObject {
    Q_OBJECT
public:
    using CompletedBlock = std::function<void(const QList<KPItemDataPtr>& copied)>;

    struct Services {
        platform::kit::DialogService* dialogs = nullptr;
        // Empty: SafeBoxVolumeInfo of the mount folder.
        std::function<std::optional<platform::SafeBoxVolumeInfo>(const QString& mount)> volumeInfo;
        // Empty: the sealer's status record of the device.
        std::function<platform::sbx::SealStatus(const QString& device)> sealStatus;
        // Empty: whether the sealer the status or the registry names runs.
        std::function<bool(const platform::sbx::SealStatus& status, const QString& device)> sealerAlive;
        // Empty: platform::sbx::requestSeal. Asks the sealer for a seal that begins after now.
        std::function<platform::Result<void>(const QString& device)> requestSeal;
        // How often the seal wait looks at the status record.
        int sealPollMs = 100;
        // How long the seal wait gives a replacement for a dead sealer before it gives up: the
        // window looks at the sealer every 5 s and starts another when it died, which can take
        // the tool a few seconds more.
        int sealerReplacementMs = 15000;
    };

    CopyFileToSafeBoxWindowController();
    explicit CopyFileToSafeBoxWindowController(Services services, QObject* parent = nullptr);
    ~CopyFileToSafeBoxWindowController() override;

    void setSafeBoxFolder(const QString& folder) { m_safeBoxFolder = folder; }
    QString safeBoxFolder() const { return m_safeBoxFolder; }
    // The attached device, whose sealer a move waits for.
    void setSafeBoxDisk(const QString& device) { m_safeBoxDisk = device; }
    // The library folder, where a move journals the documents whose originals it deletes
    // (KPSafeBoxMoveJournal) until the completion block has taken them out of the library.
    // Empty: no journal.
    void setMoveJournalFolder(const QString& folder) { m_moveJournalFolder = folder; }
    // Whether the originals of the copied documents were deleted.
    bool isMoveMode() const { return m_isMoveMode; }

    // Begins the sheet on window; the block gets the documents copied, once, when it ends. The
    // controller deletes itself after that.
    void copyFilesWithSheedWindow(QWidget* window, const QList<KPItemDataPtr>& sources, CompletedBlock block);

    void btnCopy();
    void btnMove();
    void btnCancel();
    void btnCancelCopying();

    QLabel* txtCopyingHint = nullptr;
    QProgressBar* progressIndicator = nullptr;
    QPushButton* btnCancelCopyingButton = nullptr;
    platform::kit::Sheet* sheet() const { return m_sheet.get(); }

    // "<folder>/<name>", else the first free one of "<base> copy.<ext>", "<base> copy 2.<ext>", ….
    static QString freeTargetPath(const QString& folder, const QString& name);
    // Bytes a copy of path takes: for a folder, everything in it, each at least its allocation.
    static quint64 requiredSize(const QString& path);

private:
    struct Run;
    void start();
    void finish(const std::shared_ptr<Run>& run);

    Services m_services;
    QString m_safeBoxFolder;
    QString m_safeBoxDisk;
    QString m_moveJournalFolder;
    QList<KPItemDataPtr> m_sourceFiles;
    CompletedBlock m_completedBlock;
    bool m_isMoveMode = false;
    bool m_started = false;
    std::unique_ptr<platform::kit::Sheet> m_sheet;
    QPointer<QWidget> m_window;
    QStackedWidget* m_pages = nullptr;
    QWidget* m_choicePage = nullptr;
    QWidget* m_statuView = nullptr;
    QLabel* m_question = nullptr;
    std::shared_ptr<std::atomic<bool>> m_bCancel = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<bool>> m_bCancelSealWait = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<bool>> m_sealing = std::make_shared<std::atomic<bool>>(false);
};
