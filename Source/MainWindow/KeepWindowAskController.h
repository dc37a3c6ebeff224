// The question asked when folders are added to the library: keep their folder hierarchy or
// not. The answer goes to "Bool_HierarchicalFolder"; the check box ("do not ask again") to
// "Bool_KeepImportWindowAsk", which the import flow reads before asking.
//
// Made by the import flow for each question and begun as a sheet on the main window; it
// deletes itself once the sheet has ended. Threads: main thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

#include <QCheckBox>
#include <QPushButton>
class QWidget;

namespace platform::kit {
class DialogService;
class Sheet;
} // namespace platform::kit

class KeepWindowAskController : public QObject {
    Q_OBJECT
public:
    static inline const QString kHierarchicalFolderKey = QStringLiteral("Bool_HierarchicalFolder");
    static inline const QString kKeepImportWindowAskKey = QStringLiteral("Bool_KeepImportWindowAsk");

    KeepWindowAskController();
    ~KeepWindowAskController() override;

    // Begins the sheet; completion receives 1 for Yes (keep the hierarchy), 0 for No or when
    // the window goes away. The controller deletes itself afterwards.
    void beginSheet(QWidget* window, platform::kit::DialogService& dialogs, std::function<void(int)> completion);

    void clickYES();
    void clickNO();
    void checkBtnClick();

    QCheckBox* checkBtn() const { return m_checkBtn; }
    QPushButton* yesButton() const { return m_yes; }
    QPushButton* noButton() const { return m_no; }

private:
    void end(bool keepHierarchy);

    std::unique_ptr<platform::kit::Sheet> m_sheet;
    QPointer<QCheckBox> m_checkBtn;
    QPointer<QPushButton> m_yes;
    QPointer<QPushButton> m_no;
};
