#include "Tools/Sources/SourceiCloudSetupWindow.h"

#include "Tools/Sources/SourceItemView.h"
#include "Tools/Sources/SourceSetupView.h"

#include "Platform/Foundation/Localization.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

using platform::localizedString;

namespace {

QPushButton* button(const QString& title, QWidget* parent)
{
    auto* b = new QPushButton(localizedString(title), parent);
    b->setAutoDefault(false);
    return b;
}

QHBoxLayout* buttonRow(std::initializer_list<QPushButton*> buttons)
{
    auto* row = new QHBoxLayout();
    row->addStretch();
    for (QPushButton* b : buttons)
        row->addWidget(b);
    return row;
}

} // namespace

void buildSourceiCloudSetupWindow(SourceiCloudSetupOutlets& outlets, int rowCount, QWidget* parent)
{
    auto* window = new QDialog(parent);
    window->setObjectName(QStringLiteral("SourceiCloudSetupWindow"));
    window->setWindowTitle(QStringLiteral("iCloud"));
    outlets.window = window;
    outlets.pages = new QStackedWidget(window);
    auto* outer = new QVBoxLayout(window);
    outer->addWidget(outlets.pages);

    outlets.introView = new QWidget(outlets.pages);
    auto* intro = new QVBoxLayout(outlets.introView);
    outlets.txtIntro = new QLabel(
        localizedString(QStringLiteral("Connect the document folders of your iCloud apps to keep their documents in your library.")),
        outlets.introView);
    outlets.txtIntro->setWordWrap(true);
    outlets.txtIntro->setTextFormat(Qt::PlainText);
    intro->addWidget(outlets.txtIntro);
    outlets.btnHowToSetup = button(QStringLiteral("How to set up iCloud"), outlets.introView);
    outlets.btnNextToSetting = button(QStringLiteral("Next"), outlets.introView);
    outlets.btnNextToSetting->setDefault(true);
    intro->addLayout(buttonRow({outlets.btnHowToSetup, outlets.btnNextToSetting}));
    outlets.pages->addWidget(outlets.introView);

    outlets.settingView = new QWidget(outlets.pages);
    auto* setting = new QVBoxLayout(outlets.settingView);
    outlets.rowsView = new QWidget(outlets.settingView);
    outlets.rowsView->setFixedSize(kSourceRowSize.width() + 2 * kSourceRowX, sourceRowsHeight(rowCount));
    setting->addWidget(outlets.rowsView);
    outlets.btnDone = button(QStringLiteral("Done"), outlets.settingView);
    outlets.btnDone->setDefault(true);
    setting->addLayout(buttonRow({outlets.btnDone}));
    outlets.pages->addWidget(outlets.settingView);
}
