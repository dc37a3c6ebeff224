#include "Scanner/UI/KPScannerSaveWindowController.h"

#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/DialogService.h"
#include "Platform/Kit/Sheet.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Store/DBNode.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPLibraryFileManager.h"
#include "Utilities/ImageQuickLook.h"
#include "Utilities/SystemHelpers.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Tuning: how often a quit waiting for a save looks whether it has ended.
constexpr int kWaitPollMs = 10;

KPScannerSaveWindowController::EnvironmentAdjuster& environmentAdjuster()
{
    static KPScannerSaveWindowController::EnvironmentAdjuster adjuster;
    return adjuster;
}

void addTree(const DBNode& node, int depth, QList<KPScannerSaveWindowController::Target>& out)
{
    if (!node || node.isTrash())
        return;
    if (node.type() == DBNode::Collection || node.type() == DBNode::Folder)
        out.append({node.title(), node.nodeID(), node.type(), depth});
    for (const DBNode& child : node.children())
        addTree(child, depth + 1, out);
}

} // namespace

QList<KPScannerSaveWindowController::Target> KPScannerSaveWindowController::targets(DataBaseEngine* store)
{
    QList<Target> out{{platform::localizedString(QStringLiteral("UnCollection")), 0, 0, 0}};
    DataBaseEngine* db = store ? store : DataBaseEngine::dataBaseEngine();
    if (!db || !db->isOpen())
        return out;
    const auto predicate = platform::Predicate::format(
        QStringLiteral("(type == %@ || type == %@) && isTrash == NO && parent == nil"), {1, 2});
    if (!predicate)
        return out;
    const auto found = db->queryRecordByName(DBNode::entityName(), *predicate);
    if (!found)
        return out;
    for (const DBNode& node : DBRecord::recordsOf<DBNode>(*found))
        addTree(node, 0, out);
    return out;
}

KPScannerSaveWindowController::KPScannerSaveWindowController(QList<KPCGImageStoreObj::Ptr> pages, DataBaseEngine* store)
    : m_pdfPages(std::move(pages))
{
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("KPScannerSaveWindow"));
    content->setMinimumWidth(380);
    auto* layout = new QVBoxLayout(content);
    auto* form = new QFormLayout;
    m_txtName = new QLineEdit(content);
    m_popBtn = new QComboBox(content);
    for (const Target& target : targets(store))
        m_popBtn->addItem(QString(target.indentation * 4, QChar(u' ')) + target.title, QVariant::fromValue(target.nodeID));
    if (m_popBtn->count() > 1)
        m_popBtn->insertSeparator(1);
    form->addRow(platform::localizedString(QStringLiteral("Name:")), m_txtName);
    form->addRow(platform::localizedString(QStringLiteral("Save to:")), m_popBtn);
    layout->addLayout(form);
    m_error = new QLabel(content);
    m_error->setWordWrap(true);
    m_error->setStyleSheet(QStringLiteral("color: #b00020"));
    m_error->hide();
    layout->addWidget(m_error);
    auto* buttons = new QHBoxLayout;
    m_progressIndicator = new QProgressBar(content);
    m_progressIndicator->setRange(0, 0);
    m_progressIndicator->setMaximumWidth(80);
    m_progressIndicator->hide();
    buttons->addWidget(m_progressIndicator);
    buttons->addStretch();
    m_btnCancel = new QPushButton(platform::localizedString(QStringLiteral("Cancel")), content);
    m_btnSave = new QPushButton(platform::localizedString(QStringLiteral("Save")), content);
    m_btnSave->setDefault(true);
    m_btnSave->setEnabled(false);
    buttons->addWidget(m_btnCancel);
    buttons->addWidget(m_btnSave);
    layout->addLayout(buttons);

    QObject::connect(m_txtName, &QLineEdit::textChanged, content, [this] { controlTextDidChange(); });
    QObject::connect(m_btnSave, &QPushButton::clicked, content, [this] { btnSaveClick(); });
    QObject::connect(m_btnCancel, &QPushButton::clicked, content, [this] { btnCancelClick(); });
    m_sheet = std::make_unique<platform::kit::Sheet>(content);

    m_env.files = &KPLibraryFileManager::defaultManager();
    m_env.temporaryFolder = temporaryFolder();
    m_env.preview = [](const QString& path) {
        return imageWithPreviewOfFileAtPath(path, QSize(KPScannerSaveWorker::kPreviewSide, KPScannerSaveWorker::kPreviewSide),
                                            false);
    };
    m_env.insert = [store](const ImportRecord& record, quint64 nodeID) {
        return KPScannerSaveWorker::insertIntoLibrary(record, nodeID, store);
    };
    if (environmentAdjuster())
        environmentAdjuster()(m_env);
}

