#include "Dialogs/Preferences/FormatListViewCell.h"

#include "Platform/Foundation/Bundle.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>

FormatListViewCell::FormatListViewCell(qint64 kindID, const QString& title, bool checked, QWidget* parent)
    : QWidget(parent), m_kindID(kindID)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 0, 8, 0);
    auto* icon = new QLabel(this);
    const QString folder = platform::Bundle::mainBundle().resourcePath() + QStringLiteral("/fileicon/");
    QPixmap picture(folder + QString::number(kindID) + QStringLiteral(".png"));
    if (picture.isNull())
        picture = QPixmap(folder + QStringLiteral("-1.png"));
    if (!picture.isNull())
        icon->setPixmap(picture.scaled(22, 22, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    icon->setFixedSize(22, 22);
    layout->addWidget(icon);
    m_btnChecker = new QCheckBox(title, this);
    m_btnChecker->setChecked(checked);
    layout->addWidget(m_btnChecker, 1);
    connect(m_btnChecker, &QCheckBox::clicked, this, [this] { btnCheck(); });
}

void FormatListViewCell::btnCheck()
{
    if (onCheckChange)
        onCheckChange(this);
}
