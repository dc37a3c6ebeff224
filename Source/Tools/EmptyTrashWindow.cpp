#include "Tools/EmptyTrashWindow.h"

#include "Tools/TaggedButton.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

void buildEmptyTrashWindow(EmptyTrashOutlets& outlets)
{
    auto* window = new QWidget;
    window->setObjectName(QStringLiteral("EmptyTrashWindow"));
    outlets.window = window;
    auto* outer = new QVBoxLayout(window);

    outlets.confirmView = new QWidget(window);
    auto* confirm = new QVBoxLayout(outlets.confirmView);
    outlets.textField = new QLabel(outlets.confirmView);
    outlets.textField->setTextFormat(Qt::PlainText);
    outlets.textField->setWordWrap(true);
    outlets.textField->setMinimumWidth(380);
    confirm->addWidget(outlets.textField);
    auto* confirmButtons = new QHBoxLayout();
    confirmButtons->addStretch();
    outlets.btnCancel = taggedButton(QStringLiteral("Cancel"), 0, outlets.confirmView);
    outlets.btnOK = taggedButton(QStringLiteral("OK"), 0, outlets.confirmView);
    outlets.btnOK->setDefault(true);
    confirmButtons->addWidget(outlets.btnCancel);
    confirmButtons->addWidget(outlets.btnOK);
    confirm->addLayout(confirmButtons);
    outer->addWidget(outlets.confirmView);

    outlets.progressView = new QWidget(window);
    auto* progress = new QVBoxLayout(outlets.progressView);
    outlets.textFileName = new QLabel(outlets.progressView);
    outlets.textFileName->setTextFormat(Qt::PlainText);
    outlets.textFileName->setMinimumWidth(380);
    outlets.progressIndicator = new QProgressBar(outlets.progressView);
    outlets.progressIndicator->setRange(0, 0);
    outlets.progressIndicator->setTextVisible(false);
    progress->addWidget(outlets.textFileName);
    progress->addWidget(outlets.progressIndicator);
    auto* progressButtons = new QHBoxLayout();
    progressButtons->addStretch();
    outlets.btnStop = taggedButton(QStringLiteral("Cancel"), 1, outlets.progressView);
    progressButtons->addWidget(outlets.btnStop);
    progress->addLayout(progressButtons);
    outer->addWidget(outlets.progressView);
    outlets.progressView->hide();
}
