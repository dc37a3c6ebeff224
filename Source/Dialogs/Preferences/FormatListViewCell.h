// One row of the Formats table: the kind's icon, a check box titled with the kind's name (on:
// the kind is imported) and the kind's identifier. A click on the box tells onCheckChange.
#pragma once

#include <QWidget>
#include <functional>

class QCheckBox;

class FormatListViewCell : public QWidget {
public:
    FormatListViewCell(qint64 kindID, const QString& title, bool checked, QWidget* parent = nullptr);

    QCheckBox* btnChecker() const { return m_btnChecker; }
    qint64 kindID() const { return m_kindID; }

    std::function<void(FormatListViewCell*)> onCheckChange;

private:
    void btnCheck();

    QCheckBox* m_btnChecker;
    qint64 m_kindID;
};
