#include "Inspector/AutoCompletedViewController.h"

#include "Platform/Kit/FontResolver.h"
#include "Platform/Kit/Input.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Store/DBAuthor.h"
#include "Store/DBTag.h"
#include "Store/DataBaseEngine.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStringListModel>
#include <algorithm>

AutoCompletedTableView::AutoCompletedTableView(QWidget* parent)
    : QListView(parent)
{
    // Typing stays in the token field.
    setFocusPolicy(Qt::NoFocus);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setAutoFillBackground(false);
    setStyleSheet(QStringLiteral("QListView { background: transparent; }"));
}

void AutoCompletedTableView::mousePressEvent(QMouseEvent* event)
{
    QListView::mousePressEvent(event);
    if (selectionModel() && selectionModel()->hasSelection() && onTableViewMouseClickRowChange)
        onTableViewMouseClickRowChange();
}

void AutoCompletedTableViewCell::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                       const QModelIndex& index) const
{
    const bool highlighted = option.state & QStyle::State_Selected;
    painter->save();
    if (highlighted)
        painter->fillRect(option.rect, kHighlight);
    else
        // A faint line parts the rows: the list has no grid of its own and the theme no image for it.
        painter->fillRect(QRectF(option.rect.left(), option.rect.bottom(), option.rect.width(), 1),
                          QColor(0, 0, 0, 18));
    painter->setFont(platform::kit::FontResolver::systemFont(12));
    painter->setPen(highlighted ? Qt::white : Qt::black);
    const QRect textRect = option.rect.adjusted(6, 0, -4, 0);
    const QString title = painter->fontMetrics().elidedText(index.data().toString(), Qt::ElideRight, textRect.width());
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, title);
    painter->restore();
}

QSize AutoCompletedTableViewCell::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const
{
    return QSize(AutoCompletedViewController::kWidth, AutoCompletedViewController::kRowHeight);
}

AutoCompletedViewController* AutoCompletedViewController::initWithTagModel(DataBaseEngine* engine)
{
    return new AutoCompletedViewController(Model::Tag, engine);
}

AutoCompletedViewController* AutoCompletedViewController::initWithAuthorModel(DataBaseEngine* engine)
{
    return new AutoCompletedViewController(Model::Author, engine);
}

AutoCompletedViewController::AutoCompletedViewController(Model model, DataBaseEngine* engine)
    : m_model(model), m_engine(engine)
{
    m_view = new QWidget;
    m_view->setFocusPolicy(Qt::NoFocus);
    m_table = new AutoCompletedTableView(m_view);
    m_listModel = new QStringListModel(m_view);
    m_table->setModel(m_listModel);
    m_cell = new AutoCompletedTableViewCell(m_view);
    m_cell->isTag = model == Model::Tag;
    m_table->setItemDelegate(m_cell);
    m_table->onTableViewMouseClickRowChange = [this] {
        const int row = selectedRow();
        if (row >= 0 && row < m_names.size() && m_delegate.onAutoCompletedViewValueChange)
            m_delegate.onAutoCompletedViewValueChange(m_names[row], this);
    };
    updateViewSize(viewSize());
}

AutoCompletedViewController::~AutoCompletedViewController()
{
    if (m_table)
        m_table->onTableViewMouseClickRowChange = nullptr;
    delete m_view.data();
}

std::optional<QString> AutoCompletedViewController::doSearchValue(const QString& text)
{
    m_names.clear();
    DataBaseEngine* engine = m_engine ? m_engine : DataBaseEngine::dataBaseEngine();
    const QString entity = isTag() ? QStringLiteral("DBTag") : QStringLiteral("DBAuthor");
    // The typed text is a bound value, so "*", "?" and "%" match only themselves.
    auto predicate = text.isEmpty() ? platform::Predicate::format(QStringLiteral("isTrash == NO"), {})
                                    : platform::Predicate::format(QStringLiteral("isTrash == NO && name BEGINSWITH[cd] %@"),
                                                                  {text});
    if (engine && predicate) {
        auto records = engine->queryRecordByName(entity, *predicate, platform::SortDescriptor(QStringLiteral("name")));
        if (records) {
            m_names.reserve(records->size());
            for (const auto& record : *records)
                m_names.append(isTag() ? DBTag(record).name() : DBAuthor(record).name());
        }
    }
    m_listModel->setStringList(m_names);
    if (m_names.isEmpty())
        return std::nullopt;
    selectRow(0);
    return m_names.first();
}

int AutoCompletedViewController::selectedRow() const
{
    const QModelIndex current = m_table->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void AutoCompletedViewController::selectRow(int row)
{
    const QModelIndex index = m_listModel->index(row);
    m_table->setCurrentIndex(index);
    m_table->scrollTo(index);
}

std::optional<QString> AutoCompletedViewController::doMoveRecordByKeyCode(int keyCode)
{
    if (m_names.isEmpty())
        return std::nullopt;
    int row = std::max(0, selectedRow());
    if (keyCode == platform::kit::keychar::DownArrow)
        row = std::min<int>(row + 1, m_names.size() - 1);
    else if (keyCode == platform::kit::keychar::UpArrow)
        row = std::max(row - 1, 0);
    selectRow(row);
    return m_names[row];
}

QSize AutoCompletedViewController::viewSize() const
{
    const int rows = std::min<int>(m_names.size(), kMaxRows);
    return QSize(kWidth, kRowHeight * std::max(rows, 1));
}

void AutoCompletedViewController::updateViewSize(const QSize& size)
{
    m_view->setGeometry(QRect(QPoint(2, 2), size));
    m_table->setGeometry(QRect(QPoint(0, 0), size));
}
