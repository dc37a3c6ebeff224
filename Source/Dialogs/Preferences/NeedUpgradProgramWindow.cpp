#include "Dialogs/Preferences/NeedUpgradProgramWindow.h"

#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/WindowPlacement.h"

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

void buildNeedUpgradProgramWindow(NeedUpgradProgramOutlets& o, QWidget* parent)
{
    auto* window = new QDialog(parent);
    o.window = window;
    window->setObjectName(QStringLiteral("NeedUpgradProgramWindow"));
    window->setWindowTitle(QStringLiteral("Folivo 2"));
    window->setFixedSize(460, 170);
    auto* icon = new QLabel(window);
    icon->setPixmap(window->style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(48, 48));
    icon->setGeometry(24, 24, 48, 48);
    o.txtTitle = new QLabel(platform::localizedString(QStringLiteral("NeedUpgradeProgramStr")), window);
    QFont bold = o.txtTitle->font();
    bold.setBold(true);
    o.txtTitle->setFont(bold);
    o.txtTitle->setWordWrap(true);
    o.txtTitle->setGeometry(90, 24, 346, 40);
    o.txtHint = new QLabel(platform::localizedString(QStringLiteral("NeedUpgradeProgramTextStr")), window);
    o.txtHint->setWordWrap(true);
    o.txtHint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    o.txtHint->setGeometry(90, 68, 346, 50);
    o.btnQuit = new QPushButton(platform::localizedString(QStringLiteral("QuitStr")), window);
    o.btnQuit->setGeometry(336, 124, 100, 30);
    o.btnQuit->setDefault(true);
    QObject::connect(o.btnQuit, &QPushButton::clicked, window, &QDialog::accept);
}

QDialog* showNeedUpgradProgramWindow(QWidget* parent, std::function<void()> onQuit)
{
    NeedUpgradProgramOutlets outlets;
    buildNeedUpgradProgramWindow(outlets, parent);
    QDialog* window = outlets.window;
    window->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(window, &QDialog::finished, window, [onQuit = std::move(onQuit)] {
        if (onQuit)
            onQuit();
    });
    platform::kit::placeCentred(window, parent ? parent->window() : nullptr);
    window->setWindowModality(Qt::ApplicationModal);
    window->show();
    return window;
}
