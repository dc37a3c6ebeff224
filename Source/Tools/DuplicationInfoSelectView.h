// One file of a duplicate group: a check box (checked: move it to the library's trash), the
// file's date and path, and a button that shows the file in the file manager.
#pragma once

#include "Tools/DuplicateGrouping.h"

#include <QObject>
#include <QPointer>
#include <functional>

class DuplicationInfoViewController;
class QCheckBox;
class QLabel;
class QPushButton;
class QWidget;

class DuplicationInfoSelectView : public QObject {
public:
    using RevealHandler = std::function<void(const QString& path)>;

    static constexpr int kWidth = 805;
    static constexpr int kHeight = 28;

    // parent: the group that owns the row and its view, and is told of each click.
    DuplicationInfoSelectView(const DuplicateRecordInfo& info, DuplicationInfoViewController* parent);

    // The row's view, a child of the group's view.
    QWidget* view() const { return m_view; }
    const DuplicateRecordInfo& recordInfo() const { return m_recordInfo; }

    // 1 checked (marked for removal), 0 not.
    int state() const;
    void setState(int state);

    void btnCheckClick();
    void btnRevealInFinderClick();

    QCheckBox* btnCheck() const { return m_btnCheck; }
    QLabel* txtDate() const { return m_txtDate; }
    QLabel* txtPath() const { return m_txtPath; }
    QPushButton* btnReveal() const { return m_btnReveal; }

    // How a file is shown in the file manager (Workspace::selectFile unless set).
    void setRevealHandler(RevealHandler handler) { m_reveal = std::move(handler); }
    // "yyyy-M-d hh:mm AM", local time; empty for an unknown date.
    static QString dateText(const QDateTime& date);

private:
    DuplicateRecordInfo m_recordInfo;
    DuplicationInfoViewController* m_paretnVC;
    QPointer<QWidget> m_view;
    QCheckBox* m_btnCheck = nullptr;
    QLabel* m_txtDate = nullptr;
    QLabel* m_txtPath = nullptr;
    QPushButton* m_btnReveal = nullptr;
    RevealHandler m_reveal;
};
