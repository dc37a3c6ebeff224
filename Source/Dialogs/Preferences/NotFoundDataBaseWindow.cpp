#include "Dialogs/Preferences/NotFoundDataBaseWindow.h"

#include "Platform/Foundation/Localization.h"

#include <QDialog>
#include <QFont>
#include <QLabel>
#include <QPushButton>

void buildNotFoundDataBaseWindow(NotFoundDataBaseOutlets& o, QWidget* parent)
{
    auto* window = new QDialog(parent);
    o.window = window;
    window->setObjectName(QStringLiteral("NotFoundDataBaseWindow"));
    window->setWindowTitle(QStringLiteral("Folivo 2"));
    window->setFixedSize(480, 190);
    o.txtTitle = new QLabel(platform::localizedString(QStringLiteral("LibraryNotFoundStr")), window);
    QFont bold = o.txtTitle->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.25);
    o.txtTitle->setFont(bold);
    o.txtTitle->setGeometry(30, 24, 420, 28);
    o.txtHint = new QLabel(platform::localizedString(QStringLiteral("LibraryNotFoundHintStr")), window);
    o.txtHint->setWordWrap(true);
    o.txtHint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    o.txtHint->setGeometry(30, 60, 420, 60);
    o.btnChoose = new QPushButton(platform::localizedString(QStringLiteral("ChooseLibraryStr")), window);
    o.btnChoose->setGeometry(30, 136, 200, 32);
    o.btnCreate = new QPushButton(platform::localizedString(QStringLiteral("CreateNewLibraryStr")), window);
    o.btnCreate->setGeometry(250, 136, 200, 32);
}
