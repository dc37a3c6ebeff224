#include "Platform/Kit/RecordingDialogService.h"

#include "Platform/Kit/Sheet.h"
#include "Platform/Kit/WindowCloseWatcher.h"

#include <QWidget>

namespace platform::kit {

namespace {

template <typename T>
std::optional<T> takeFront(std::deque<T>& queue)
{
    if (queue.empty())
        return std::nullopt;
    T front = std::move(queue.front());
    queue.pop_front();
    return front;
}

// What delivers an answer: completion called with value, if there is a completion.
template <typename Completion, typename Value>
std::function<void()> calling(Completion completion, Value value)
{
    return [completion = std::move(completion), value = std::move(value)] {
        if (completion)
            completion(value);
    };
}

} // namespace

RecordingDialogService::RecordingDialogService()
    : m_previous(DialogService::install(this))
{
}

RecordingDialogService::~RecordingDialogService()
{
    // Only when still the shared one: a test may have installed another meanwhile.
    if (&DialogService::shared() == this)
        DialogService::install(m_previous);
}

void RecordingDialogService::scriptAlert(int returnCode) { m_alerts.emplace_back(returnCode); }
void RecordingDialogService::scriptAlert(const QString& buttonTitle) { m_alerts.emplace_back(buttonTitle); }
void RecordingDialogService::scriptSheet(int returnCode) { m_sheets.emplace_back(returnCode); }
void RecordingDialogService::scriptSheetShown() { m_sheets.emplace_back(SheetShown{}); }
void RecordingDialogService::scriptOpenPanel(const QStringList& paths) { m_openPanels.push_back(paths); }
void RecordingDialogService::scriptSavePanel(const QString& path) { m_savePanels.push_back(path); }
void RecordingDialogService::scriptModalWindow(bool keepOpen) { m_modalKeepOpen.push_back(keepOpen); }

QList<RecordingDialogService::Request> RecordingDialogService::requests(Kind kind) const
{
    QList<Request> result;
    for (const Request& r : m_requests) {
        if (r.kind == kind)
            result.append(r);
    }
    return result;
}

RecordingDialogService::Request RecordingDialogService::last(Kind kind) const
{
    const QList<Request> all = requests(kind);
    return all.isEmpty() ? Request{} : all.last();
}

int RecordingDialogService::record(Request request)
{
    request.serial = ++m_nextSerial;
    m_requests.append(std::move(request));
    return m_nextSerial;
}

RecordingDialogService::Request* RecordingDialogService::find(int serial)
{
    // The record may have been cleared meanwhile.
    for (Request& r : m_requests) {
        if (r.serial == serial)
            return &r;
    }
    return nullptr;
}

void RecordingDialogService::later(int serial, std::function<void()> deliver)
{
    QMetaObject::invokeMethod(
        &m_pending,
        [this, serial, deliver = std::move(deliver)] {
            if (Request* r = find(serial))
                r->answered = true;
            deliver();
        },
        Qt::QueuedConnection);
}

void RecordingDialogService::alert(QWidget* window, const Alert& alert, Alert::Completion completion)
{
    Request r;
    r.kind = Kind::Alert;
    r.window = window;
    r.messageText = alert.messageText();
    r.informativeText = alert.informativeText();
    r.buttons = alert.buttonTitles();
    r.returnCode = alert.cancelReturnCode();
    if (const auto script = takeFront(m_alerts)) {
        if (const int* code = std::get_if<int>(&*script)) {
            r.scripted = true;
            r.returnCode = *code;
        } else if (const auto byTitle = alert.returnCodeForTitle(std::get<QString>(*script))) {
            r.scripted = true;
            r.returnCode = *byTitle;
        }
    }
    const int code = r.returnCode;
    later(record(std::move(r)), calling(std::move(completion), code));
}

void RecordingDialogService::beginSheet(QWidget* window, Sheet& sheet, std::function<void(int)> completion)
{
    Request r;
    r.kind = Kind::Sheet;
    r.window = window;
    r.sheet = &sheet;
    r.returnCode = sheet.cancelCode();
    const auto script = takeFront(m_sheets);
    if (script && std::holds_alternative<SheetShown>(*script)) {
        r.scripted = true;
        const int serial = record(std::move(r));
        const QPointer<QObject> alive(&m_pending);
        sheet.begin(window, [this, alive, serial, completion = std::move(completion)](int code) {
            if (Request* r = alive ? find(serial) : nullptr) {
                r->answered = true;
                r->returnCode = code;
            }
            if (completion)
                completion(code);
        });
        return;
    }
    if (script) {
        r.scripted = true;
        r.returnCode = std::get<int>(*script);
    }
    const int code = r.returnCode;
    later(record(std::move(r)), calling(std::move(completion), code));
}

void RecordingDialogService::openPanel(QWidget* window, const OpenPanelOptions& options,
                                       std::function<void(const QStringList& paths)> completion)
{
    Request r;
    r.kind = Kind::OpenPanel;
    r.window = window;
    r.openOptions = options;
    if (auto script = takeFront(m_openPanels)) {
        r.scripted = true;
        r.paths = std::move(*script);
    }
    const QStringList paths = r.paths;
    later(record(std::move(r)), calling(std::move(completion), paths));
}

void RecordingDialogService::savePanel(QWidget* window, const SavePanelOptions& options,
                                       std::function<void(const QString& path)> completion)
{
    Request r;
    r.kind = Kind::SavePanel;
    r.window = window;
    r.saveOptions = options;
    if (auto script = takeFront(m_savePanels)) {
        r.scripted = true;
        if (!script->isEmpty())
            r.paths = QStringList{*script};
    }
    const QString path = r.paths.value(0);
    later(record(std::move(r)), calling(std::move(completion), path));
}

void RecordingDialogService::runModalWindow(QWidget* window, QWidget* parent, std::function<void()> closed)
{
    Request r;
    r.kind = Kind::ModalWindow;
    r.window = parent;
    r.shown = window;
    const auto keepOpen = takeFront(m_modalKeepOpen);
    r.scripted = keepOpen.has_value();
    const int serial = record(std::move(r));
    const QPointer<QObject> alive(&m_pending);
    whenWindowCloses(window, [this, alive, serial, closed = std::move(closed)] {
        if (Request* r = alive ? find(serial) : nullptr)
            r->answered = true;
        if (closed)
            closed();
    });
    if (!window)
        return;
    window->show();
    if (!keepOpen.value_or(false)) {
        const QPointer<QWidget> guarded(window);
        QMetaObject::invokeMethod(
            &m_pending,
            [guarded] {
                if (guarded)
                    guarded->close();
            },
            Qt::QueuedConnection);
    }
}

} // namespace platform::kit
