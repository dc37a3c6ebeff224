// Scanners over SANE: the device list, one open device with the options a scan panel offers
// (source, mode, resolution, scan area), and scans of one page or a feeder batch, each page
// handed back as an image and, when a folder is given, as a PNG written there.
//
// SANE backends are not reentrant, so one worker thread of the process makes every SANE call:
// sane_init on first use, sane_exit at shutdown(). Requests queue on it in order; results and
// "ScannerIsProgress" (YES when a scan starts; NO when it ends, fails or is cancelled) come back
// on the main thread. cancel() only raises a flag; the worker answers it between reads with
// sane_cancel. A listing blocks the worker for as long as the backends take (network backends
// can take seconds), which is why nothing waits for it on the main thread.
//
// Threads: the public calls are made on the main thread; callbacks run there. Callbacks of a
// request whose caller went away are dropped through the guard the caller passes.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QImage>
#include <QList>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <memory>

namespace platform {

struct ScannerDevice {
    QString name;    // what sane_open takes, e.g. "test:0"
    QString vendor;
    QString model;
    QString type;
};

struct ScannerOptions {
    QStringList sources;
    QStringList modes;
    QList<double> resolutions;      // the listed values, or the two ends of a range
    bool resolutionIsRange = false;
    QRectF maximumArea;             // the bed in the scanner's units (its area options', mostly mm); empty without geometry
};

struct ScanSettings {
    QString source;                 // empty: the device's current one
    QString mode;
    double resolution = 0;          // dpi; 0: the device's current one
    QRectF area;                    // in the units of maximumArea; empty: the area the scanner has now
    QVariantMap extraOptions;       // further options by SANE name (bool, number or text)
    // Scans until the feeder is empty instead of one page.
    bool batch = false;
};

class ScannerService {
public:
    static inline const QString ScannerIsProgressNotification = QStringLiteral("ScannerIsProgress");
    static constexpr double kOverviewResolution = 75;

    // The process's service, made on first use.
    static ScannerService& shared();
    // Cancels a running scan, closes the device, calls sane_exit and ends the worker (waited
    // for). At quit, in the shut-down order; later requests fail. Nothing when it was never used.
    static void shutdownShared();

    ScannerService();
    ~ScannerService();
    ScannerService(const ScannerService&) = delete;
    ScannerService& operator=(const ScannerService&) = delete;

    using Guard = std::weak_ptr<void>;

    void listDevices(Guard guard, std::function<void(Result<QList<ScannerDevice>>)> done);
    // Closes the device open before, if any.
    void openDevice(const QString& name, Guard guard, std::function<void(Result<ScannerOptions>)> done);
    void closeDevice();

    // onPage gets each page (and the PNG's path when folder is not empty); onEnd the number of
    // pages, or why the scan stopped. A cancelled scan ends with code kCancelled.
    static constexpr int kCancelled = 30;
    void scan(const ScanSettings& settings, const QString& folder, Guard guard,
              std::function<void(const QImage& page, const QString& path)> onPage,
              std::function<void(Result<int>)> onEnd);
    void cancel();
    bool isScanning() const;

    void shutdown();

private:
    struct Worker;
    std::unique_ptr<Worker> m_worker;
};

} // namespace platform
