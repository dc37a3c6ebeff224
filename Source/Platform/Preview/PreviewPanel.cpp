#include "Platform/Preview/PreviewPanel.h"

#include "Platform/Foundation/Dispatch.h"
#include "Platform/Kit/AnimationPolicy.h"
#include "Platform/Kit/Input.h"
#include "Platform/Preview/PdfProbe.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPdfDocument>
#include <QPdfView>
#include <QPlainTextEdit>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStackedWidget>
#include <QThread>
#include <QVBoxLayout>
#include <array>
#include <atomic>
#include <mutex>

namespace platform {

// What a worker answers through: the panel while it lives, and the read it still wants.
struct PreviewPanel::Sink {
    std::mutex mutex;
    PreviewPanel* panel = nullptr;
    std::atomic<quint64> wanted{0};
};

namespace {

// Two readers at most: holding an arrow key starts a read per item, and only the last matters
// (a PDF check no longer wanted is killed). Our own queues, whose hand-overs the thread
// sanitizer sees; the handles are never destroyed, since the pool under them ends with the
// application. At quit the PDF checks still running are killed, so the quit never waits for
// a stuck read.
const DispatchQueue& nextReader()
{
    static const auto* queues = new std::array<DispatchQueue, 2>{
        DispatchQueue::serial(QStringLiteral("preview.reader.1"), QueuePriority::High),
        DispatchQueue::serial(QStringLiteral("preview.reader.2"), QueuePriority::High)};
    static std::atomic<unsigned> turn{0};
    static std::once_flag quitHook;
    std::call_once(quitHook, [] {
        if (QCoreApplication* app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, [] { PdfProbe::cancelAll(); });
    });
    return (*queues)[turn++ % 2];
}

QString windowTitleFor(const PreviewItem& item)
{
    return item.title.isEmpty() ? QFileInfo(item.path).fileName() : item.title;
}

QString dateText(const QDateTime& date)
{
    return date.isValid() ? QLocale().toString(date.toLocalTime(), QLocale::ShortFormat) : QString();
}

} // namespace

PreviewPanel::PreviewPanel(QWidget* parent) : QWidget(parent, Qt::Tool), m_sink(std::make_shared<Sink>())
{
    m_sink->panel = this;
    setAttribute(Qt::WA_DeleteOnClose, false);
    buildPages();
    updateChrome();
}

PreviewPanel::~PreviewPanel()
{
    // The view lets go of the document before either is destroyed.
    releasePdf();
    std::lock_guard lock(m_sink->mutex);
    m_sink->panel = nullptr;
    m_sink->wanted = 0;
}

void PreviewPanel::buildPages()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // The zoom starts at the size of a thumbnail, well under what the pages would ask for.
    layout->setSizeConstraint(QLayout::SetNoConstraint);

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(8, 4, 8, 4);
    m_previous = new QPushButton(QStringLiteral("‹"), this);
    m_next = new QPushButton(QStringLiteral("›"), this);
    m_position = new QLabel(this);
    // The window's own way out: without a window manager it has no frame to close it by.
    m_close = new QPushButton(QStringLiteral("\u00D7"), this);
    m_close->setAccessibleName(QStringLiteral("Close"));
    m_close->setToolTip(QStringLiteral("Close"));
    connect(m_close, &QPushButton::clicked, this, [this] { closePanel(); });
    for (QPushButton* button : {m_close, m_previous, m_next}) {
        // Focus on a button would make Space press it instead of closing the window.
        button->setFocusPolicy(Qt::NoFocus);
        button->setFlat(true);
    }
    connect(m_previous, &QPushButton::clicked, this, [this] { setCurrentPreviewItemIndex(m_index - 1); });
    connect(m_next, &QPushButton::clicked, this, [this] { setCurrentPreviewItemIndex(m_index + 1); });
    bar->addWidget(m_close);
    bar->addWidget(m_previous);
    bar->addStretch();
    bar->addWidget(m_position);
    bar->addStretch();
    bar->addWidget(m_next);
    layout->addLayout(bar);

    m_pages = new QStackedWidget(this);
    m_picture = new QLabel;
    m_picture->setAlignment(Qt::AlignCenter);
    m_pictureScroll = new QScrollArea;
    m_pictureScroll->setWidget(m_picture);
    m_pictureScroll->setWidgetResizable(true);
    m_pictureScroll->setAlignment(Qt::AlignCenter);
    m_pages->addWidget(m_pictureScroll);

    m_pdfView = new QPdfView;
    m_pdfView->setPageMode(QPdfView::PageMode::MultiPage);
    m_pdfView->setZoomMode(QPdfView::ZoomMode::FitToWidth);
    m_pages->addWidget(m_pdfView);

    m_textView = new QPlainTextEdit;
    m_textView->setReadOnly(true);
    m_textView->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_pages->addWidget(m_textView);

