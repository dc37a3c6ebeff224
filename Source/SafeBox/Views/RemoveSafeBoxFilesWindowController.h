// The sheet that deletes files of the open SafeBox together with their cached thumbnails. Only
// items inside the box's folder are deleted, whatever the list holds; a file that cannot be
// deleted is logged and left out of the result, and the run goes on.
//
// Threads: the controller and its widgets live on the main thread; the worker runs on the
// default global queue and reaches the interface only through the main queue.
#pragma once

#include "Browser/KPItemData.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QWidget;

namespace platform::kit {
class DialogService;
class Sheet;
} // namespace platform::kit

class RemoveSafeBoxFilesWindowController : public QObject {
    Q_OBJECT
public:
    using CompletedBlock = std::function<void(const QList<KPItemDataPtr>& removed)>;

    explicit RemoveSafeBoxFilesWindowController(platform::kit::DialogService* dialogs = nullptr, QObject* parent = nullptr);
    ~RemoveSafeBoxFilesWindowController() override;

    void setSafeBoxFolder(const QString& folder) { m_safeBoxFolder = folder; }
    QString safeBoxFolder() const { return m_safeBoxFolder; }

    // Begins the sheet; the block gets the items deleted, once the run has ended (not after a
    // cancel before it began). The controller deletes itself when the sheet ends.
    void removeFilesWithSheedWindow(QWidget* window, const QList<KPItemDataPtr>& items, CompletedBlock block);

    void btnRemove();
    void btnCancel();
    void btnCancelRemoving();

    QLabel* txtCopyingHint = nullptr;
    QProgressBar* progressIndicator = nullptr;
    platform::kit::Sheet* sheet() const { return m_sheet.get(); }

private:
    void finish(const QList<int>& removed);

    platform::kit::DialogService* m_dialogs;
    QString m_safeBoxFolder;
    QList<KPItemDataPtr> m_sourceFiles;
    CompletedBlock m_completedBlock;
    bool m_started = false;
    std::unique_ptr<platform::kit::Sheet> m_sheet;
    QStackedWidget* m_pages = nullptr;
    QWidget* m_statuView = nullptr;
    QLabel* m_question = nullptr;
    std::shared_ptr<std::atomic<bool>> m_bCancel = std::make_shared<std::atomic<bool>>(false);
};
