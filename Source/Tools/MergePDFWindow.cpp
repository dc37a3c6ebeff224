#include "Tools/MergePDFWindow.h"

#include "Platform/Foundation/Localization.h"
#include "Tools/TaggedButton.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

using platform::localizedString;

void buildMergePDFWindow(MergePDFOutlets& outlets)
{
    auto* window = new QWidget;
    window->setObjectName(QStringLiteral("MergePDFWindow"));
    outlets.window = window;
    auto* outer = new QVBoxLayout(window);

    outlets.workView = new QWidget(window);
    auto* work = new QVBoxLayout(outlets.workView);
    auto* title = new QLabel(localizedString(QStringLiteral("Merging the PDF documents…")), outlets.workView);
    title->setMinimumWidth(360);
    outlets.progress = new QProgressBar(outlets.workView);
    outlets.progress->setRange(0, 1); // idle; busy while merging
    outlets.progress->setTextVisible(false);
    work->addWidget(title);
    work->addWidget(outlets.progress);
    auto* workButtons = new QHBoxLayout();
    workButtons->addStretch();
    outlets.btnCancel = taggedButton(QStringLiteral("Cancel"), 0, outlets.workView);
    workButtons->addWidget(outlets.btnCancel);
    work->addLayout(workButtons);
    outer->addWidget(outlets.workView);

    outlets.hintView = new QWidget(window);
    auto* hint = new QVBoxLayout(outlets.hintView);
    outlets.txtHint = new QLabel(localizedString(QStringLiteral("The merged PDF document has been added to the library.")),
                                 outlets.hintView);
    outlets.txtHint->setTextFormat(Qt::PlainText);
    outlets.txtHint->setWordWrap(true);
    outlets.txtHint->setMinimumWidth(360);
    hint->addWidget(outlets.txtHint);
    auto* hintButtons = new QHBoxLayout();
    hintButtons->addStretch();
    outlets.btnFinished = taggedButton(QStringLiteral("Done"), 0, outlets.hintView);
    outlets.btnFinished->setDefault(true);
    hintButtons->addWidget(outlets.btnFinished);
    hint->addLayout(hintButtons);
    outer->addWidget(outlets.hintView);
    outlets.hintView->hide();
}
