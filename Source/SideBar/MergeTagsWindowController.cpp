#include "SideBar/MergeTagsWindowController.h"

#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/Sheet.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using platform::localizedString;

QWidget* buildMergeTagsWindow(QLineEdit*& txtValue, QPushButton*& defaultButton, QPushButton*& cancelButton)
{
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("MergeTagsWindow"));
    auto* layout = new QVBoxLayout(content);
    layout->addWidget(new QLabel(localizedString(QStringLiteral("Merge selected tags into:")), content));
    txtValue = new QLineEdit(content);
    layout->addWidget(txtValue);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    cancelButton = new QPushButton(localizedString(QStringLiteral("Cancel")), content);
    defaultButton = new QPushButton(localizedString(QStringLiteral("OK")), content);
    defaultButton->setDefault(true);
    defaultButton->setEnabled(false);
    buttons->addWidget(cancelButton);
    buttons->addWidget(defaultButton);
    layout->addLayout(buttons);
    content->resize(300, 110);
    return content;
}

MergeTagsWindowController::MergeTagsWindowController(NameTest isNameFree) : m_isNameFree(std::move(isNameFree))
{
    QLineEdit* field = nullptr;
    QPushButton* ok = nullptr;
    QPushButton* cancel = nullptr;
    m_sheet = new platform::kit::Sheet(buildMergeTagsWindow(field, ok, cancel), this);
    m_txtValue = field;
    m_defaultButton = ok;
    connect(field, &QLineEdit::textChanged, this, [this] { controlTextDidChange(); });
    connect(field, &QLineEdit::returnPressed, this, [this] {
        if (m_defaultButton && m_defaultButton->isEnabled())
            onBtnOKClick();
    });
    connect(ok, &QPushButton::clicked, this, [this] { onBtnOKClick(); });
    connect(cancel, &QPushButton::clicked, this, [this] { onBtnCancelClick(); });
}

MergeTagsWindowController::~MergeTagsWindowController() = default;

void MergeTagsWindowController::beginSheedModelForWindow(QWidget* window, Completion completion)
{
    m_completedBlock = std::move(completion);
    m_sheet->begin(window, [this](int code) {
        const QString name = code == 1 && m_txtValue ? m_txtValue->text() : QString();
        if (m_completedBlock)
            m_completedBlock(code, code == 1 ? name : QString());
        deleteLater();
    });
}

void MergeTagsWindowController::controlTextDidChange()
{
    const QString text = m_txtValue ? m_txtValue->text() : QString();
    if (m_defaultButton)
        m_defaultButton->setEnabled(!text.isEmpty() && m_isNameFree && m_isNameFree(text));
}

void MergeTagsWindowController::onBtnOKClick()
{
    m_sheet->end(1);
}

void MergeTagsWindowController::onBtnCancelClick()
{
    m_sheet->end(0);
}
