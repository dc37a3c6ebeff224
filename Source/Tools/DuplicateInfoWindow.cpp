#include "Tools/DuplicateInfoWindow.h"

#include "Platform/Foundation/Localization.h"
#include "Tools/DuplicationInfoViewController.h"
#include "Tools/TaggedButton.h"

#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

using platform::localizedString;

void buildDuplicationInfoWindow(DuplicateInfoOutlets& outlets, QWidget* parent)
{
    auto* window = new QDialog(parent);
    window->setObjectName(QStringLiteral("DuplicationInfoWindow"));
    window->setWindowTitle(localizedString(QStringLiteral("Duplicates")));
    window->resize(DuplicationInfoViewController::kWidth + 24, 560);
    outlets.window = window;
    auto* outer = new QVBoxLayout(window);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    // The busy bar sits centred over the place the list takes once there is something to show.
    auto* middle = new QGridLayout();
    outlets.scrollView = new QScrollArea(window);
    outlets.scrollView->setWidgetResizable(false);
    outlets.scrollView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outlets.documentView = new QWidget;
    outlets.scrollView->setWidget(outlets.documentView);
    outlets.progressIndicator = new QProgressBar(window);
    outlets.progressIndicator->setRange(0, 1);
    outlets.progressIndicator->setTextVisible(false);
    outlets.progressIndicator->setFixedWidth(160);
    middle->addWidget(outlets.scrollView, 0, 0);
    middle->addWidget(outlets.progressIndicator, 0, 0, Qt::AlignCenter);
    outer->addLayout(middle, 1);

    auto* bottom = new QWidget(window);
    bottom->setFixedHeight(kDuplicateBottomBarHeight);
    auto* bar = new QHBoxLayout(bottom);
    outlets.txtLabelInfo = new QLabel(bottom);
    outlets.btnCancel = taggedButton(QStringLiteral("Cancel"), 0, bottom);
    outlets.btnRemoveSelected = taggedButton(QStringLiteral("Remove Selected"), 0, bottom);
    outlets.btnRemoveSelected->setEnabled(false);
    bar->addWidget(outlets.txtLabelInfo);
    bar->addStretch();
    bar->addWidget(outlets.btnCancel);
    bar->addWidget(outlets.btnRemoveSelected);
    outer->addWidget(bottom);
}
