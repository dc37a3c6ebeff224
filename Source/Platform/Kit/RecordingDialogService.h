// The dialog service of tests: it records every request in order, shows nothing it need not
// show, and answers each request from a script, on the next pass of the event loop as a real
// answer would arrive. Made, it becomes the shared service; destroyed, it puts back the one
// it replaced and drops the answers not yet delivered.
//
// Scripts are queues, one per kind of request, taken from the front:
// - alert: a return code or a button title (a title the alert lacks answers its cancel code);
// - sheet: a return code, or "shown": the sheet is begun on its window for the test to drive;
// - open panel: the paths; save panel: the path (empty answers a cancel);
// - modal window: the window is always shown (without modality, so other windows stay
//   usable) and either closed on the next pass or kept open for the test to close.
// A request without a script is answered as cancelled (an alert's cancel code, a sheet's
// cancel code, empty paths, a modal window closed), and its record says so.
//
// Threads: main thread only.
#pragma once

#include "Platform/Kit/DialogService.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <deque>
#include <variant>

namespace platform::kit {

class RecordingDialogService final : public DialogService {
public:
    enum class Kind { Alert, Sheet, OpenPanel, SavePanel, ModalWindow };

    struct Request {
        Kind kind = Kind::Alert;
        // Counts every request since the service was made (clearRecord does not reset it).
        int serial = 0;
        // The window asked for; for a modal window, its parent.
        QPointer<QWidget> window;
        // Alerts.
        QString messageText;
        QString informativeText;
        QStringList buttons;
        // Sheets.
        QPointer<platform::kit::Sheet> sheet;
        // Panels.
        OpenPanelOptions openOptions;
        SavePanelOptions saveOptions;
        // Modal windows: the window shown.
        QPointer<QWidget> shown;

        // The answer chosen when the request came: from the script, or cancelled for want of one.
        bool scripted = false;
        int returnCode = 0;
        QStringList paths;
        // Its completion has run (for a modal window: closed has run).
        bool answered = false;
    };

    RecordingDialogService();
    ~RecordingDialogService() override;

    // ---- the script ----
    void scriptAlert(int returnCode);
    void scriptAlert(const QString& buttonTitle);
    void scriptSheet(int returnCode);
    void scriptSheetShown();
    void scriptOpenPanel(const QStringList& paths);
    void scriptSavePanel(const QString& path);
    // keepOpen: the window stays shown until the test closes it.
    void scriptModalWindow(bool keepOpen);

    // ---- the record ----
    const QList<Request>& requests() const { return m_requests; }
    QList<Request> requests(Kind kind) const;
    // The last request of kind; a default Request (window null) when there was none.
    Request last(Kind kind) const;
    qsizetype count(Kind kind) const { return requests(kind).size(); }
    void clearRecord() { m_requests.clear(); }

    void alert(QWidget* window, const Alert& alert, Alert::Completion completion) override;
    void beginSheet(QWidget* window, Sheet& sheet, std::function<void(int)> completion) override;
    void openPanel(QWidget* window, const OpenPanelOptions& options,
                   std::function<void(const QStringList& paths)> completion) override;
    void savePanel(QWidget* window, const SavePanelOptions& options,
                   std::function<void(const QString& path)> completion) override;
    void runModalWindow(QWidget* window, QWidget* parent, std::function<void()> closed = {}) override;

private:
    struct SheetShown {};
    using AlertScript = std::variant<int, QString>;
    using SheetScript = std::variant<int, SheetShown>;

    // Answers the serial of the recorded request.
    int record(Request request);
    // Runs deliver on the next pass unless this service has gone, then marks the request answered.
    void later(int serial, std::function<void()> deliver);
    // The request still in the record with serial, or null.
    Request* find(int serial);

    QList<Request> m_requests;
    std::deque<AlertScript> m_alerts;
    std::deque<SheetScript> m_sheets;
    std::deque<QStringList> m_openPanels;
    std::deque<QString> m_savePanels;
    std::deque<bool> m_modalKeepOpen;
    DialogService* m_previous = nullptr;
    int m_nextSerial = 0;
    // The context of the deliveries still pending: they go with it.
    QObject m_pending;
};

} // namespace platform::kit
