#include "Tools/Sources/RemoveDocumentSourceWindow.h"

#include "Platform/Foundation/Localization.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

using platform::localizedString;

void buildRemoveDocumentSourceWindow(RemoveDocumentSourceOutlets& outlets)
{
    auto* content = new QWidget();
    content->setObjectName(QStringLiteral("RemoveDocumentSourceWindow"));
    content->setMinimumWidth(420);
    outlets.content = content;

    auto* layout = new QVBoxLayout(content);
    outlets.txtHint = new QLabel(content);
    outlets.txtHint->setTextFormat(Qt::PlainText);
    outlets.txtHint->setWordWrap(true);
    layout->addWidget(outlets.txtHint);

    auto* buttons = new QHBoxLayout();
    outlets.progressIndicator = new QProgressBar(content);
    outlets.progressIndicator->setRange(0, 0);
    outlets.progressIndicator->setTextVisible(false);
    outlets.progressIndicator->setMaximumWidth(120);
    outlets.progressIndicator->hide();
    buttons->addWidget(outlets.progressIndicator);
    buttons->addStretch();
    outlets.btnCancel = new QPushButton(localizedString(QStringLiteral("Cancel")), content);
    outlets.btnRemove = new QPushButton(localizedString(QStringLiteral("Remove")), content);
    outlets.btnRemoving = new QPushButton(localizedString(QStringLiteral("Removing...")), content);
    outlets.btnRemoving->setEnabled(false);
    outlets.btnRemoving->hide();
    outlets.btnRemove->setDefault(true);
    for (QPushButton* button : {outlets.btnCancel, outlets.btnRemove, outlets.btnRemoving})
        buttons->addWidget(button);
    layout->addLayout(buttons);
}
