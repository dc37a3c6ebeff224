#include "Scanner/UI/ScanFromICWindowController.h"

#include "Scanner/KPScanArea.h"
#include "Scanner/UI/KPScanAreaView.h"

#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/StringHash.h"
#include "Platform/Kit/DialogService.h"
#include "Platform/Kit/Sheet.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

QString tr(const char* key)
{
    return platform::localizedString(QString::fromUtf8(key));
}

QString titleOf(const platform::ScannerDevice& d)
{
    const QString model = (d.vendor + u' ' + d.model).trimmed();
    return model.isEmpty() ? d.name : model + QStringLiteral(" (") + d.name + u')';
}

} // namespace

// The sheet's own watch on the keyboard: Escape pressed anywhere in the window that shows the
// sheet is the sheet's to answer, and goes no further; every other key and window passes on.
class ScanFromICWindowController::EscapeMonitor : public QObject {
public:
    explicit EscapeMonitor(ScanFromICWindowController& owner) : m_owner(owner) { qApp->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress || static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape)
            return false;
        auto* widget = qobject_cast<QWidget*>(watched);
        const platform::kit::Sheet& sheet = *m_owner.m_sheet;
        if (!widget || !sheet.isShown() || !sheet.window() || widget->window() != sheet.window()->window())
            return false;
        m_owner.escapePressed();
        return true;
    }

private:
    ScanFromICWindowController& m_owner;
};

ScanFromICWindowController::ScanFromICWindowController(platform::ScannerService* service)
    : m_service(service ? service : &platform::ScannerService::shared())
{
    // The folder's name keeps the bracket of the name it always had.
    const QString folder = QStringLiteral("%1/com.norlith.folivo2/ScanCache]/%2")
                               .arg(platform::Paths::applicationSupportDirectory(), platform::newUUIDString());
    if (!QDir().mkpath(folder) || !platform::Paths::ensurePrivateDirectory(folder))
        m_folderError = QStringLiteral("The folder for scanned pages could not be made: %1").arg(folder);
    else
        m_downloadFolder = folder + u'/';

    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("ScanFromICWindow"));
    content->setMinimumSize(560, 420);
    auto* layout = new QVBoxLayout(content);
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(tr("Scanner:"), content));
    m_popupDeviceButton = new QComboBox(content);
    m_popupDeviceButton->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    top->addWidget(m_popupDeviceButton, 1);
    layout->addLayout(top);

    m_stack = new QStackedWidget(content);
    auto* noDevice = new QLabel(tr("No scanner was found. Connect a scanner, or check that it is switched on."), m_stack);
    noDevice->setAlignment(Qt::AlignCenter);
    noDevice->setWordWrap(true);
    auto* searching = new QLabel(tr("Looking for scanners…"), m_stack);
    searching->setAlignment(Qt::AlignCenter);
    auto* panel = new QWidget(m_stack);
    auto* panelLayout = new QHBoxLayout(panel);
    m_tiles = new QListWidget(panel);
    m_tiles->setFixedWidth(220);
    m_tiles->setWordWrap(true);
    m_tiles->setTextElideMode(Qt::ElideNone);
    panelLayout->addWidget(m_tiles);
    auto* options = new QVBoxLayout;
    auto* form = new QFormLayout;
    m_source = new QComboBox(panel);
    m_mode = new QComboBox(panel);
    m_resolution = new QComboBox(panel);
    form->addRow(tr("Source:"), m_source);
    form->addRow(tr("Mode:"), m_mode);
    form->addRow(tr("Resolution:"), m_resolution);
    options->addLayout(form);
    m_overview = new KPScanAreaView(panel);
    m_overview->setToolTip(tr("Drag over the overview to scan only that area."));
    options->addWidget(m_overview, 1);
    panelLayout->addLayout(options, 1);
    m_stack->addWidget(searching);
    m_stack->addWidget(noDevice);
    m_stack->addWidget(panel);
    layout->addWidget(m_stack, 1);

    m_status = new QLabel(content);
    m_status->setWordWrap(true);
    layout->addWidget(m_status);
    auto* buttons = new QHBoxLayout;
    m_btnOverview = new QPushButton(tr("Overview"), content);
    m_btnScan = new QPushButton(tr("Scan"), content);
    m_btnCancelScan = new QPushButton(tr("Cancel Scan"), content);
    m_btnCancelScan->hide();
    m_btnDone = new QPushButton(tr("Done"), content);
    buttons->addWidget(m_btnOverview);
    buttons->addStretch();
    buttons->addWidget(m_btnCancelScan);
    buttons->addWidget(m_btnScan);
    buttons->addWidget(m_btnDone);
    layout->addLayout(buttons);
    m_btnScan->setEnabled(false);
    m_btnOverview->setEnabled(false);
    m_popupDeviceButton->setEnabled(false);

    QObject::connect(m_btnDone, &QPushButton::clicked, content, [this] { btnDoneClick(); });
    QObject::connect(m_btnScan, &QPushButton::clicked, content, [this] { btnScanClick(); });
    QObject::connect(m_btnOverview, &QPushButton::clicked, content, [this] { btnOverviewClick(); });
    QObject::connect(m_btnCancelScan, &QPushButton::clicked, content, [this] { cancelScan(); });
    QObject::connect(m_popupDeviceButton, &QComboBox::activated, content, [this](int index) {
        m_tiles->setCurrentRow(index);
        openSelected();
    });
    QObject::connect(m_tiles, &QListWidget::currentRowChanged, content, [this](int row) {
        if (row >= 0 && row != m_popupDeviceButton->currentIndex()) {
            m_popupDeviceButton->setCurrentIndex(row);
            openSelected();
        }
    });
    m_sheet = std::make_unique<platform::kit::Sheet>(content);
    if (!m_folderError.isEmpty())
        m_status->setText(m_folderError);
}

