// One sort-key row of the view-options popover: its title, a highlight while the pointer is
// over it, and a check mark when it is the current key. A press hands the row to its list.
#pragma once

#include <QWidget>
#include <functional>

class SortListViewItem : public QWidget {
public:
    SortListViewItem(const QString& title, int fileSortType, QWidget* parent = nullptr);

    const QString& title() const { return m_title; }
    int fileSortType() const { return m_fileSortType; }
    bool highlight() const { return m_highlight; }
    void setHighlight(bool highlight);
    bool bDrawIconChecker() const { return m_checked; }
    void setBDrawIconChecker(bool checked);
    void setOnClick(std::function<void(SortListViewItem*)> onClick) { m_onClick = std::move(onClick); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QString m_title;
    int m_fileSortType;
    bool m_highlight = false;
    bool m_checked = false;
    std::function<void(SortListViewItem*)> m_onClick;
};
