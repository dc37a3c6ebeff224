#include "SafeBox/Views/RemoveSafeBoxFilesWindowController.h"

#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Kit/DialogService.h"
#include "Platform/Kit/Sheet.h"
#include "SafeBox/Views/DeleteSoon.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

using platform::FileManager;

namespace {

// Whole components, so "/box-other/x" is not inside "/box".
bool isInside(const QString& path, const QString& folder)
{
    if (folder.isEmpty() || path.isEmpty())
        return false;
    const QString clean = QDir::cleanPath(path);
    const QString root = QDir::cleanPath(folder);
    return clean.startsWith(root + QLatin1Char('/')) && clean.size() > root.size() + 1;
}

} // namespace

RemoveSafeBoxFilesWindowController::RemoveSafeBoxFilesWindowController(platform::kit::DialogService* dialogs,
                                                                       QObject* parent)
    : QObject(parent), m_dialogs(dialogs)
{
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("RemoveSafeBoxFilesWindow"));
    content->setFixedWidth(440);
    auto* outer = new QVBoxLayout(content);
    m_pages = new QStackedWidget(content);
    outer->addWidget(m_pages);

    auto* choice = new QWidget;
    auto* choiceLayout = new QVBoxLayout(choice);
    m_question = new QLabel(choice);
    m_question->setWordWrap(true);
    choiceLayout->addWidget(m_question);
    auto* buttons = new QHBoxLayout;
    auto* cancel = new QPushButton(tr("Cancel"), choice);
    auto* remove = new QPushButton(tr("Delete"), choice);
    cancel->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addWidget(remove);
    choiceLayout->addLayout(buttons);
    connect(cancel, &QPushButton::clicked, this, &RemoveSafeBoxFilesWindowController::btnCancel);
    connect(remove, &QPushButton::clicked, this, &RemoveSafeBoxFilesWindowController::btnRemove);

    m_statuView = new QWidget;
    auto* status = new QVBoxLayout(m_statuView);
    txtCopyingHint = new QLabel(m_statuView);
    txtCopyingHint->setTextFormat(Qt::PlainText);
    txtCopyingHint->setWordWrap(true);
    progressIndicator = new QProgressBar(m_statuView);
    auto* stop = new QPushButton(tr("Stop"), m_statuView);
    status->addWidget(txtCopyingHint);
    status->addWidget(progressIndicator);
    status->addWidget(stop, 0, Qt::AlignRight);
    connect(stop, &QPushButton::clicked, this, &RemoveSafeBoxFilesWindowController::btnCancelRemoving);

    m_pages->addWidget(choice);
    m_pages->addWidget(m_statuView);
    m_sheet = std::make_unique<platform::kit::Sheet>(content);
}

RemoveSafeBoxFilesWindowController::~RemoveSafeBoxFilesWindowController()
{
    m_bCancel->store(true);
}

void RemoveSafeBoxFilesWindowController::removeFilesWithSheedWindow(QWidget* window, const QList<KPItemDataPtr>& items,
                                                                    CompletedBlock block)
{
    m_sourceFiles = items;
    m_completedBlock = std::move(block);
    m_question->setText(items.size() == 1
                            ? tr("Delete \"%1\" from the SafeBox? This cannot be undone.")
                                  .arg(QFileInfo(items.first()->filePath()).fileName())
                            : tr("Delete %1 files from the SafeBox? This cannot be undone.").arg(items.size()));
    platform::kit::DialogService& dialogs = m_dialogs ? *m_dialogs : platform::kit::DialogService::shared();
    dialogs.beginSheet(window, *m_sheet, [self = QPointer(this)](int) {
        if (self)
            safebox::deleteSoon(self);
    });
}

void RemoveSafeBoxFilesWindowController::btnCancel()
{
    if (!m_started && m_sheet->isBegun())
        m_sheet->end(1);
}

void RemoveSafeBoxFilesWindowController::btnCancelRemoving()
{
    m_bCancel->store(true);
}

void RemoveSafeBoxFilesWindowController::btnRemove()
{
    if (m_started)
        return;
    m_started = true;
    m_pages->setCurrentWidget(m_statuView);
    progressIndicator->setRange(0, int(m_sourceFiles.size()));
    QList<std::pair<QString, QString>> files;
    for (const KPItemDataPtr& item : m_sourceFiles)
        files.append({item->filePath(), item->thumbPath()});
    const QString folder = m_safeBoxFolder;
    const QPointer<RemoveSafeBoxFilesWindowController> self(this);
    platform::Dispatch::async(platform::DispatchQueue::global(), [self, files, folder, cancel = m_bCancel] {
        QList<int> removed;
        for (int i = 0; i < files.size(); ++i) {
            const auto& [path, thumb] = files.at(i);
            platform::Dispatch::main([self, i, name = QFileInfo(path).fileName()] {
                if (!self)
                    return;
                self->progressIndicator->setValue(i);
                self->txtCopyingHint->setText(QStringLiteral("Deleting \"%1\"").arg(name));
            });
            if (!isInside(path, folder)) {
                KPLogLogDomainMessage(QStringLiteral("RemoveSafeBoxFile"), 0,
                                      QStringLiteral("%1 is not in the SafeBox; it was not deleted").arg(path));
            } else if (!FileManager::itemExists(path)) {
                KPLogLogDomainMessage(QStringLiteral("RemoveSafeBoxFile"), 0,
                                      QStringLiteral("%1 was already gone").arg(path));
            } else if (auto done = FileManager::removeItem(path); !done) {
                KPLogLogDomainMessage(QStringLiteral("RemoveSafeBoxFile"), 0, done.error().message);
            } else {
                if (isInside(thumb, folder))
                    FileManager::removeItem(thumb);
                removed.append(i);
            }
            if (cancel->load())
                break;
        }
        platform::Dispatch::main([self, removed] {
            if (self)
                self->finish(removed);
        });
    });
}

void RemoveSafeBoxFilesWindowController::finish(const QList<int>& removed)
{
    QList<KPItemDataPtr> items;
    for (int index : removed)
        items.append(m_sourceFiles.at(index));
    CompletedBlock block = std::move(m_completedBlock);
    if (m_sheet->isBegun())
        m_sheet->end(1);
    if (block)
        block(items);
}
