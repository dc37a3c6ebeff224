// The tag editor shown in a popover: a "Tags" title strip over one token field of tag names,
// completing names from the library as the user types. It edits the tags of documents (every
// change goes to the owner, which writes it) or, in import-tag mode, asks for the tags of a
// drop import with Import and Cancel buttons and keeps the answer in returnCode. The editor
// itself writes nothing to the store.
//
// Escape typed in the field belongs to the field: it drops the typed part and is remembered
// (Return then imports nothing), but does not close the popover.
// Main thread only.
#pragma once

#include <QImage>
#include <QPointer>
#include <QStringList>
#include <QVariant>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class AutoCompletedViewController;
class AutoCompletedWindow;
class DataBaseEngine;
class KPTokenEditorView;
class QPushButton;
class TagEditorViewController;
namespace platform::kit {
class Popover;
}

// Both optional.
struct TagEditorViewControllerDelegate {
    // After every change of the tokens: the names now in the field.
    std::function<void(TagEditorViewController*, const QStringList& names)> onTagEditorVCValueChange;
    // The user ended editing with Return.
    std::function<void(TagEditorViewController*)> onTagEditorVCDone;
};

class TagEditorViewController : public QWidget {
public:
    static constexpr QSize kContentSize{220, 160};
    static constexpr QSize kCompletionWindowSize{144, 124};

    explicit TagEditorViewController(bool importTagMode = false, QWidget* parent = nullptr);
    ~TagEditorViewController() override;
    static TagEditorViewController* initWithImportTagMode() { return new TagEditorViewController(true); }

    // Names to show; outside import-tag mode they fill the field.
    void setTagObjects(const QStringList& names);
    QStringList tagObjects() const;
    // The popover that shows the editor; when none is set, the one whose content holds it.
    platform::kit::Popover* parentPopover() const;
    void setParentPopover(platform::kit::Popover* popover);
    void setDelegate(TagEditorViewControllerDelegate delegate) { m_delegate = std::move(delegate); }
    QVariant data() const { return m_data; }
    void setData(const QVariant& data) { m_data = data; }
    bool isImportTagModel() const { return m_importTagMode; }
    // 1 after Import or Return, 0 after Cancel (import-tag mode only).
    int returnCode() const { return m_returnCode; }
    // The store the completion list searches (null: the shared one).
    void setDataBaseEngine(DataBaseEngine* engine) { m_engine = engine; }

    // The editor of a document tag popover that its owner shows and closes: filled with tags,
    // reporting each change and the end of editing (Return).
    static TagEditorViewController* documentTagEditor(const QStringList& tags,
                                                      std::function<void(const QStringList&)> valueChange,
                                                      std::function<void()> done);
    // Shows the import-tag editor in a popover over anchor and answers once, when it closes:
    // (1, tags) after Import or Return, (0, tags) after Cancel, Escape then Return, or any other
    // way of closing. Answers the editor shown (null without an anchor).
    static TagEditorViewController* askImportTags(QWidget* anchor, std::function<void(int returnCode, const QStringList& tags)> answer,
                              DataBaseEngine* engine = nullptr);

    void btnImportClick();
    void onBtnCancelClick();

    KPTokenEditorView* tagEditView() const { return m_tagEditView; }
    QPushButton* btnImport() const { return m_btnImport; }
    QPushButton* btnCancel() const { return m_btnCancel; }
    // The completion list while it is shown (null otherwise).
    AutoCompletedWindow* autoCompletedWindow() const;
    AutoCompletedViewController* autoCompletedVC() const { return m_autoCompletedVC.get(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void layoutControls();
    void onEnterDone();
    std::optional<QString> onPartValueChange(const std::optional<QString>& text);
    void closeCompletion();
    void endImport(int returnCode);

    KPTokenEditorView* m_tagEditView = nullptr;
    QPushButton* m_btnImport = nullptr;
    QPushButton* m_btnCancel = nullptr;
    QImage m_titleBG;
    QPointer<platform::kit::Popover> m_parentPopover;
    TagEditorViewControllerDelegate m_delegate;
    QStringList m_tmpTagValues;
    QVariant m_data;
    bool m_importTagMode = false;
    int m_returnCode = 0;
    bool m_inEscape = false;
    DataBaseEngine* m_engine = nullptr;
    std::unique_ptr<AutoCompletedViewController> m_autoCompletedVC;
    QPointer<AutoCompletedWindow> m_autoWindow;
};
