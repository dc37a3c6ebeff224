#include "Scanner/UI/KPScannerWindowController.h"

#include "Controls/VQTitlebarWindow.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/OperationQueue.h"
#include "Platform/Kit/Alert.h"
#include "Platform/Kit/DialogService.h"
#include "Scanner/KPCGImageStoreObjectThumbCreate.h"
#include "Scanner/KPScannerDropReader.h"
#include "Scanner/UI/KPEditorImageView.h"
#include "Scanner/UI/KPScannerSaveWindowController.h"
#include "Scanner/UI/ScanFromICWindowController.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>
#include <utility>

namespace {

QString tr(const char* key)
{
    return platform::localizedString(QString::fromUtf8(key));
}

// The list's picture of a page: its thumbnail, or grey until it arrives (an empty page too).
QIcon iconOf(const KPCGImageStoreObj& page)
{
    QImage canvas(148, 148, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    const QImage thumb = page.thumbImage();
    if (thumb.isNull()) {
        painter.fillRect(QRect(24, 0, 100, 148), QColor(200, 200, 200));
    } else {
        const QSize size = thumb.size();
        const QRect frame(QPoint((148 - size.width()) / 2, (148 - size.height()) / 2), size);
        painter.drawImage(frame.topLeft(), thumb);
        // White paper on a white list still shows where the page ends.
        painter.setPen(QColor(160, 160, 160));
        painter.drawRect(frame.adjusted(0, 0, -1, -1));
    }
    painter.end();
    return QIcon(QPixmap::fromImage(canvas));
}

} // namespace

// The window's close button asks the controller, which closes the window itself once it may.
struct KPScannerWindowController::CloseDelegate : VQTitlebarWindowDelegate {
    explicit CloseDelegate(KPScannerWindowController& owner) : owner(owner) {}
    std::optional<bool> windowShouldClose(VQTitlebarWindow*) override
    {
        if (owner.windowShouldClose())
            owner.close();
        return false;
    }
    KPScannerWindowController& owner;
};

KPScannerWindowController::KPScannerWindowController()
    : m_closeDelegate(std::make_unique<CloseDelegate>(*this))
    , m_thumbQueue(KPCGImageStoreObjectThumbCreate::makeQueue())
{
    m_window = new VQTitlebarWindow;
    m_window->setDelegate(m_closeDelegate.get());
    m_window->setAttribute(Qt::WA_DeleteOnClose, false);
    m_window->setWindowTitle(tr("Scan"));
    m_window->resize(900, 640);
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    auto* split = new QSplitter(content);
    m_list = new QListWidget(split);
    m_list->setIconSize(QSize(148, 148));
    m_list->setMinimumWidth(190);
    m_list->setMaximumWidth(260);
    m_editor = new KPEditorImageView(split);
    auto* hint = new QLabel(tr("Scan a page, or drop images or PDF files here."));
    hint->setAlignment(Qt::AlignCenter);
    hint->adjustSize();
    m_editor->setHintView(hint);
    split->addWidget(m_list);
    split->addWidget(m_editor);
    split->setStretchFactor(1, 1);
    layout->addWidget(split, 1);
    m_message = new QLabel(content);
    m_message->setWordWrap(true);
    m_message->hide();
    layout->addWidget(m_message);

    auto* controls = new QHBoxLayout;
    auto button = [&](const char* title, auto action) {
        auto* b = new QPushButton(tr(title), content);
        QObject::connect(b, &QPushButton::clicked, content, [this, action] { (this->*action)(); });
        controls->addWidget(b);
        return b;
    };
    button("Scan…", &KPScannerWindowController::btnScanClick);
    button("New Page", &KPScannerWindowController::btnNewPageClick);
    button("Rotate", &KPScannerWindowController::btnRotateClick);
    m_btnCrop = button("Crop", &KPScannerWindowController::btnCropClick);
    m_btnCrop->setCheckable(true);
    controls->addStretch();
    m_pageCount = new QLabel(content);
    controls->addWidget(m_pageCount);
    m_btnSave = button("Save…", &KPScannerWindowController::btnSaveClick);
    layout->addLayout(controls);
    m_window->setContentWidget(content);

    QObject::connect(m_list, &QListWidget::currentRowChanged, content, [this](int row) { selectPage(row); });
    KPEditorImageViewDelegate delegate;
    delegate.editorImageViewHandleRecvImagePath = [this](const QStringList& paths) { addFiles(paths); };
    delegate.editorImageAngleChange = [this](qint64 id, float angle) {
        // The turn is the page's own: its thumbnail and its PDF page turn with it.
        if (auto page = m_pages.pageWithID(id)) {
            page->setAngle(angle == 360 ? 0 : angle);
            KPCGImageStoreObjectThumbCreate::enqueue(*m_thumbQueue, page);
        }
    };
    delegate.editorImageViewCropHandler = [this] { applyCrop(); };
    delegate.editorImageViewCropCancel = [this] { m_btnCrop->setChecked(false); };
    m_editor->setDelegate(std::move(delegate));

    auto& center = platform::NotificationCenter::defaultCenter();
    m_thumbToken = center.addObserver(KPCGImageStoreObjectThumbCreate::UpdateThumbNotification,
                                      [this](const platform::Notification& n) {
                                          const auto page = n.object.value<KPCGImageStoreObj::Ptr>();
                                          const int row = int(m_pages.pages().indexOf(page));
                                          if (row >= 0 && row < m_list->count())
                                              m_list->item(row)->setIcon(iconOf(*page));
                                      });
    m_addToken = center.addObserver(KPEditorImageView::AddFromScannerNotification,
                                    [this](const platform::Notification&) { btnScanClick(); });
    updateControls();
}

KPScannerWindowController::~KPScannerWindowController()
{
    cancelWork();
    m_thumbQueue->cancelAllOperations();
    m_thumbQueue->waitUntilAllOperationsAreFinished();
    m_scanSheet.reset();
    m_saveSheet.reset();
    if (m_window)
        m_window->setDelegate(nullptr);
    delete m_window.data();
}

VQTitlebarWindow* KPScannerWindowController::window() const
{
    return m_window.data();
}

void KPScannerWindowController::showWindow()
{
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

std::shared_ptr<const std::atomic<bool>> KPScannerWindowController::cancelWork()
{
    if (m_scanSheet)
        m_scanSheet->cancelScan();
    if (!m_saveSheet)
        return nullptr;
    m_saveSheet->btnCancelClick();
    return m_saveSheet->running();
}

void KPScannerWindowController::btnScanClick()
{
    if (m_scanSheet)
        return;
    m_scanSheet = std::make_unique<ScanFromICWindowController>();
    m_scanSheet->didScanToURL = [this](int code, const QString& path) {
        if (code != 1)
            return;
        // Read at once: the sheet's folder goes with the sheet, which may end right after.
        QString error;
        const QImage page = KPScannerDropReader::readImage(path, &error);
        if (page.isNull()) {
            showMessages({error});
            return;
        }
        addImages({page});
    };
    m_scanSheet->beginSheet(m_window, [this](int) {
        // The sheet's folder goes with it; its pages were read at once.
        platform::Dispatch::main([this, alive = std::weak_ptr<int>(m_alive)] {
            if (!alive.expired())
                m_scanSheet.reset();
        });
    });
}

void KPScannerWindowController::btnNewPageClick()
{
    if (m_pages.newPage()) {
        reloadList();
        m_list->setCurrentRow(m_pages.count() - 1);
    }
}

void KPScannerWindowController::btnRotateClick()
{
    if (!m_editor->sourceImage().isNull())
        m_editor->rotation();
}

void KPScannerWindowController::btnCropClick()
{
    if (m_editor->isCropMode()) {
        applyCrop();
        return;
    }
    m_btnCrop->setChecked(m_editor->beginCrop());
}

void KPScannerWindowController::applyCrop()
{
    const int row = m_list->currentRow();
    const QImage cut = m_editor->crop();
    m_btnCrop->setChecked(false);
    if (cut.isNull() || row < 0 || row >= m_pages.count())
        return;
    // The cut is taken from the turned page, so the page is upright from now on.
    const auto page = m_pages.pages().at(row);
    if (!m_pages.setImage(page, cut))
        return;
    page->setAngle(0);
    KPCGImageStoreObjectThumbCreate::enqueue(*m_thumbQueue, page);
    m_editor->setSourceImage(cut);
    m_editor->setEditorImageID(page->storeObjID());
}

void KPScannerWindowController::addFiles(const QStringList& paths)
{
    platform::Dispatch::async(platform::DispatchQueue::global(), [paths, budget = m_pages.budget(),
                                                                  alive = std::weak_ptr<int>(m_alive), this] {
        auto read = KPScannerDropReader::read(paths, budget);
        platform::Dispatch::main([alive, budget, read = std::move(read), this] {
            // The page list takes the pixels of the pages it keeps anew.
            budget->give(read.reserved);
            if (alive.expired())
                return;
            showMessages(read.errors);
            addImages(read.images, read.errors);
        });
    });
}

void KPScannerWindowController::addImages(const QList<QImage>& images, const QStringList& messages)
{
    int leftOut = 0;
    const auto filled = m_pages.addImages(images, &leftOut);
    if (leftOut > 0)
        showMessages(QStringList(messages)
                     << QStringLiteral("%1 of the pages were left out. %2").arg(leftOut).arg(m_pages.budget()->fullText()));
    if (!filled.isEmpty())
        showNewPages(filled);
}

void KPScannerWindowController::showMessages(const QStringList& messages)
{
    m_message->setText(messages.join(u'\n'));
    m_message->setVisible(!messages.isEmpty());
}

void KPScannerWindowController::showNewPages(const QList<KPCGImageStoreObj::Ptr>& filled)
{
    for (const auto& page : filled)
        KPCGImageStoreObjectThumbCreate::enqueue(*m_thumbQueue, page);
    reloadList();
    m_list->setCurrentRow(m_pages.count() - 1);
    selectPage(m_pages.count() - 1);
}

void KPScannerWindowController::reloadList()
{
    const int current = m_list->currentRow();
    QSignalBlocker block(m_list);
    m_list->clear();
    for (const auto& page : m_pages.pages()) {
        auto* item = new QListWidgetItem(iconOf(*page), QString(), m_list);
        item->setSizeHint(QSize(170, 160));
    }
    m_list->setCurrentRow(std::min(current, m_pages.count() - 1));
    updateControls();
}

void KPScannerWindowController::selectPage(int row)
{
    if (row < 0 || row >= m_pages.count()) {
        m_editor->setSourceImage({});
        return;
    }
    const auto page = m_pages.pages().at(row);
    m_editor->setSourceImage(page->CGImage());
    m_editor->setEditorImageID(page->storeObjID());
    const int a = KPQuarterTurn(page->angle());
    if (a != 0)
        m_editor->setAngle(float(a));
    m_btnCrop->setChecked(false);
}

void KPScannerWindowController::updateControls()
{
    m_pageCount->setText(m_pages.count() == 1 ? tr("1 page") : QStringLiteral("%1 %2").arg(m_pages.count()).arg(tr("pages")));
    m_btnSave->setEnabled(m_pages.hasImagePage());
}

void KPScannerWindowController::btnSaveClick()
{
    if (!m_pages.hasImagePage() || m_saveSheet)
        return;
    m_saveSheet = std::make_unique<KPScannerSaveWindowController>(m_pages.pages(), m_store);
    KPLogLogDomainMessage(QStringLiteral("Scan"), 0, QStringLiteral("The save sheet asks for a name"));
    m_saveSheet->beginSheet(m_window, [this](int code) {
        platform::Dispatch::main([this, code, alive = std::weak_ptr<int>(m_alive)] {
            if (alive.expired())
                return;
            m_saveSheet.reset();
            auto quit = std::exchange(m_quitAfterSave, {});
            if (code == 1) {
                m_didSave = true;
                close();
                if (quit)
                    quit(true);
                withdrawQuitQuestion();
            }
        });
    });
}

namespace {

platform::kit::Alert saveQuestion()
{
    return platform::kit::Alert::withMessage(tr("Do you want to save the scanned pages?"), tr("Save"), tr("Don't Save"),
                                             tr("Cancel"), QString());
}

} // namespace

bool KPScannerWindowController::needsQuitQuestion() const
{
    return !m_closing && (m_saveSheet || m_pages.needsCloseQuestion());
}

void KPScannerWindowController::askBeforeQuit(std::function<void(bool quit)> answer)
{
    if (m_askingBeforeQuit)
        return;
    m_askingBeforeQuit = true;
    m_quitAnswer = std::move(answer);
    showWindow();
    // An alert sheet would wait behind a save sheet until that ends: then the question comes
    // as a dialog of its own over the window in front, which is this one.
    QWidget* on = m_saveSheet ? nullptr : m_window.data();
    KPLogLogDomainMessage(QStringLiteral("Scan"), 0,
                          QStringLiteral("The quit asks about %1 pages%2")
                              .arg(m_pages.count())
                              .arg(m_saveSheet ? QStringLiteral(" in the save sheet") : QString()));
    platform::kit::Alert question = saveQuestion();
    m_quitQuestion = std::make_shared<std::function<void(int)>>();
    question.setCloser(m_quitQuestion);
    platform::kit::DialogService::shared().alert(on, question, [this, alive = std::weak_ptr<int>(m_alive)](int code) {
        if (alive.expired())
            return;
        m_askingBeforeQuit = false;
        m_quitQuestion.reset();
        // Withdrawn: the quit has had its answer already.
        auto answer = std::exchange(m_quitAnswer, {});
        if (!answer)
            return;
        KPLogLogDomainMessage(QStringLiteral("Scan"), 0,
                              QStringLiteral("The quit's question was answered: %1")
                                  .arg(code == platform::kit::Alert::kDefaultReturn       ? QStringLiteral("Save")
                                       : code == platform::kit::Alert::kAlternateReturn ? QStringLiteral("Don't Save")
                                                                                        : QStringLiteral("Cancel")));
        if (code == platform::kit::Alert::kAlternateReturn) {
            // The quit cancels a save under way and drops the pages.
            answer(true);
        } else if (code == platform::kit::Alert::kDefaultReturn) {
            m_quitAfterSave = std::move(answer);
            if (!m_saveSheet)
                m_delayedSave = platform::kit::Scheduler::current().after(kDelayedSaveMs, [this] { btnSaveClick(); });
        }
    });
}

void KPScannerWindowController::withdrawQuitQuestion()
{
    auto answer = std::exchange(m_quitAnswer, {});
    if (!answer)
        return;
    // The save the question was asked over has stored the pages: nothing is left to lose, and
    // an answer now would only begin another save of them.
    KPLogLogDomainMessage(QStringLiteral("Scan"), 0, QStringLiteral("The pages were saved while the quit asked: the question goes"));
    m_askingBeforeQuit = false;
    if (m_quitQuestion) {
        if (auto closeQuestion = std::exchange(*m_quitQuestion, nullptr))
            closeQuestion(platform::kit::Alert::kOtherReturn);
    }
    m_quitQuestion.reset();
    answer(true);
}

bool KPScannerWindowController::windowShouldClose()
{
    if (!m_pages.needsCloseQuestion())
        return true;
    platform::kit::DialogService::shared().alert(m_window, saveQuestion(), [this, alive = std::weak_ptr<int>(m_alive)](int code) {
        if (alive.expired())
            return;
        if (code == platform::kit::Alert::kDefaultReturn) {
            m_delayedSave = platform::kit::Scheduler::current().after(kDelayedSaveMs, [this] { btnSaveClick(); });
        } else if (code == platform::kit::Alert::kAlternateReturn) {
            close();
        }
    });
    return false;
}

void KPScannerWindowController::close()
{
    if (m_closing)
        return;
    m_closing = true;
    cancelWork();
    if (m_window)
        m_window->hide();
    if (auto done = std::move(completion))
        done();
}
