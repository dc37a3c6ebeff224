#include "MainWindow/KeepWindowAskController.h"

#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Kit/DialogService.h"
#include "Platform/Kit/Sheet.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standardUserDefaults();
}

} // namespace

KeepWindowAskController::KeepWindowAskController()
{
    auto* content = new QWidget;
    content->setFixedWidth(420);
    auto* layout = new QVBoxLayout(content);
    auto* question = new QLabel(platform::localizedString(QStringLiteral("Keep the folder hierarchy of the added folders?")));
    question->setWordWrap(true);
    layout->addWidget(question);
    m_checkBtn = new QCheckBox(platform::localizedString(QStringLiteral("Do not ask again")));
    layout->addWidget(m_checkBtn);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_no = new QPushButton(platform::localizedString(QStringLiteral("No")));
    m_yes = new QPushButton(platform::localizedString(QStringLiteral("Yes")));
    m_yes->setDefault(true);
    buttons->addWidget(m_no);
    buttons->addWidget(m_yes);
    layout->addLayout(buttons);

    // A missing value counts as "ask", so the box starts unchecked only when asking is wanted.
    m_checkBtn->setChecked(!defaults().objectForKey(kKeepImportWindowAskKey).toBool());
    connect(m_checkBtn, &QCheckBox::clicked, this, &KeepWindowAskController::checkBtnClick);
    connect(m_yes, &QPushButton::clicked, this, &KeepWindowAskController::clickYES);
    connect(m_no, &QPushButton::clicked, this, &KeepWindowAskController::clickNO);
    m_sheet = std::make_unique<platform::kit::Sheet>(content);
}

KeepWindowAskController::~KeepWindowAskController() = default;

void KeepWindowAskController::beginSheet(QWidget* window, platform::kit::DialogService& dialogs,
                                         std::function<void(int)> completion)
{
    dialogs.beginSheet(window, *m_sheet, [this, completion = std::move(completion)](int code) {
        if (completion)
            completion(code);
        deleteLater();
    });
}

void KeepWindowAskController::clickYES()
{
    end(true);
}

void KeepWindowAskController::clickNO()
{
    end(false);
}

void KeepWindowAskController::end(bool keepHierarchy)
{
    defaults().setBool(keepHierarchy, kHierarchicalFolderKey);
    defaults().synchronize();
    if (m_sheet->isBegun())
        m_sheet->end(keepHierarchy ? 1 : 0);
}

void KeepWindowAskController::checkBtnClick()
{
    defaults().setBool(!m_checkBtn->isChecked(), kKeepImportWindowAskKey);
    defaults().synchronize();
}