    m_infoPage = new QWidget;
    auto* info = new QHBoxLayout(m_infoPage);
    m_infoIcon = new QLabel;
    m_infoIcon->setAlignment(Qt::AlignCenter);
    m_infoText = new QLabel;
    m_infoText->setTextFormat(Qt::PlainText);
    m_infoText->setWordWrap(true);
    m_infoText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    info->addWidget(m_infoIcon, 1);
    info->addWidget(m_infoText, 1);
    m_pages->addWidget(m_infoPage);
    layout->addWidget(m_pages, 1);

    m_note = new QLabel(this);
    m_note->setAlignment(Qt::AlignCenter);
    m_note->setContentsMargins(8, 4, 8, 4);
    layout->addWidget(m_note);

    // The pages take focus for scrolling and selecting, but the window's own keys come first.
    const QList<QWidget*> keyed{m_pictureScroll, m_pictureScroll->viewport(), m_pdfView, m_pdfView->viewport(),
                                m_textView, m_textView->viewport(), m_infoText};
    for (QWidget* w : keyed)
        w->installEventFilter(this);
}

// ---- opening and closing ----

QRect PreviewPanel::restingGeometry() const
{
    const QScreen* screen = parentWidget() ? parentWidget()->screen() : this->screen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 960);
    const QSize size = QSize(760, 860).boundedTo(available.size() * 0.9);
    QRect rect(QPoint(), size);
    const QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    rect.moveCenter(owner && owner->isVisible() ? owner->frameGeometry().center() : available.center());
    return rect;
}

void PreviewPanel::open()
{
    if (!isVisible())
        m_index = 0; // a window opening starts at the first item
    reloadData();
    if (isVisible()) {
        raise();
        activateWindow();
        return;
    }
    const QRect target = m_lastGeometry.isValid() ? m_lastGeometry : restingGeometry();
    const QRect source =
        m_delegate && m_index >= 0 ? m_delegate->previewPanelSourceFrameOnScreenForPreviewItem(this, m_index) : QRect();
    const kit::AnimationPolicy& policy = kit::AnimationPolicy::current();
    const bool zoom = !source.isEmpty() && policy.animates();
    setGeometry(zoom ? source : target);
    show();
    raise();
    activateWindow();
    m_lastGeometry = target;
    if (zoom)
        m_zoom = policy.animate(this, "geometry", target, kZoomMs);
}

void PreviewPanel::closePanel()
{
    hide();
}

void PreviewPanel::closeEvent(QCloseEvent* event)
{
    event->accept();
    QWidget::closeEvent(event);
}

void PreviewPanel::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (event->spontaneous())
        return; // minimised with its owner: still open
    // Without a window manager nobody else hands the keyboard back, and the grid's Space and
    // arrows would go nowhere. A window the user went to meanwhile keeps it.
    QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    QWidget* active = QApplication::activeWindow();
    if (owner && owner->isVisible() && (!active || active == this)) {
        owner->raise();
        owner->activateWindow();
    }
    // A zoom still running is cut short, and the window reopens where it was headed.
    if (m_zoom)
        m_zoom->stop();
    else
        m_lastGeometry = geometry(); // where the user left it
    ++m_generation;
    m_sink->wanted = m_generation;
    m_loading = false;
    m_shownKind.reset();
    releasePdf();
    m_textView->clear();
    Q_EMIT closed();
}

// ---- items ----

void PreviewPanel::reloadData()
{
    m_count = m_dataSource ? std::max<qint64>(0, m_dataSource->numberOfPreviewItemsInPreviewPanel(this)) : 0;
    const qint64 index = m_count == 0 ? -1 : std::clamp<qint64>(m_index, 0, m_count - 1);
    std::optional<PreviewItem> item;
    if (index >= 0)
        item = m_dataSource->previewPanelPreviewItemAtIndex(this, index);
    // The same file where it was is left as it is: a selection that grows does not reread it.
    const bool same = m_hasItem && item && item->path == m_item.path && index == m_index
                      && (m_loading || m_shownKind.has_value());
    m_index = index;
    if (same) {
        m_item.title = item->title;
        setWindowTitle(windowTitleFor(m_item));
        updateChrome();
        return;
    }
    m_hasItem = item.has_value();
    m_item = item.value_or(PreviewItem{});
    showCurrent();
}

void PreviewPanel::setCurrentPreviewItemIndex(qint64 index)
{
    if (m_count == 0 || index < 0 || index >= m_count || index == m_index)
        return;
    m_index = index;
    std::optional<PreviewItem> item = m_dataSource->previewPanelPreviewItemAtIndex(this, index);
    m_hasItem = item.has_value();
    m_item = item.value_or(PreviewItem{});
    showCurrent();
}

void PreviewPanel::showCurrent()
{
    ++m_generation;
    m_sink->wanted = m_generation;
    releasePdf();
    m_textView->clear();
    m_shownKind.reset();
    m_loading = false;
    m_note->clear();
    if (!m_hasItem) {
        setWindowTitle(QString());
        showPicture(QImage());
        updateChrome();
        return;
    }
    setWindowTitle(windowTitleFor(m_item));
    QImage placeholder = m_delegate ? m_delegate->previewPanelTransitionImageForPreviewItem(this, m_index) : QImage();
    showPicture(placeholder.isNull() ? m_item.thumbnail : placeholder);
    startLoad();
    updateChrome();
}

