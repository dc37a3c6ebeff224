#include "Tools/RebuildContentWindow.h"

#include "Platform/Foundation/Localization.h"

#include <QCheckBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

using platform::localizedString;

void buildRebuildContent(RebuildContentOutlets& outlets, QWidget* parent)
{
    auto* window = new QDialog(parent);
    window->setObjectName(QStringLiteral("RebuildContent"));
    window->setWindowTitle(localizedString(QStringLiteral("Rebuild")));
    outlets.window = window;

    outlets.pages = new QStackedWidget(window);
    auto* outer = new QVBoxLayout(window);
    outer->addWidget(outlets.pages);

    auto* choice = new QWidget(outlets.pages);
    auto* choiceLayout = new QVBoxLayout(choice);
    outlets.btnPreviewChecker = new QCheckBox(localizedString(QStringLiteral("Rebuild previews")), choice);
    outlets.btnIndexChecker = new QCheckBox(localizedString(QStringLiteral("Rebuild full-text index")), choice);
    outlets.btnPreviewChecker->setChecked(true);
    outlets.btnIndexChecker->setChecked(true);
    choiceLayout->addWidget(outlets.btnPreviewChecker);
    choiceLayout->addWidget(outlets.btnIndexChecker);
    auto* choiceButtons = new QHBoxLayout();
    choiceButtons->addStretch();
    outlets.btnClose = taggedButton(QStringLiteral("Cancel"), 1, choice);
    outlets.btnRebuild = taggedButton(QStringLiteral("Rebuild"), 0, choice);
    outlets.btnRebuild->setDefault(true);
    choiceButtons->addWidget(outlets.btnClose);
    choiceButtons->addWidget(outlets.btnRebuild);
    choiceLayout->addLayout(choiceButtons);
    outlets.pages->addWidget(choice);

    outlets.viewBuilding = new QWidget(outlets.pages);
    auto* buildingLayout = new QVBoxLayout(outlets.viewBuilding);
    outlets.progressIndicator = new QProgressBar(outlets.viewBuilding);
    outlets.progressIndicator->setRange(0, 1); // idle; a busy bar once started
    outlets.progressIndicator->setTextVisible(false);
    outlets.txtHint = new QLabel(outlets.viewBuilding);
    outlets.txtHint->setMinimumWidth(360);
    outlets.txtHint->setTextFormat(Qt::PlainText);
    buildingLayout->addWidget(outlets.progressIndicator);
    buildingLayout->addWidget(outlets.txtHint);
    auto* buildingButtons = new QHBoxLayout();
    buildingButtons->addStretch();
    outlets.btnStop = taggedButton(QStringLiteral("Cancel"), 2, outlets.viewBuilding);
    buildingButtons->addWidget(outlets.btnStop);
    buildingLayout->addLayout(buildingButtons);
    outlets.pages->addWidget(outlets.viewBuilding);
}