ScanFromICWindowController::~ScanFromICWindowController()
{
    m_escapeMonitor.reset();
    cancelScan();
    if (!m_openDevice.isEmpty())
        m_service->closeDevice();
    // The pages were handed over already (the window reads them at once); the cache goes.
    if (!m_downloadFolder.isEmpty())
        QDir(m_downloadFolder).removeRecursively();
}

QWidget* ScanFromICWindowController::content() const
{
    return m_sheet->content();
}

bool ScanFromICWindowController::isShowingNoDevice() const
{
    return m_stack->currentIndex() == 1;
}

void ScanFromICWindowController::beginSheet(QWidget* window, std::function<void(int)> done)
{
    m_done = std::move(done);
    platform::kit::DialogService::shared().beginSheet(window, *m_sheet, [this, alive = std::weak_ptr<int>(m_alive)](int code) {
        if (alive.expired())
            return;
        m_noDeviceTimer.cancel();
        m_pollTimer.cancel();
        m_escapeMonitor.reset();
        if (auto done = std::move(m_done))
            done(code);
    });
    if (m_sheet->isBegun())
        m_escapeMonitor = std::make_unique<EscapeMonitor>(*this);
    auto& scheduler = platform::kit::Scheduler::current();
    m_noDeviceTimer = scheduler.after(kNoDeviceDelayMs, [this] {
        if (m_devices.isEmpty())
            m_stack->setCurrentIndex(1);
    });
    m_pollTimer = scheduler.every(kPollMs, [this] {
        if (m_openDevice.isEmpty() || m_devices.isEmpty())
            refreshDevices();
    });
    refreshDevices();
}

void ScanFromICWindowController::refreshDevices()
{
    if (m_listing || m_scanning)
        return;
    m_listing = true;
    m_service->listDevices(m_alive, [this](platform::Result<QList<platform::ScannerDevice>> list) {
        m_listing = false;
        if (!list) {
            m_status->setText(list.error().message);
            KPLogLogDomainMessage(QStringLiteral("Scanner"), 0, list.error().message);
            devicesChanged({});
            return;
        }
        devicesChanged(*list);
    });
}

