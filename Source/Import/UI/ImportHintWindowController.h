// The window that tells the user, after an import, how many documents arrived and which files
// could not be imported.
//
// With lost files it lists their paths (double-click fits the column to the longest); without
// any it shows a short note with no window buttons. Its check box turns the window off for
// imports that lose nothing ("Bool_ShowImportedHint", stored inverted). Nobody keeps the
// controller: it belongs to its window, which deletes itself, and the controller with it, when
// it closes.
//
// Threads: main thread only.
#pragma once

#include "Import/UI/ImportHintWindow.h"

#include <QObject>
#include <QStringList>

class QCheckBox;

class ImportHintWindowController : public QObject {
    Q_OBJECT

public:
    ImportHintWindowController(const QStringList& pathValues, qint64 sussCount, QWidget* parent = nullptr);

    const ImportHintWindowOutlets& outlets() const { return m_outlets; }
    QDialog* window() const { return m_outlets.window; }
    const QStringList& pathValues() const { return m_pathValues; }
    qint64 sussCount() const { return m_sussCount; }

    // Shows the window centred, in front of normal windows.
    void showWindow();

    void btnOKClick();
    void checkBoxChange(QCheckBox* checkBox);
    // Fits the column to the widest path of the selected rows (all rows when none is selected).
    void tableViewDoubleAction();

    // The two texts as shown, for the chosen counts.
    static QString couldNotImportText(qint64 imported, qint64 lost);
    static QString importedText(qint64 imported);

private:
    void awakeFromNib();
    void fitWindowToView(QWidget* view, const QSize& size);

    ImportHintWindowOutlets m_outlets;
    QStringList m_pathValues;
    qint64 m_sussCount = 0;
};
