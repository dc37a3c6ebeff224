#include "Tools/DuplicationInfoSelectView.h"

#include "Controls/KPCoustomDrawBGView.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Workspace/Workspace.h"
#include "Tools/DuplicationInfoViewController.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QCheckBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QWidget>

DuplicationInfoSelectView::DuplicationInfoSelectView(const DuplicateRecordInfo& info, DuplicationInfoViewController* parent)
    : QObject(parent)
    , m_recordInfo(info)
    , m_paretnVC(parent)
{
    // The row's frame within the group is set by the group; these are its own parts.
    auto* view = new QWidget(parent->view());
    view->resize(kWidth, kHeight);
    m_view = view;
    m_btnCheck = new QCheckBox(view);
    m_btnCheck->setGeometry(0, 4, 20, 20);
    m_txtDate = new QLabel(dateText(info.date), view);
    m_txtDate->setGeometry(24, 4, 150, 20);
    m_txtPath = new QLabel(view);
    m_txtPath->setGeometry(180, 4, 555, 20);
    m_txtPath->setTextFormat(Qt::PlainText);
    m_txtPath->setText(m_txtPath->fontMetrics().elidedText(info.filePath, Qt::ElideMiddle, m_txtPath->width()));
    m_txtPath->setToolTip(info.filePath);
    m_btnReveal = new QPushButton(platform::localizedString(QStringLiteral("Show")), view);
    m_btnReveal->setGeometry(740, 2, 64, 24);
    m_btnReveal->setAutoDefault(false);

    QObject::connect(m_btnCheck, &QCheckBox::clicked, this, [this] { btnCheckClick(); });
    QObject::connect(m_btnReveal, &QPushButton::clicked, this, [this] { btnRevealInFinderClick(); });
}

int DuplicationInfoSelectView::state() const
{
    return m_btnCheck->isChecked() ? 1 : 0;
}

void DuplicationInfoSelectView::setState(int state)
{
    m_btnCheck->setChecked(state == 1);
}

void DuplicationInfoSelectView::btnCheckClick()
{
    if (m_paretnVC)
        m_paretnVC->doSelectWithVC(this);
}

void DuplicationInfoSelectView::btnRevealInFinderClick()
{
    if (m_reveal) {
        m_reveal(m_recordInfo.filePath);
        return;
    }
    if (const platform::Result<void> shown = platform::Workspace::shared().selectFile(m_recordInfo.filePath); !shown)
        KPLogLogDomainMessage(QStringLiteral("Duplicate"), 0, shown.error().toString());
}

QString DuplicationInfoSelectView::dateText(const QDateTime& date)
{
    if (!date.isValid())
        return QString();
    return QLocale(QLocale::English).toString(date.toLocalTime(), QStringLiteral("yyyy-M-d hh:mm AP"));
}
