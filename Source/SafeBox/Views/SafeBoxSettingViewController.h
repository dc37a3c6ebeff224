// The content of the SafeBox settings popover: how much of the box is used ("used of
// capacity"), and the two actions, resize (code 1) and change the password (code 2).
//
// The box is a sealed archive: its figures come from the volume service, not from the size of
// the store file or the free space of a file system.
//
// Threads: main thread only.
#pragma once

#include "Platform/DiskImage/SafeBoxVolumeInfo.h"

#include <QString>
#include <QWidget>
#include <functional>
#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;

class SafeBoxSettingViewController : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 218;
    static constexpr int kHeight = 210;
    using VolumeInfo = std::function<std::optional<platform::SafeBoxVolumeInfo>(const QString& mount)>;

    // volumeInfo empty: SafeBoxVolumeInfo of the mount folder.
    explicit SafeBoxSettingViewController(const QString& safeBoxFolder, VolumeInfo volumeInfo = {},
                                          QWidget* parent = nullptr);

    void setupCallBack(std::function<void(int code)> block) { m_callBackBlock = std::move(block); }
    // Bytes the box holds (not capacity less free: free is also bounded by the disks' room).
    quint64 usage() const { return m_usage; }
    quint64 capacity() const { return m_capacity; }

    void btnResizeClick();
    void btnChangePassword();

    QLabel* labUsageInfo = nullptr;
    QProgressBar* leveIndicator = nullptr; // tenths of the capacity
    QPushButton* btnResize = nullptr;
    QPushButton* btnPassword = nullptr;

    // "%.2f MB" of bytes.
    static QString megabytes(quint64 bytes);

private:
    QString m_safeBoxFolder;
    quint64 m_usage = 0;
    quint64 m_capacity = 0;
    std::function<void(int)> m_callBackBlock;
};
