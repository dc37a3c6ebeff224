#include "SmartFolder/KPSmartFolderWindowController.h"

#include "Platform/Foundation/KeyedArchiver.h"
#include "Platform/Foundation/KeyedUnarchiver.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/DialogService.h"
#include "Platform/Kit/Sheet.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

constexpr int kLeastSheetWidth = 620;
constexpr int kLeastListWidth = 600;
constexpr int kFooterHeight = 50;
// One rule row's list: the first layout never resizes the sheet.
constexpr int kOneRowHeight = 32;

} // namespace

KPSmartFolderWindowController::KPSmartFolderWindowController(SmartFolderChoices choices, QObject* parent)
    : QObject(parent)
{
    m_content = new QWidget;
    m_content->setObjectName("KPSmartFolderWindow");
    // The rule list grows by what its field and operator texts need beyond the least widths,
    // so the value controls keep their room.
    const int listWidth = kLeastListWidth + KPSmartFolderView::fieldColumnWidth() - KPSmartRowEditor::kLeastFieldWidth
                          + KPSmartFolderView::operatorColumnWidth() - KPSmartRowEditor::kLeastOperatorWidth;
    m_sheetWidth = kLeastSheetWidth - kLeastListWidth + listWidth;
    m_content->setFixedSize(m_sheetWidth, kChromeHeight + kOneRowHeight + kFooterHeight);
    m_sheet = std::make_unique<platform::kit::Sheet>(m_content);

    auto* nameLabel = new QLabel(platform::localizedString("Name:"), m_content);
    nameLabel->setGeometry(10, 10, 80, 22);
    m_txtSmartName = new QLineEdit(m_content);
    m_txtSmartName->setObjectName("txtSmartName");
    m_txtSmartName->setGeometry(95, 10, m_sheetWidth - 105, 22);
    connect(m_txtSmartName, &QLineEdit::textChanged, this, [this] { updateOKState(); });

    auto* matchLabel = new QLabel(platform::localizedString("Match"), m_content);
    matchLabel->setGeometry(10, 40, 80, 22);
    m_checkBoxBtn = new QComboBox(m_content);
    m_checkBoxBtn->addItem(platform::localizedString("all of the following rules"), 0);
    m_checkBoxBtn->addItem(platform::localizedString("any of the following rules"), 1);
    m_checkBoxBtn->setGeometry(95, 38, 260, 26);
    connect(m_checkBoxBtn, &QComboBox::activated, this,
            [this] { m_smartFolderView->setIsAnd(m_checkBoxBtn->currentData().toInt() != 1); });

    m_smartFolderView = new KPSmartFolderView(std::move(choices), m_content);
    m_smartFolderView->setGeometry((m_sheetWidth - listWidth) / 2, kChromeHeight, listWidth, kOneRowHeight);
    m_smartFolderView->setDelegate([this](int height, int add) { updateSmartFolderViewHeight(height, add); });

    m_unreadable = new QLabel(m_content);
    m_unreadable->setStyleSheet("color: #b00020");
    m_unreadable->hide();

    auto* cancel = new QPushButton(platform::localizedString("Cancel"), m_content);
    m_btnOK = new QPushButton(platform::localizedString("OK"), m_content);
    m_btnOK->setDefault(true);
    connect(cancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
    connect(m_btnOK, &QPushButton::clicked, this, [this] { btnOKClick(); });
    // Footer controls follow the bottom edge as the sheet grows.
    auto placeFooter = [this, cancel] {
        const int bottom = m_content->height();
        m_unreadable->setGeometry(10, bottom - 40, m_sheetWidth - 220, 28);
        cancel->setGeometry(m_sheetWidth - 200, bottom - 40, 90, 28);
        m_btnOK->setGeometry(m_sheetWidth - 100, bottom - 40, 90, 28);
    };
    placeFooter();
    m_placeFooter = placeFooter;
    updateOKState();
}

KPSmartFolderWindowController::~KPSmartFolderWindowController() = default;

void KPSmartFolderWindowController::setTitle(const QString& title)
{
    if (!title.isNull())
        m_txtSmartName->setText(title);
}

QString KPSmartFolderWindowController::title() const { return m_txtSmartName->text(); }

void KPSmartFolderWindowController::setSmartData(const QByteArray& archive)
{
    auto newFolderRow = [this] {
        m_smartFolderView->addRowByType(SmartFolderRules::SmartRowCollection, QStringLiteral("Collection"));
    };
    if (archive.isEmpty()) {
        m_txtSmartName->setText(platform::localizedString("untitled smart folder"));
        newFolderRow();
        return;
    }
    auto decoded = platform::KeyedUnarchiver::unarchiveObject(archive);
    if (!decoded || decoded->typeId() != QMetaType::QVariantMap
        || decoded->toMap().value(SmartFolderRules::kSmartDataKey).toList().isEmpty()) {
        KPLogLogMessage(QStringLiteral("smart folder: stored rules unreadable: %1")
                            .arg(decoded ? QStringLiteral("no rules in the archive") : decoded.error().toString()));
        m_unreadable->setText(platform::localizedString("The stored rules could not be read."));
        m_unreadable->show();
        newFolderRow();
        return;
    }
    const QVariantMap rules = decoded->toMap();
    const bool isAnd = SmartFolderRules::matchesAll(rules);
    m_checkBoxBtn->setCurrentIndex(isAnd ? 0 : 1);
    m_smartFolderView->setIsAnd(isAnd);
    m_smartFolderView->setSmartData(rules);
}

QByteArray KPSmartFolderWindowController::smartData() const
{
    auto archived = platform::KeyedArchiver::archivedData(m_smartFolderView->smartData());
    if (!archived) {
        KPLogLogMessage(QStringLiteral("smart folder: rules not archived: %1").arg(archived.error().toString()));
        return {};
    }
    return *archived;
}

void KPSmartFolderWindowController::beginSheetWithWindow(QWidget* window, platform::kit::DialogService& dialogs,
                                                         CompletedBlock block)
{
    m_completedBlock = std::move(block);
    dialogs.beginSheet(window, *m_sheet, [this](int code) { finish(code); });
}

void KPSmartFolderWindowController::btnOKClick()
{
    if (!m_btnOK->isEnabled())
        return;
    m_sheet->end(1);
}

void KPSmartFolderWindowController::btnCancelClick() { m_sheet->end(0); }

void KPSmartFolderWindowController::finish(int code)
{
    CompletedBlock block = std::move(m_completedBlock);
    m_completedBlock = nullptr;
    if (block) {
        if (code == 1)
            block(1, smartData(), title());
        else
            block(code, {}, {});
    }
    // The completion may run while the window is destroyed: only our own objects are touched.
    deleteLater();
}

void KPSmartFolderWindowController::updateSmartFolderViewHeight(int height, int addHeight)
{
    if (addHeight < 0 ? height < kOneRowHeight : height <= kOneRowHeight)
        return;
    m_content->setFixedSize(m_sheetWidth, m_content->height() + addHeight);
    m_placeFooter();
}

void KPSmartFolderWindowController::updateOKState()
{
    m_btnOK->setEnabled(!m_txtSmartName->text().trimmed().isEmpty());
}