void KPScannerSaveWindowController::setEnvironmentAdjuster(EnvironmentAdjuster adjuster)
{
    environmentAdjuster() = std::move(adjuster);
}

KPScannerSaveWindowController::~KPScannerSaveWindowController()
{
    // A worker still running finds the flag and takes back what it has not committed.
    m_bCancelSave->store(true);
}

QWidget* KPScannerSaveWindowController::content() const
{
    return m_sheet->content();
}

void KPScannerSaveWindowController::beginSheet(QWidget* window, std::function<void(int)> done)
{
    m_done = std::move(done);
    platform::kit::DialogService::shared().beginSheet(window, *m_sheet, [this, alive = std::weak_ptr<int>(m_alive)](int code) {
        if (alive.expired())
            return;
        if (auto done = std::move(m_done))
            done(code);
    });
    m_txtName->setFocus();
}

void KPScannerSaveWindowController::controlTextDidChange()
{
    // A name of blanks becomes no file name at all.
    m_btnSave->setEnabled(!m_saving && !m_txtName->text().trimmed().isEmpty());
}

void KPScannerSaveWindowController::btnSaveClick()
{
    if (m_saving || m_txtName->text().trimmed().isEmpty())
        return;
    if (const QString refused = KPScannerSaveWorker::nameError(m_txtName->text()); !refused.isEmpty()) {
        m_error->setText(refused);
        m_error->show();
        return;
    }
    m_saving = true;
    m_error->hide();
    m_btnSave->setEnabled(false);
    m_progressIndicator->show();
    const quint64 nodeID = m_popBtn->currentData().toULongLong();
    const QString name = m_txtName->text();
    KPScannerSaveWorker worker(m_env);
    m_running = std::make_shared<std::atomic<bool>>(true);
    platform::Dispatch::async(platform::DispatchQueue::global(),
                              [worker, pages = m_pdfPages, name, nodeID, cancel = m_bCancelSave,
                               running = m_running, alive = std::weak_ptr<int>(m_alive), this] {
                                  const auto outcome = worker.run(pages, name, nodeID, *cancel);
                                  running->store(false);
                                  platform::Dispatch::main([alive, outcome, this] {
                                      if (!alive.expired())
                                          finish(outcome);
                                  });
                              });
}

void KPScannerSaveWindowController::finish(const KPScannerSaveWorker::Outcome& outcome)
{
    m_saving = false;
    m_progressIndicator->hide();
    if (outcome.returnCode == 1 || m_bCancelSave->load()) {
        if (m_sheet->isBegun())
            m_sheet->end(outcome.returnCode);
        return;
    }
    // The sheet stays so the user can pick another folder or name and try again.
    m_error->setText(outcome.error);
    m_error->show();
    controlTextDidChange();
}

void KPScannerSaveWindowController::btnCancelClick()
{
    m_bCancelSave->store(true);
    // While a save runs the worker decides: it ends the sheet with 1 once the document is in.
    if (m_saving)
        return;
    if (m_sheet->isBegun())
        m_sheet->end(0);
}

bool KPScannerSaveWindowController::waitForSave(const Running& running, std::chrono::milliseconds bound)
{
    if (!running || !running->load())
        return true;
    QElapsedTimer elapsed;
    elapsed.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!running->load() || elapsed.elapsed() >= bound.count())
            loop.quit();
    });
    poll.start(kWaitPollMs);
    loop.exec();
    return !running->load();
}