void PreviewPanel::startLoad()
{
    m_loading = true;
    const quint64 generation = m_generation;
    nextReader().async([sink = m_sink, path = m_item.path, thumbnailPath = m_item.thumbnailPath, generation,
                        owner = thread()] {
        if (sink->wanted != generation)
            return; // moved on before this read began
        PreviewContent content = PreviewContentLoader::load(path, owner, thumbnailPath,
                                                            [&sink, generation] { return sink->wanted != generation; });
        if (sink->wanted != generation)
            return;
        Dispatch::main([sink, generation, content = std::move(content)] {
            PreviewPanel* panel = nullptr;
            {
                std::lock_guard lock(sink->mutex);
                panel = sink->panel;
            }
            if (panel && sink->wanted == generation)
                panel->loaded(generation, content);
        });
    });
}

void PreviewPanel::loaded(quint64 generation, PreviewContent content)
{
    if (generation != m_generation)
        return;
    m_loading = false;
    switch (content.kind) {
    case PreviewKind::Pdf:
        releasePdf();
        m_pdf = std::move(content.pdf);
        m_pdfView->setDocument(m_pdf.get());
        m_pages->setCurrentWidget(m_pdfView);
        break;
    case PreviewKind::Image:
    case PreviewKind::Package:
        showPicture(content.image);
        break;
    case PreviewKind::Text:
    case PreviewKind::Mail:
        m_textView->setPlainText(PreviewContentLoader::breakLongLines(content.text));
        m_pages->setCurrentWidget(m_textView);
        if (content.truncated)
            m_note->setText(QStringLiteral("Only the beginning of this file is shown."));
        break;
    case PreviewKind::Info:
        showInfo(content);
        break;
    }
    m_shownKind = content.kind;
    updateChrome();
}

void PreviewPanel::showPicture(const QImage& image)
{
    m_shownImage = image;
    m_picture->setPixmap(image.isNull() ? QPixmap() : QPixmap::fromImage(image));
    m_pages->setCurrentWidget(m_pictureScroll);
}

void PreviewPanel::showInfo(const PreviewContent& content)
{
    const PreviewFileFacts& facts = content.facts;
    QStringList lines;
    lines << (m_item.title.isEmpty() ? facts.name : m_item.title);
    if (!facts.name.isEmpty() && facts.name != lines.front())
        lines << facts.name;
    if (!facts.kind.isEmpty())
        lines << facts.kind;
    if (facts.size >= 0)
        lines << QLocale().formattedDataSize(facts.size);
    if (facts.created.isValid())
        lines << QStringLiteral("Created: %1").arg(dateText(facts.created));
    if (facts.modified.isValid())
        lines << QStringLiteral("Modified: %1").arg(dateText(facts.modified));
    if (!content.failure.isEmpty())
        lines << content.failure;
    m_infoLines = lines;
    m_infoText->setText(lines.join(QLatin1Char('\n')));
    // The stored thumbnail, else the grid's smaller one, is this very file's picture; the type's
    // icon only stands in for one.
    const QImage picture = content.imageIsFileIcon && !m_item.thumbnail.isNull() ? m_item.thumbnail : content.image;
    m_shownImage = picture;
    m_infoIcon->setPixmap(picture.isNull() ? QPixmap() : QPixmap::fromImage(picture.scaled(
                                                             picture.size().boundedTo(QSize(320, 320)),
                                                             Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    m_pages->setCurrentWidget(m_infoPage);
}

QStringList PreviewPanel::infoLines() const
{
    return m_shownKind == PreviewKind::Info ? m_infoLines : QStringList();
}

void PreviewPanel::releasePdf()
{
    m_pdfView->setDocument(nullptr);
    m_pdf.reset();
}

void PreviewPanel::updateChrome()
{
    const bool several = m_count > 1;
    m_previous->setVisible(several);
    m_next->setVisible(several);
    m_position->setVisible(several);
    m_previous->setEnabled(m_index > 0);
    m_next->setEnabled(m_index + 1 < m_count);
    if (several)
        m_position->setText(QStringLiteral("%1 of %2").arg(QLocale().toString(m_index + 1), QLocale().toString(m_count)));
    m_note->setVisible(!m_note->text().isEmpty());
}

// ---- keys ----

bool PreviewPanel::handleKey(QKeyEvent* event)
{
    if (kit::Input::isModifierKey(event->key()))
        return false;
    const bool plain = !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (plain && (event->key() == Qt::Key_Space || event->key() == Qt::Key_Escape)) {
        closePanel();
        return true;
    }
    return m_delegate && m_delegate->previewPanelHandleEvent(this, event);
}

bool PreviewPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && handleKey(static_cast<QKeyEvent*>(event)))
        return true;
    return QWidget::eventFilter(watched, event);
}

void PreviewPanel::keyPressEvent(QKeyEvent* event)
{
    if (!handleKey(event))
        QWidget::keyPressEvent(event);
}

} // namespace platform
