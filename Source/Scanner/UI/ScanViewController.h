// A scanner panel to lay over a view: a black view drawn 70 % opaque, holding a device list inset
// by kListInset points on every side (it follows the view's size) with a spinner turning in
// its middle, and a scanner browser of its own (a KPScanner) that keeps the scanners it finds.
//
// Main thread only.
#pragma once

#include "Platform/Scanner/ScannerService.h"

#include <QList>
#include <QPointer>
#include <memory>

class KPCoustomDrawBGView;
class KPScanner;
class QPainter;
class QProgressBar;
class QRectF;
class QWidget;

class ScanViewController {
public:
    static constexpr int kListInset = 20;
    static constexpr double kAlpha = 0.7;

    // Over the process's service unless one is given (tests). The view is made at once, as a
    // child of parent when given; without a parent the controller owns it.
    explicit ScanViewController(platform::ScannerService* service = nullptr, QWidget* parent = nullptr);
    ~ScanViewController();
    ScanViewController(const ScanViewController&) = delete;
    ScanViewController& operator=(const ScanViewController&) = delete;

    KPCoustomDrawBGView* view() const { return m_view.data(); }
    KPCoustomDrawBGView* deviceListView() const { return m_deviceList.data(); }
    QProgressBar* progressIndicator() const { return m_progress.data(); }
    const QList<platform::ScannerDevice>& devices() const;

    // A scanner became ready for use: the panel has nothing to do then.
    void scannerDeviceDidBecomeAvailable(const platform::ScannerDevice&) {}

private:
    void onDrawBG(KPCoustomDrawBGView* view, QPainter& painter, const QRectF& dirty);

    QPointer<KPCoustomDrawBGView> m_view;
    QPointer<KPCoustomDrawBGView> m_deviceList;
    QPointer<QProgressBar> m_progress;
    std::unique_ptr<KPScanner> m_browser;
};
