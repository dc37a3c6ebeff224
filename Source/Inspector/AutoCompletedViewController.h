// The list that completes tag or author names while the user types in a token field: the
// names that begin with the typed part (ignoring case and accents, never from the trash),
// sorted by name, the first one selected. The arrow keys move through it and stop at its
// ends; a click picks a name. The list never takes the keyboard focus, so typing stays in the
// token field. Its owner places and closes it (AutoCompletedWindow).
// Main thread only.
#pragma once

#include <QListView>
#include <QPointer>
#include <QSize>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QWidget>
#include <functional>
#include <optional>

class AutoCompletedViewController;
class DataBaseEngine;
class QStringListModel;

struct AutoCompletedViewControllerDelegate {
    std::function<void(const QString& name, AutoCompletedViewController*)> onAutoCompletedViewValueChange;
};

class AutoCompletedTableView : public QListView {
public:
    explicit AutoCompletedTableView(QWidget* parent = nullptr);
    // After a click that leaves a row selected.
    std::function<void()> onTableViewMouseClickRowChange;

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

class AutoCompletedTableViewCell : public QStyledItemDelegate {
public:
    static inline const QColor kHighlight{60, 126, 249};
    bool isTag = true;

    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

class AutoCompletedViewController {
public:
    static constexpr int kWidth = 140;
    static constexpr int kRowHeight = 19;
    static constexpr int kMaxRows = 10;

    enum class Model { Tag, Author };
    // engine: the store to search (null: the shared one).
    static AutoCompletedViewController* initWithTagModel(DataBaseEngine* engine = nullptr);
    static AutoCompletedViewController* initWithAuthorModel(DataBaseEngine* engine = nullptr);
    AutoCompletedViewController(Model model, DataBaseEngine* engine);
    ~AutoCompletedViewController();
    AutoCompletedViewController(const AutoCompletedViewController&) = delete;
    AutoCompletedViewController& operator=(const AutoCompletedViewController&) = delete;

    bool isTag() const { return m_model == Model::Tag; }
    bool isAuthor() const { return m_model == Model::Author; }
    void setDelegate(AutoCompletedViewControllerDelegate delegate) { m_delegate = std::move(delegate); }

    // Fills the list; the first name, or none when nothing matches.
    std::optional<QString> doSearchValue(const QString& text);
    // Moves the selection for the up (0xF700) or down (0xF701) arrow; the selected name, or
    // none for an empty list.
    std::optional<QString> doMoveRecordByKeyCode(int keyCode);
    // Width 140, height 19 per row for at most ten rows (19 for an empty list).
    QSize viewSize() const;
    void updateViewSize(const QSize& size);

    // The list's view, owned by the controller wherever it is put.
    QWidget* view() const { return m_view; }
    AutoCompletedTableView* tableView() const { return m_table; }
    QStringList names() const { return m_names; }
    int selectedRow() const;

private:
    void selectRow(int row);

    Model m_model;
    DataBaseEngine* m_engine;
    QStringList m_names;
    QPointer<QWidget> m_view;
    QPointer<AutoCompletedTableView> m_table;
    QStringListModel* m_listModel = nullptr;
    AutoCompletedTableViewCell* m_cell = nullptr;
    AutoCompletedViewControllerDelegate m_delegate;
};