void ScanFromICWindowController::devicesChanged(const QList<platform::ScannerDevice>& list)
{
    QList<ScannerViewItem> items;
    for (const auto& device : list)
        items.append({device});
    bool same = items.size() == m_devices.size();
    for (int i = 0; same && i < items.size(); ++i)
        same = items[i].device.name == m_devices[i].device.name;
    if (same)
        return;
    // Tiles are laid out afresh, so a removed scanner leaves no gap.
    m_devices = items;
    m_popupDeviceButton->clear();
    m_tiles->clear();
    for (const auto& item : m_devices) {
        m_popupDeviceButton->addItem(titleOf(item.device));
        auto* tile = new QListWidgetItem(titleOf(item.device), m_tiles);
        tile->setSizeHint(QSize(0, kTileHeight));
    }
    const bool stillThere = std::any_of(m_devices.begin(), m_devices.end(),
                                        [&](const ScannerViewItem& i) { return i.device.name == m_openDevice; });
    if (!stillThere && !m_openDevice.isEmpty()) {
        m_service->closeDevice();
        m_openDevice.clear();
    }
    m_popupDeviceButton->setEnabled(!m_devices.isEmpty());
    if (m_devices.isEmpty()) {
        if (!m_noDeviceTimer.isActive())
            m_stack->setCurrentIndex(1);
        m_btnScan->setEnabled(false);
        m_btnOverview->setEnabled(false);
        return;
    }
    m_stack->setCurrentIndex(2);
    if (m_openDevice.isEmpty()) {
        m_popupDeviceButton->setCurrentIndex(0);
        m_tiles->setCurrentRow(0);
        openSelected();
    }
}

void ScanFromICWindowController::openSelected()
{
    const int index = m_popupDeviceButton->currentIndex();
    if (index < 0 || index >= m_devices.size() || m_scanning)
        return;
    const QString name = m_devices[index].device.name;
    if (name == m_openDevice)
        return;
    m_openDevice = name;
    m_btnScan->setEnabled(false);
    m_btnOverview->setEnabled(false);
    m_service->openDevice(name, m_alive, [this, name](platform::Result<platform::ScannerOptions> options) {
        if (name != m_openDevice)
            return;
        if (!options) {
            m_status->setText(options.error().message);
            m_openDevice.clear();
            return;
        }
        KPLogLogDomainMessage(QStringLiteral("Scanner"), 0, QStringLiteral("%1 is open").arg(name));
        m_bed = options->maximumArea;
        m_overview->setOverview({});
        m_source->clear();
        m_source->addItems(options->sources);
        m_mode->clear();
        m_mode->addItems(options->modes);
        m_resolution->clear();
        QList<double> values = options->resolutions;
        if (options->resolutionIsRange && values.size() == 2) {
            QList<double> offered;
            for (double dpi : {75.0, 150.0, 200.0, 300.0, 600.0})
                if (dpi >= values[0] && dpi <= values[1])
                    offered.append(dpi);
            values = offered.isEmpty() ? QList<double>{values[0]} : offered;
        }
        for (double dpi : values)
            m_resolution->addItem(QStringLiteral("%1 dpi").arg(dpi), dpi);
        const int preferred = m_resolution->findData(300.0);
        if (preferred >= 0)
            m_resolution->setCurrentIndex(preferred);
        const int colour = m_mode->findText(QStringLiteral("Color"));
        if (colour >= 0)
            m_mode->setCurrentIndex(colour);
        m_btnScan->setEnabled(m_folderError.isEmpty());
        m_btnOverview->setEnabled(true);
        m_status->clear();
    });
}

