#include "Import/UI/ImportHintWindowController.h"

#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Kit/WindowPlacement.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QStackedLayout>
#include <QTableWidget>

namespace {

const QString kShowImportedHint = QStringLiteral("Bool_ShowImportedHint");

// Tuning: the least width of a fitted column and the room added to each measured text.
constexpr int kMinColumnWidth = 10;
constexpr int kColumnPadding = 10;

QString text(const QString& key, const QString& english)
{
    const QString found = platform::localizedString(key);
    return found == key ? english : found;
}

// Fills the "%@" places of a format, in order.
QString fill(QString format, const QStringList& arguments)
{
    qsizetype from = 0;
    for (const QString& argument : arguments) {
        const qsizetype at = format.indexOf(QStringLiteral("%@"), from);
        if (at < 0)
            break;
        format.replace(at, 2, argument);
        from = at + argument.size();
    }
    return format;
}

QString countText(qint64 count, const QString& one, const QString& many)
{
    return QStringLiteral("%1 %2").arg(count).arg(count < 2 ? one : many);
}

} // namespace

ImportHintWindowController::ImportHintWindowController(const QStringList& pathValues, qint64 sussCount,
                                                       QWidget* parent)
    : m_outlets(buildImportHintWindow(parent))
    , m_pathValues(pathValues)
    , m_sussCount(sussCount)
{
    setParent(m_outlets.window);
    m_outlets.window->setAttribute(Qt::WA_DeleteOnClose);
    for (QPushButton* ok : {m_outlets.okButton, m_outlets.okButton2})
        connect(ok, &QPushButton::clicked, this, &ImportHintWindowController::btnOKClick);
    for (QCheckBox* box : {m_outlets.checkBox, m_outlets.checkBox2})
        connect(box, &QCheckBox::toggled, this, [this, box] { checkBoxChange(box); });
    connect(m_outlets.tableView, &QTableWidget::doubleClicked, this,
            &ImportHintWindowController::tableViewDoubleAction);
    awakeFromNib();
}

QString ImportHintWindowController::couldNotImportText(qint64 imported, qint64 lost)
{
    const QString one = text(QStringLiteral("File"), QStringLiteral("File"));
    const QString many = text(QStringLiteral("Files"), QStringLiteral("Files"));
    return fill(text(QStringLiteral("Could not be Import..."),
                     QStringLiteral("%@ imported. %@ could not be imported:")),
                {countText(imported, one, many), countText(lost, one, many)});
}

QString ImportHintWindowController::importedText(qint64 imported)
{
    const QString one = text(QStringLiteral("FileStr"), QStringLiteral("File"));
    const QString many = text(QStringLiteral("FilesStr"), QStringLiteral("Files"));
    return fill(text(QStringLiteral("Has been imported..."), QStringLiteral("%@imported into the library.")),
                {countText(imported, one, many) + QLatin1Char(' ')});
}

void ImportHintWindowController::awakeFromNib()
{
    QDialog* window = m_outlets.window;
    if (!m_pathValues.isEmpty()) {
        m_outlets.importHintTextFiled->setText(couldNotImportText(m_sussCount, m_pathValues.size()));
        QTableWidget* table = m_outlets.tableView;
        table->setRowCount(int(m_pathValues.size()));
        for (int row = 0; row < m_pathValues.size(); ++row)
            table->setItem(row, 0, new QTableWidgetItem(m_pathValues.at(row)));
        table->horizontalHeader()->setStretchLastSection(false);
        window->setSizeGripEnabled(true);
        fitWindowToView(m_outlets.firstView, m_outlets.firstViewSize);
    } else {
        m_outlets.importHintTextFiled2->setText(importedText(m_sussCount));
        // A short note: no title, no close, minimise or zoom button, not resizable.
        window->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
        window->setWindowTitle(QString());
        window->setSizeGripEnabled(false);
        fitWindowToView(m_outlets.secondView, m_outlets.secondViewSize);
        window->setFixedSize(window->size());
    }
}

void ImportHintWindowController::fitWindowToView(QWidget* view, const QSize& size)
{
    QDialog* window = m_outlets.window;
    const QRect old = window->geometry();
    m_outlets.content->setCurrentWidget(view);
    window->resize(size);
    // The top edge stays, and the window stays centred over where it was.
    if (window->isVisible())
        window->move(old.center().x() - size.width() / 2, old.top());
}

void ImportHintWindowController::showWindow()
{
    QDialog* window = m_outlets.window;
    window->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    platform::kit::placeCentred(window);
    window->show();
    window->raise();
    window->activateWindow();
}

void ImportHintWindowController::btnOKClick()
{
    m_outlets.window->close();
}

void ImportHintWindowController::checkBoxChange(QCheckBox* checkBox)
{
    platform::UserDefaults::standardUserDefaults().setBool(!checkBox->isChecked(), kShowImportedHint);
}

void ImportHintWindowController::tableViewDoubleAction()
{
    QTableWidget* table = m_outlets.tableView;
    QItemSelectionModel* selection = table->selectionModel();
    QList<int> rows;
    for (const QModelIndex& index : selection->selectedRows())
        rows.append(index.row());
    const bool measureAll = rows.isEmpty();
    if (measureAll) {
        for (int row = 0; row < table->rowCount(); ++row)
            rows.append(row);
    }
    const QFontMetrics metrics(table->font());
    for (int column = 0; column < table->columnCount(); ++column) {
        int width = kMinColumnWidth;
        for (int row : rows) {
            const QTableWidgetItem* item = table->item(row, column);
            const QString value = item ? item->text() : QString();
            width = std::max(width, metrics.horizontalAdvance(value) + kColumnPadding);
        }
        table->setColumnWidth(column, width);
    }
    if (measureAll)
        table->clearSelection();
}
