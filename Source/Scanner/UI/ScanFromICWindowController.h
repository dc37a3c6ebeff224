// The scanner sheet: the scanners SANE finds as tiles and in a pop-up, a panel of our own for
// the chosen one (source, mode, resolution, an overview at 75 dpi whose area can be dragged,
// Scan), and Done. Each scanned page is written as a PNG into the sheet's private cache folder
// and handed to the window through didScanToURL (the platform's code 1 plus the path); the sheet
// stays open for more. While a scan runs, Done and the pop-up are locked. When no scanner turns
// up within kNoDeviceDelayMs, a panel says so; the list is asked again every kPollMs while no
// scanner is open, so one plugged in later appears and one removed goes.
//
// A running scan can be stopped with Cancel Scan, shown only while one runs; a stopped scan
// hands back no page, not even one that was already on its way. Escape in the sheet's window
// ends the sheet with code 0 while no scanner is open yet (looking, none found, or the open
// failed); once a scanner's panel is shown Escape does nothing, so a stray key never drops
// the settings the user has made. Escape in any other window is not touched.
//
// Main thread only; the SANE work runs on the ScannerService's worker.
#pragma once

#include "Platform/Kit/Scheduler.h"
#include "Platform/Scanner/ScannerService.h"

#include <QList>
#include <QRectF>
#include <QVariantMap>
#include <QWidget>
#include <functional>
#include <memory>

class KPScanAreaView;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QStackedWidget;

namespace platform::kit {
class Sheet;
}

// One tile of the device list.
struct ScannerViewItem {
    platform::ScannerDevice device;
};

class ScanFromICWindowController {
public:
    static constexpr int kNoDeviceDelayMs = 5000;
    static constexpr int kPollMs = 5000;
    static constexpr int kTileHeight = 60;

    // Over the process's service unless one is given (tests).
    explicit ScanFromICWindowController(platform::ScannerService* service = nullptr);
    ~ScanFromICWindowController();

    // Each scanned page's path, as it lands.
    std::function<void(int code, const QString& path)> didScanToURL;

    void beginSheet(QWidget* window, std::function<void(int)> done);
    // Done: cancels nothing that runs (Done is locked then) and ends the sheet.
    void btnDoneClick();
    void btnScanClick();
    void btnOverviewClick();

    const QString& downloadFolder() const { return m_downloadFolder; }
    const QList<ScannerViewItem>& devices() const { return m_devices; }
    QComboBox* popupDeviceButton() const { return m_popupDeviceButton; }
    QPushButton* doneButton() const { return m_btnDone; }
    QPushButton* scanButton() const { return m_btnScan; }
    QPushButton* overviewButton() const { return m_btnOverview; }
    QPushButton* cancelScanButton() const { return m_btnCancelScan; }
    // A scanner is open (or opening) and its panel is shown.
    bool isShowingDeviceView() const { return !m_openDevice.isEmpty(); }
    // Further SANE options every scan sets, by name (a slow test device, say).
    void setExtraOptions(const QVariantMap& options) { m_extraOptions = options; }
    QComboBox* resolutionButton() const { return m_resolution; }
    KPScanAreaView* overview() const { return m_overview; }
    bool isShowingNoDevice() const;
    QLabel* statusLabel() const { return m_status; }
    QWidget* content() const;

    // A running scan is cancelled (Cancel Scan, the window closes or the program quits); what
    // it still delivers is dropped.
    void cancelScan();

private:
    class EscapeMonitor;
    void escapePressed();
    void refreshDevices();
    void devicesChanged(const QList<platform::ScannerDevice>& list);
    void openSelected();
    void setScanning(bool scanning);
    platform::ScanSettings settings() const;

    platform::ScannerService* m_service;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    QString m_downloadFolder;
    QString m_folderError;
    QList<ScannerViewItem> m_devices;
    QString m_openDevice;
    bool m_scanning = false;
    // Set by a cancel; pages of the running scan that arrive afterwards are dropped.
    bool m_scanCancelled = false;
    QVariantMap m_extraOptions;
    std::unique_ptr<EscapeMonitor> m_escapeMonitor;
    bool m_listing = false;
    std::unique_ptr<platform::kit::Sheet> m_sheet;
    platform::kit::Token m_noDeviceTimer;
    platform::kit::Token m_pollTimer;
    QStackedWidget* m_stack = nullptr;
    QListWidget* m_tiles = nullptr;
    QComboBox* m_popupDeviceButton = nullptr;
    QComboBox* m_source = nullptr;
    QComboBox* m_mode = nullptr;
    QComboBox* m_resolution = nullptr;
    KPScanAreaView* m_overview = nullptr;
    // The open scanner's bed in its own units (what an overview covers); empty when the
    // scanner offers no scan area.
    QRectF m_bed;
    QLabel* m_status = nullptr;
    QPushButton* m_btnOverview = nullptr;
    QPushButton* m_btnScan = nullptr;
    QPushButton* m_btnCancelScan = nullptr;
    QPushButton* m_btnDone = nullptr;
    std::function<void(int)> m_done;
};