platform::ScanSettings ScanFromICWindowController::settings() const
{
    platform::ScanSettings s;
    s.source = m_source->currentText();
    s.mode = m_mode->currentText();
    s.resolution = m_resolution->currentData().toDouble();
    // Always named, whole bed included: the scanner keeps the last area it was given.
    s.area = KPScanArea::deviceArea(m_overview->selection(), m_bed);
    s.extraOptions = m_extraOptions;
    s.batch = s.source.contains(QStringLiteral("Feeder"), Qt::CaseInsensitive)
              || s.source.contains(QStringLiteral("ADF"), Qt::CaseInsensitive);
    return s;
}

void ScanFromICWindowController::setScanning(bool scanning)
{
    m_scanning = scanning;
    m_btnCancelScan->setVisible(scanning);
    m_btnCancelScan->setEnabled(scanning);
    m_btnDone->setEnabled(!scanning);
    m_popupDeviceButton->setEnabled(!scanning && !m_devices.isEmpty());
    m_tiles->setEnabled(!scanning);
    m_btnScan->setEnabled(!scanning && m_folderError.isEmpty() && !m_openDevice.isEmpty());
    m_btnOverview->setEnabled(!scanning && !m_openDevice.isEmpty());
}

void ScanFromICWindowController::btnScanClick()
{
    if (m_scanning || m_openDevice.isEmpty())
        return;
    if (!m_folderError.isEmpty()) {
        m_status->setText(m_folderError);
        return;
    }
    m_scanCancelled = false;
    setScanning(true);
    m_status->setText(tr("Scanning…"));
    m_service->scan(settings(), m_downloadFolder.chopped(1), m_alive,
                    [this](const QImage&, const QString& path) {
                        // A page read whole just before the cancel reached the scanner still
                        // comes; the user stopped the scan, so it is not theirs.
                        if (m_scanCancelled) {
                            QFile::remove(path);
                            return;
                        }
                        if (didScanToURL)
                            didScanToURL(1, path);
                    },
                    [this](platform::Result<int> pages) {
                        setScanning(false);
                        if (m_scanCancelled
                            || (!pages && pages.error().code == platform::ScannerService::kCancelled))
                            m_status->setText(tr("The scan was cancelled."));
                        else if (pages)
                            m_status->clear();
                        else
                            m_status->setText(pages.error().message);
                        KPLogLogDomainMessage(QStringLiteral("Scanner"), 0,
                                              pages ? QStringLiteral("The scan ended with %1 pages").arg(*pages)
                                                    : QStringLiteral("The scan ended: %1").arg(pages.error().message));
                    });
}

void ScanFromICWindowController::btnOverviewClick()
{
    if (m_scanning || m_openDevice.isEmpty())
        return;
    m_scanCancelled = false;
    setScanning(true);
    platform::ScanSettings s = settings();
    s.resolution = platform::ScannerService::kOverviewResolution;
    s.area = m_bed;
    s.batch = false;
    m_service->scan(s, QString(), m_alive,
                    [this](const QImage& image, const QString&) {
                        if (!m_scanCancelled)
                            m_overview->setOverview(image);
                    },
                    [this](platform::Result<int> pages) {
                        setScanning(false);
                        if (m_scanCancelled)
                            m_status->setText(tr("The scan was cancelled."));
                        else if (!pages)
                            m_status->setText(pages.error().message);
                    });
}

void ScanFromICWindowController::btnDoneClick()
{
    if (m_scanning)
        return;
    if (m_sheet->isBegun())
        m_sheet->end(1);
}

void ScanFromICWindowController::cancelScan()
{
    if (!m_scanning || m_scanCancelled)
        return;
    m_scanCancelled = true;
    m_service->cancel();
    m_btnCancelScan->setEnabled(false);
    m_status->setText(tr("Stopping the scan…"));
}

void ScanFromICWindowController::escapePressed()
{
    // Once a scanner's panel is shown the user is at work in it: Escape does nothing there.
    if (isShowingDeviceView() || !m_sheet->isShown())
        return;
    m_sheet->end(0);
}
