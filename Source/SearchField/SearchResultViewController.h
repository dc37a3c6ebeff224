// The suggestion list under the search field: tags, file types and authors whose names begin
// with the typed run, with a free-text row on top, and tabs that keep the list to one kind.
// It answers the field's three questions: what to fill in inline, what the arrow keys put in
// the run, and what kind a run without a prefix becomes.
//
// The list never takes the keyboard (typing stays in the field). Names come from the owner's
// look-ups, which leave out what is in the Trash and fetch no more than a list can show.
//
// Main thread only.
#pragma once

#include "Platform/Foundation/NotificationCenter.h"

#include <QRectF>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

class QListWidget;
class KPThemeImageButton;

class SearchResultViewController : public QWidget {
public:
    enum DataType { Mixed = 0, Tags = 1, FileTypes = 2, Authors = 3 };
    static constexpr int kWidth = 300;
    static constexpr int kRowPitch = 32;
    static constexpr int kChromeHeight = 37;
    // The list starts 35 points down, under the line picture that parts it from the tabs.
    static constexpr int kListTop = 35;
    static constexpr int kMaxVisibleRows = 10;
    // What one kind's look-up returns at most; the list shows ten rows at a time.
    static constexpr int kFetchLimit = 200;
    // A row: 30 high, the kind's icon 22 square and rounded, at the left and vertically centred.
    static constexpr int kRowHeight = 30;
    static constexpr int kIconSize = 22;
    static constexpr qreal kIconRadius = 4;
    static constexpr int kTextInset = 8;
    static constexpr int kIconTextGap = 6;
    // The tabs: 34 x 22, 56 points apart, 6 below the top.
    static constexpr QSize kTabSize{34, 22};
    static constexpr int kTabPitch = 56;
    static constexpr int kTabTop = 6;

    struct Services {
        // Names beginning with prefix (all for ""), sorted, not in the Trash, at most limit.
        std::function<QStringList(const QString& prefix, int limit)> tagNames;
        std::function<QStringList(const QString& prefix, int limit)> authorNames;
        // The supported extensions and an extension's kind name.
        std::function<QStringList()> extensions;
        std::function<QString(const QString& extension)> kindName;
    };

    explicit SearchResultViewController(Services services, QWidget* parent = nullptr);

    // A click on a row: its value, for the field to fill in and commit.
    std::function<void(const QString& value)> onSearchResultValueChange;
    // The list's height changed (the popover follows).
    std::function<void(const QSize& size)> onSizeChange;

    // The typed run: chooses the mode from its prefix, fills the list and answers the completion.
    std::optional<QString> doSearchValue(const QString& value);
    std::optional<QString> doSearchByPredicateValue(const std::optional<QString>& query);
    // Up (63232) or down (63233): the new selected row's value, or none past either end.
    std::optional<QString> doMoveRecordByKeyCode(int code);
    // "#", "@" or "." for the selected row's kind; empty for free text or no selection.
    QString selectedRowDataType() const;
    void selectButtonByTag(int tag);
    // A tab's click: that kind alone, all of it (the typed query no longer applies).
    void onButtonClick(int tag);
    // The tab of a kind (1 tags, 2 file types, 3 authors).
    KPThemeImageButton* tabButton(int tag) const;

    int dataType() const { return m_dataType; }
    int rowCount() const { return int(m_rows.size()); }
    int selectedRow() const;
    QString rowTitle(int row) const;
    // 32 × min(rows, 10) + 37, or 69 without rows.
    QSize preferredSize() const;
    // A row's rectangle in this view (empty for no such row) and where its icon goes in it.
    QRect rowRect(int row) const;
    static QRectF iconRect(const QRect& row);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void layoutSubViews();
    // The "Search" group's tab pictures, fetched again on a theme change.
    void themeUpdate();
    struct Row {
        QString title;  // as shown
        QString value;  // what the row puts in the field
        QString prefix; // "#", "@", "." or "" (free text)
    };
    void reload();
    void select(int row);
    QString rowValue(int row) const;

    Services m_services;
    int m_dataType = Tags;
    std::optional<QString> m_query;
    std::vector<Row> m_rows;
    QListWidget* m_list = nullptr;
    KPThemeImageButton* m_tabs[3] = {};
    platform::ObserverToken m_themeObserver;
};
