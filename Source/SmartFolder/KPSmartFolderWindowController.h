// The sheet in which a smart folder is named and its rules are edited. It hands back, for OK
// only, the archived rules and the name; Cancel (and a window that goes away) gives 0 and nothing.
// The sheet grows and shrinks with its rule list, its top edge fixed.
//
// Ownership: the controller owns its Sheet, which owns the content; openers keep the controller
// alive until the completion has run (beginSheet hands it over to the sheet's lifetime).
// Threads: main thread only.
#pragma once

#include "SmartFolder/KPSmartFolderView.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace platform::kit {
class DialogService;
class Sheet;
} // namespace platform::kit

class KPSmartFolderWindowController : public QObject {
    Q_OBJECT
public:
    // code 1: the archived rules and the name; code 0: empty values.
    using CompletedBlock = std::function<void(int code, const QByteArray& rules, const QString& title)>;
    // The space above and below the rule list inside the sheet.
    static constexpr int kChromeHeight = 68;

    explicit KPSmartFolderWindowController(SmartFolderChoices choices, QObject* parent = nullptr);
    ~KPSmartFolderWindowController() override;

    void setTitle(const QString& title);
    QString title() const;
    // Empty: a new folder. Rules that cannot be read open with one Collection row and a line saying so.
    void setSmartData(const QByteArray& archive);
    QByteArray smartData() const;

    // Runs the sheet on window through dialogs; the controller deletes itself once completed.
    void beginSheetWithWindow(QWidget* window, platform::kit::DialogService& dialogs, CompletedBlock block);

    void btnOKClick();
    void btnCancelClick();

    QWidget* content() const { return m_content; }
    KPSmartFolderView* smartFolderView() const { return m_smartFolderView; }
    QLineEdit* nameField() const { return m_txtSmartName; }
    QComboBox* modeButton() const { return m_checkBoxBtn; }
    QPushButton* okButton() const { return m_btnOK; }
    QLabel* unreadableLine() const { return m_unreadable; }
    platform::kit::Sheet* sheet() const { return m_sheet.get(); }

private:
    void updateSmartFolderViewHeight(int height, int addHeight);
    void updateOKState();
    void finish(int code);

    QWidget* m_content = nullptr;
    std::unique_ptr<platform::kit::Sheet> m_sheet;
    KPSmartFolderView* m_smartFolderView = nullptr;
    QLineEdit* m_txtSmartName = nullptr;
    QComboBox* m_checkBoxBtn = nullptr;
    QPushButton* m_btnOK = nullptr;
    QLabel* m_unreadable = nullptr;
    CompletedBlock m_completedBlock;
    std::function<void()> m_placeFooter;
    int m_sheetWidth = 0;
};
