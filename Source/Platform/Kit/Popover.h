// A popover: a content widget in a rounded frame whose arrow points at an anchor (a widget and
// a rectangle in it), standing at a preferred edge of the anchor and flipped to the other side
// when it does not fit. It answers through callbacks and the closed() signal, never through a
// nested event loop.
//
// Two forms, chosen by the caller with one rule: Popup unless the content needs keyboard focus
// in a field, then Overlay.
// - Popup: a frameless Qt::Popup window kept inside the available geometry of the anchor's
//   screen, shaped to its body and arrow. It closes on a click outside it, on Esc and when the
//   application is deactivated.
// - Overlay: the same look as a child of the anchor's top-level window and kept inside it, so
//   focus, input methods and a completion list (a second popup) work while it stays open. It
//   closes on an Esc that its content leaves unhandled (an editor that takes Esc keeps it
//   open), on "MonitorResignWindowResign" (a press outside any popover, posted by the
//   application's event rules) and when its window hides or goes away.
// Both carry the popover marker (PopoverMarker.h), fade in on the Scheduler's animation clock
// (at once under an instant AnimationPolicy), and report closed() exactly once per showing,
// also when the anchor or the window is destroyed while it is open. Destroying a shown
// Popover takes it away without closed(): its owner is going.
//
// Ownership: the Popover owns its content widget; while the popover has been shown in a window
// the frame holding the content is a child of that window, so a window that goes away takes
// the content with it. Threads: main thread only.
#pragma once

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/PopoverGeometry.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <functional>

class QVariantAnimation;

namespace platform::kit {

class PopoverFrame;

class Popover : public QObject {
    Q_OBJECT
public:
    enum class Form { Popup, Overlay };

    // Fade-in time of an animated showing.
    static constexpr int kFadeInMs = 150;

    explicit Popover(Form form, QObject* parent = nullptr);
    ~Popover() override;

    Form form() const { return m_form; }

    // Takes ownership of content; a previous content widget is deleted.
    void setContentWidget(QWidget* content);
    QWidget* contentWidget() const { return m_content; }
    // The content's size (default: its size hint). A shown popover is re-placed at once.
    void setContentSize(const QSize& size);
    QSize contentSize() const;
    void setAnimates(bool animates) { m_animates = animates; }
    bool animates() const { return m_animates; }
    // Whether showing gives keyboard focus to the content's first focusable widget (default
    // yes); a suggestion list under a field that keeps typing says no.
    void setFocusesContent(bool focuses) { m_focusesContent = focuses; }
    // Whether an overlay popover moves with its anchor while open (default no: it stays where
    // it opened); a list under a field that widens as it is used says yes.
    void setFollowsAnchor(bool follows) { m_followsAnchor = follows; }
    // Called on closing, before closed() is emitted.
    void setOnClosed(std::function<void()> onClosed) { m_onClosed = std::move(onClosed); }

    // anchorRect is in anchor's coordinates; an empty one means the anchor's whole rectangle.
    // Showing a shown popover again moves it to the new anchor.
    void show(QWidget* anchor, const QRect& anchorRect, PopoverEdge preferredEdge);
    void close();
    bool isShown() const { return m_shown; }

    // The edge the popover stands at after placement (the preferred one, or flipped).
    PopoverEdge edge() const { return m_placement.edge; }
    // The window (Popup) or in-window widget (Overlay) that holds the content.
    QWidget* frameWidget() const;
    // The anchor's top-level while shown.
    QWidget* anchorWindow() const { return m_shown ? m_window.data() : nullptr; }

    // A popup that the content opens (a completion list): marked as part of the popover, and
    // hidden when the popover closes.
    void addCompletionPopup(QWidget* popup);

    // The popover whose content holds widget (the widget or one of its ancestors), or null.
    static Popover* owning(const QWidget* widget);

Q_SIGNALS:
    void closed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class PopoverFrame;

    void place();
    void finish();
    void startFadeIn();
    void focusContent();

    const Form m_form;
    QPointer<PopoverFrame> m_frame;
    QPointer<QWidget> m_content;
    QSize m_contentSize;
    bool m_animates = true;
    bool m_focusesContent = true;
    bool m_followsAnchor = false;
    std::function<void()> m_onClosed;

    bool m_shown = false;
    QPointer<QWidget> m_anchor;
    QRect m_anchorRect;
    PopoverEdge m_preferred = PopoverEdge::MinY;
    PopoverPlacement m_placement;
    QPointer<QWidget> m_window;
    QWidget* m_attachedWindow = nullptr;   // compared only; it may be in destruction
    QPointer<QWidget> m_previousFocus;
    QList<QPointer<QWidget>> m_completionPopups;
    QPointer<QVariantAnimation> m_fade;
    QMetaObject::Connection m_anchorGone;
    QMetaObject::Connection m_appState;
    ObserverToken m_resignObserver;
};

} // namespace platform::kit
