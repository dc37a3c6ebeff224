#include "Import/UI/ImportHintWindow.h"

#include "Platform/Foundation/Localization.h"

#include <QCheckBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStackedLayout>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

// Tuning: the sizes the two layouts are designed for.
constexpr QSize kFirstViewSize{480, 300};
constexpr QSize kSecondViewSize{380, 110};

QString text(const QString& key, const QString& english)
{
    const QString found = platform::localizedString(key);
    return found == key ? english : found;
}

QWidget* buildView(QLabel*& label, QCheckBox*& checkBox, QPushButton*& ok, QTableWidget** table)
{
    auto* view = new QWidget;
    auto* column = new QVBoxLayout(view);
    label = new QLabel;
    label->setWordWrap(true);
    column->addWidget(label);
    if (table) {
        *table = new QTableWidget(0, 1);
        (*table)->setObjectName(QStringLiteral("PathValue"));
        (*table)->setHorizontalHeaderLabels({QStringLiteral("PathValue")});
        (*table)->horizontalHeader()->hide();
        (*table)->verticalHeader()->hide();
        (*table)->setEditTriggers(QAbstractItemView::NoEditTriggers);
        (*table)->setSelectionBehavior(QAbstractItemView::SelectRows);
        (*table)->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        column->addWidget(*table, 1);
    } else {
        column->addStretch(1);
    }
    auto* buttons = new QHBoxLayout;
    checkBox = new QCheckBox(text(QStringLiteral("Do not show this again"), QStringLiteral("Do not show this again")));
    ok = new QPushButton(text(QStringLiteral("OK"), QStringLiteral("OK")));
    ok->setDefault(true);
    buttons->addWidget(checkBox);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    column->addLayout(buttons);
    return view;
}

} // namespace

ImportHintWindowOutlets buildImportHintWindow(QWidget* parent)
{
    ImportHintWindowOutlets o;
    o.window = new QDialog(parent);
    o.window->setObjectName(QStringLiteral("ImportHintWindow"));
    o.content = new QStackedLayout(o.window);
    o.firstView = buildView(o.importHintTextFiled, o.checkBox, o.okButton, &o.tableView);
    o.secondView = buildView(o.importHintTextFiled2, o.checkBox2, o.okButton2, nullptr);
    o.content->addWidget(o.firstView);
    o.content->addWidget(o.secondView);
    o.firstViewSize = kFirstViewSize;
    o.secondViewSize = kSecondViewSize;
    return o;
}
