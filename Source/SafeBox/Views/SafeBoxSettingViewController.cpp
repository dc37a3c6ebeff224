#include "SafeBox/Views/SafeBoxSettingViewController.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

SafeBoxSettingViewController::SafeBoxSettingViewController(const QString& safeBoxFolder, VolumeInfo volumeInfo,
                                                           QWidget* parent)
    : QWidget(parent), m_safeBoxFolder(safeBoxFolder)
{
    setObjectName(QStringLiteral("SafeBoxSettingView"));
    setFixedSize(kWidth, kHeight);
    const std::optional<platform::SafeBoxVolumeInfo> info =
        volumeInfo ? volumeInfo(safeBoxFolder) : platform::SafeBoxVolumeInfo::forMount(safeBoxFolder);
    if (info) {
        m_capacity = info->capacity;
        // What the box holds: its free figure is also bounded by the room left on the disks, so
        // capacity less free would count that shortage as content.
        m_usage = info->used;
    }

    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(tr("SafeBox usage"), this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);
    labUsageInfo = new QLabel(this);
    labUsageInfo->setWordWrap(true);
    labUsageInfo->setText(info ? QStringLiteral("%1 of %2").arg(megabytes(m_usage), megabytes(m_capacity))
                               : tr("The SafeBox figures cannot be read."));
    layout->addWidget(labUsageInfo);
    leveIndicator = new QProgressBar(this);
    leveIndicator->setRange(0, 10);
    leveIndicator->setTextVisible(false);
    // An almost empty box still shows one step, so the bar never looks broken.
    const double level = m_capacity ? double(m_usage) / double(m_capacity) * 10.0 : 0.0;
    leveIndicator->setValue(level == 0.0 ? 1 : std::clamp(int(std::ceil(level)), 1, 10));
    layout->addWidget(leveIndicator);
    layout->addStretch();
    btnResize = new QPushButton(tr("Resize…"), this);
    btnPassword = new QPushButton(tr("Change Password…"), this);
    btnResize->setEnabled(bool(info));
    layout->addWidget(btnResize);
    layout->addWidget(btnPassword);
    connect(btnResize, &QPushButton::clicked, this, &SafeBoxSettingViewController::btnResizeClick);
    connect(btnPassword, &QPushButton::clicked, this, &SafeBoxSettingViewController::btnChangePassword);
}

QString SafeBoxSettingViewController::megabytes(quint64 bytes)
{
    return QStringLiteral("%1 MB").arg(double(bytes) / 1048576.0, 0, 'f', 2);
}

void SafeBoxSettingViewController::btnResizeClick()
{
    if (m_callBackBlock)
        m_callBackBlock(1);
}

void SafeBoxSettingViewController::btnChangePassword()
{
    if (m_callBackBlock)
        m_callBackBlock(2);
}
