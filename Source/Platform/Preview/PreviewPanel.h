// The preview window: a tool window beside the main window that shows one document at a time,
// as the grid's Space key, the action bar and the item's hover button open it.
//
// It keeps no list of its own. A data source says how many items there are and what each is
// (path, title, thumbnail); a delegate may give the on-screen rectangle the window zooms out of
// when it opens, the picture shown while an item loads, and first refusal of the window's keys.
// reloadData() asks again, so the window follows whatever the data source now holds; the item
// shown is kept when it is still there.
//
// Files are read on a worker (PreviewContent); until a read is back the window shows the item's
// thumbnail, and a read that is no longer wanted (the window moved on, or is gone) is dropped.
// Space, Esc and the window's own close button close it, and the keyboard goes back to the
// owner; other keys go to the delegate first, so the arrows can move the selection that feeds
// the window.
//
// Threads: main thread only.
#pragma once

#include "Platform/Preview/PreviewContentLoader.h"

#include <QImage>
#include <QKeyEvent>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <memory>
#include <optional>

class QLabel;
class QPdfView;
class QPlainTextEdit;
class QPropertyAnimation;
class QPushButton;
class QScrollArea;
class QStackedWidget;

namespace platform {

class PreviewPanel;

struct PreviewItem {
    QString path;
    QString title;
    QImage thumbnail;      // the grid's, shown while the file loads; may be null
    QString thumbnailPath; // the stored thumbnail for the info page; may be empty
};

class PreviewPanelDataSource {
public:
    virtual ~PreviewPanelDataSource() = default;
    virtual qint64 numberOfPreviewItemsInPreviewPanel(PreviewPanel* panel) = 0;
    // None when the index holds no previewable item any more.
    virtual std::optional<PreviewItem> previewPanelPreviewItemAtIndex(PreviewPanel* panel, qint64 index) = 0;
};

class PreviewPanelDelegate {
public:
    virtual ~PreviewPanelDelegate() = default;
    // Screen coordinates; the null rectangle when the window should simply appear.
    virtual QRect previewPanelSourceFrameOnScreenForPreviewItem(PreviewPanel*, qint64 index) { return {}; }
    virtual QImage previewPanelTransitionImageForPreviewItem(PreviewPanel*, qint64 index) { return {}; }
    // True when the delegate dealt with the key.
    virtual bool previewPanelHandleEvent(PreviewPanel*, QKeyEvent* event) { return false; }
};

class PreviewPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int kZoomMs = 250;

    // A tool window of parent (which owns it), or a top-level window of its own without one.
    explicit PreviewPanel(QWidget* parent = nullptr);
    ~PreviewPanel() override;

    void setDataSource(PreviewPanelDataSource* source) { m_dataSource = source; }
    void setDelegate(PreviewPanelDelegate* delegate) { m_delegate = delegate; }
    PreviewPanelDataSource* dataSource() const { return m_dataSource; }
    PreviewPanelDelegate* delegate() const { return m_delegate; }

    // Shows the window at the current item, zooming out of the delegate's rectangle when it
    // gives one; a window already open only comes to the front.
    void open();
    // Hides the window (the closed() signal follows, as for the user's close).
    void closePanel();
    bool isOpen() const { return isVisible(); }

    // Asks the data source again and shows what the current index now holds.
    void reloadData();
    qint64 numberOfItems() const { return m_count; }
    // -1 when there are no items.
    qint64 currentPreviewItemIndex() const { return m_index; }
    void setCurrentPreviewItemIndex(qint64 index);

    // ---- what is shown (for the tests and the window's own status line) ----
    // Nothing while a read is running or without items.
    std::optional<PreviewKind> shownKind() const { return m_shownKind; }
    bool isLoading() const { return m_loading; }
    const PreviewItem& currentItem() const { return m_item; }
    QPdfView* pdfView() const { return m_pdfView; }
    QPlainTextEdit* textView() const { return m_textView; }
    QImage shownImage() const { return m_shownImage; }
    QPushButton* closeButton() const { return m_close; }
    // The info page's lines: name, kind, size, dates, and the reason a reader failed.
    QStringList infoLines() const;

Q_SIGNALS:
    void closed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct Sink;

    void buildPages();
    bool handleKey(QKeyEvent* event);
    void showCurrent();
    void startLoad();
    void loaded(quint64 generation, PreviewContent content);
    void showPicture(const QImage& image);
    void showInfo(const PreviewContent& content);
    void releasePdf();
    void updateChrome();
    QRect restingGeometry() const;

    PreviewPanelDataSource* m_dataSource = nullptr;
    PreviewPanelDelegate* m_delegate = nullptr;
    qint64 m_count = 0;
    qint64 m_index = -1;
    PreviewItem m_item;
    bool m_hasItem = false;
    bool m_loading = false;
    std::optional<PreviewKind> m_shownKind;
    QImage m_shownImage;
    std::shared_ptr<QPdfDocument> m_pdf;
    // Reads in flight answer through the sink; the window cuts it loose when it goes.
    std::shared_ptr<Sink> m_sink;
    quint64 m_generation = 0;
    QRect m_lastGeometry;
    QPointer<QPropertyAnimation> m_zoom;

    QPushButton* m_close = nullptr;
    QPushButton* m_previous = nullptr;
    QPushButton* m_next = nullptr;
    QLabel* m_position = nullptr;
    QStackedWidget* m_pages = nullptr;
    QScrollArea* m_pictureScroll = nullptr;
    QLabel* m_picture = nullptr;
    QPdfView* m_pdfView = nullptr;
    QPlainTextEdit* m_textView = nullptr;
    QWidget* m_infoPage = nullptr;
    QLabel* m_infoIcon = nullptr;
    QLabel* m_infoText = nullptr;
    QLabel* m_note = nullptr;
    QStringList m_infoLines;
};

} // namespace platform
