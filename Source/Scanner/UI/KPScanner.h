// The machine's scanners as a list kept up to date. searchDevice() starts looking (the first call
// makes the browser; later calls change nothing) and, since SANE tells of no scanner arriving or
// going, asks for the list again every kPollMs from then on. Devices SANE lists that take no
// scans of paper (cameras, frame grabbers) are not kept. deviceAdded and deviceRemoved tell of
// each change, in the order SANE lists the devices.
//
// Main thread only; the listing runs on the ScannerService's worker.
#pragma once

#include "Platform/Kit/Scheduler.h"
#include "Platform/Scanner/ScannerService.h"

#include <QList>
#include <functional>
#include <memory>

class KPScanner {
public:
    static constexpr int kPollMs = 5000;

    // Over the process's service unless one is given (tests).
    explicit KPScanner(platform::ScannerService* service = nullptr);
    ~KPScanner();
    KPScanner(const KPScanner&) = delete;
    KPScanner& operator=(const KPScanner&) = delete;

    void searchDevice();
    bool isSearching() const { return m_browsing; }
    const QList<platform::ScannerDevice>& devices() const { return m_devices; }

    std::function<void(const platform::ScannerDevice&)> deviceAdded;
    std::function<void(const platform::ScannerDevice&)> deviceRemoved;

    // What one listing found: devices not kept yet are added (scanners only), kept devices no
    // longer listed are removed. A listing that failed changes nothing.
    void deviceBrowserDidList(const QList<platform::ScannerDevice>& listed);
    // Whether the device takes scans of paper, by the type SANE gives it.
    static bool isScanner(const platform::ScannerDevice& device);

private:
    void list();

    platform::ScannerService* m_service;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    QList<platform::ScannerDevice> m_devices;
    platform::kit::Token m_poll;
    bool m_browsing = false;
    bool m_listing = false;
};
