// A sheet: a content widget shown inside a top-level window, hanging from a line the window
// chooses, over a scrim that swallows every click and key meant for the window's content
// below that line; the caller learns the outcome through a completion with a return code.
//
// - Placement: the window supplies a position callback (setPositionCallback). It is given the
//   proposed rectangle, the window's top edge (0, 0, width, 0) in window coordinates, and
//   answers the rectangle to hang from: the sheet's top is at its bottom edge, centred on it
//   horizontally and kept inside the window. Without a callback the sheet hangs from the top.
//   The scrim covers the window below that line, so a title bar above it stays usable.
// - One sheet per window at a time: begin() on a window that shows a sheet queues the new one
//   until the earlier ones have ended, in order.
// - While a sheet is shown, the window refuses to close (its close request is ignored), and
//   only the sheet's own shortcuts act: the window's actions (menu commands) wait for it.
// - Every begun sheet completes exactly once: through end(), or with its cancel code when its
//   window is destroyed (while shown or still queued). That completion runs while the window
//   is being destroyed: it must not use the window, and the window takes the shown sheet's
//   content with it. Destroying the Sheet itself takes it away
//   without a completion (its owner is going) and lets the next queued sheet in.
// - The sheet slides in on the Scheduler's animation clock (at once under an instant
//   AnimationPolicy); keyboard focus moves into it and returns to where it was when it ends;
//   Tab stays inside it. Return presses its default button and Esc its Cancel button (a
//   button box's reject button, else one titled Cancel), unless the focused field takes them.
//
// Ownership: the Sheet owns its content; while shown the content sits in the window. The Sheet
// object belongs to its caller (a parent or a smart pointer). Threads: main thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <functional>

namespace platform::kit {

class SheetHost;
class SheetPanel;

class Sheet : public QObject {
    Q_OBJECT
public:
    using Completion = std::function<void(int returnCode)>;
    using PositionCallback = std::function<QRect(const QRect& proposed)>;

    // The code of a sheet whose window went away (the platform's "cancel" response).
    static constexpr int kCancelCode = 0;
    static constexpr int kSlideInMs = 200;

    // Takes ownership of content.
    explicit Sheet(QWidget* content, QObject* parent = nullptr);
    ~Sheet() override;

    QWidget* content() const { return m_content; }
    void setCancelCode(int code) { m_cancelCode = code; }
    int cancelCode() const { return m_cancelCode; }
    void setAnimates(bool animates) { m_animates = animates; }

    // Shows the sheet on window's top-level, at once or after the sheets queued before it. A
    // sheet already begun, or a null window, is ignored.
    void begin(QWidget* window, Completion completion);
    // Ends a begun sheet, shown or still queued, and calls its completion with returnCode.
    void end(int returnCode);

    bool isBegun() const { return m_state != State::Idle; }
    bool isShown() const { return m_state == State::Shown; }
    QWidget* window() const { return m_window; }
    // The widget that holds the content while shown.
    QWidget* panel() const;

    // How window places its sheets (null: hang from the top edge).
    static void setPositionCallback(QWidget* window, PositionCallback callback);
    // The sheet window shows now, if any.
    static Sheet* shownSheet(const QWidget* window);

Q_SIGNALS:
    // After the completion has run.
    void ended(int returnCode);

private:
    friend class SheetHost;
    enum class State { Idle, Queued, Shown };

    void present(SheetHost* host);
    // Takes the sheet out of its window; restoreFocus gives focus back to where it was.
    void dismiss(bool restoreFocus);
    // The window is being destroyed and takes the sheet's widgets (the content too) with it.
    void forget();
    void complete(int returnCode);

    QPointer<QWidget> m_content;
    int m_cancelCode = kCancelCode;
    bool m_animates = true;
    State m_state = State::Idle;
    QPointer<QWidget> m_window;
    QWidget* m_attachedWindow = nullptr;   // compared only; it may be in destruction
    Completion m_completion;
    QPointer<QWidget> m_scrim;
    QPointer<SheetPanel> m_panel;
    QPointer<QWidget> m_previousFocus;
};

} // namespace platform::kit
