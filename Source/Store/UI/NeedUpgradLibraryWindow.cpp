#include "Store/UI/NeedUpgradLibraryWindow.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace {

// The designed sizes of the two views.
constexpr int kFirstViewWidth = 440;
constexpr int kFirstViewHeight = 150;
constexpr int kUpdateingViewWidth = 360;
constexpr int kUpdateingViewHeight = 100;

QLabel* wrappedLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

} // namespace

NeedUpgradLibraryWindowOutlets buildNeedUpgradLibraryWindow(QWidget* parent)
{
    NeedUpgradLibraryWindowOutlets o;
    o.window = new QDialog(parent);
    o.window->setObjectName(QStringLiteral("NeedUpgradLibraryWindow"));
    o.window->setWindowTitle(QStringLiteral("Upgrade Library"));
    o.window->setSizeGripEnabled(true);
    o.content = new QStackedLayout(o.window);

    o.firstView = new QWidget(o.window);
    o.firstView->setObjectName(QStringLiteral("firstView"));
    o.firstViewSize = QSize(kFirstViewWidth, kFirstViewHeight);
    auto* question = new QVBoxLayout(o.firstView);
    question->addWidget(wrappedLabel(QStringLiteral("This library was created by an earlier version of Folivo 2."),
                                     o.firstView));
    question->addWidget(wrappedLabel(QStringLiteral("It needs to be upgraded before it can be opened. The current "
                                                    "library file is kept as a backup in the library folder."),
                                     o.firstView));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    o.cancelButton = new QPushButton(QStringLiteral("Cancel"), o.firstView);
    o.updateButton = new QPushButton(QStringLiteral("Upgrade"), o.firstView);
    o.updateButton->setDefault(true);
    buttons->addWidget(o.cancelButton);
    buttons->addWidget(o.updateButton);
    question->addLayout(buttons);

    o.updateingView = new QWidget(o.window);
    o.updateingView->setObjectName(QStringLiteral("updateingView"));
    o.updateingViewSize = QSize(kUpdateingViewWidth, kUpdateingViewHeight);
    auto* progress = new QVBoxLayout(o.updateingView);
    progress->addWidget(wrappedLabel(QStringLiteral("Upgrading the library…"), o.updateingView));
    o.indicator = new QProgressBar(o.updateingView);
    o.indicator->setTextVisible(false);
    o.indicator->setRange(0, 1);
    o.indicator->setValue(0);
    progress->addWidget(o.indicator);

    o.content->addWidget(o.firstView);
    o.content->addWidget(o.updateingView);
    return o;
}
