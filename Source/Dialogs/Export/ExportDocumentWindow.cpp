#include "Dialogs/Export/ExportDocumentWindow.h"

#include "Platform/Foundation/Localization.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

using platform::localizedString;

void buildExportDocumentWindow(ExportDocumentWindowOutlets& outlets)
{
    auto* content = new QWidget();
    content->setObjectName(QStringLiteral("ExportDocumentWindow"));
    content->setFixedWidth(420);
    outlets.content = content;

    auto* layout = new QVBoxLayout(content);
    auto* title = new QLabel(localizedString(QStringLiteral("Exporting documents...")), content);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);

    outlets.progressIndicator = new QProgressBar(content);
    outlets.progressIndicator->setRange(0, 0); // busy until the worker has counted
    outlets.progressIndicator->setTextVisible(false);
    layout->addWidget(outlets.progressIndicator);

    outlets.txtHint = new QLabel(content);
    // Titles are user text: never read as markup, never wider than the sheet.
    outlets.txtHint->setTextFormat(Qt::PlainText);
    outlets.txtHint->setMinimumWidth(1);
    outlets.txtHint->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(outlets.txtHint);

    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    outlets.btnCancel = new QPushButton(localizedString(QStringLiteral("Cancel")), content);
    buttons->addWidget(outlets.btnCancel);
    layout->addLayout(buttons);
}
