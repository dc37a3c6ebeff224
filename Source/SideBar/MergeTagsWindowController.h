// The sheet that asks for the name of the tag several tags are merged into. OK is enabled only
// while the typed name is one no live tag has (the test is the caller's); the completion gets
// the return code (1 OK, 0 Cancel) and, for OK, the name.
//
// The controller owns its Sheet and lives until the sheet has ended: it deletes itself then.
// Threads: main thread only.
#pragma once

#include <QLineEdit>
#include <QObject>
#include <QPushButton>
#include <QPointer>
#include <functional>

class QWidget;
namespace platform::kit {
class Sheet;
}

class MergeTagsWindowController : public QObject {
public:
    using Completion = std::function<void(int returnCode, const QString& name)>;
    using NameTest = std::function<bool(const QString& name)>;

    // isNameFree decides whether OK is enabled for a (non-empty) name.
    explicit MergeTagsWindowController(NameTest isNameFree);
    ~MergeTagsWindowController() override;

    void beginSheedModelForWindow(QWidget* window, Completion completion);

    QLineEdit* txtValue() const { return m_txtValue; }
    QPushButton* defaultButton() const { return m_defaultButton; }
    platform::kit::Sheet* sheet() const { return m_sheet; }
    void controlTextDidChange();
    void onBtnOKClick();
    void onBtnCancelClick();

private:
    NameTest m_isNameFree;
    Completion m_completedBlock;
    QPointer<QLineEdit> m_txtValue;
    QPointer<QPushButton> m_defaultButton;
    platform::kit::Sheet* m_sheet = nullptr;
};

// The sheet's content: a label, the name field, Cancel and OK; OK starts disabled.
QWidget* buildMergeTagsWindow(QLineEdit*& txtValue, QPushButton*& defaultButton, QPushButton*& cancelButton);
