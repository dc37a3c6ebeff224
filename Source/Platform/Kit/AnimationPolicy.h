// Whether the interface animates: panes sliding, sheets and popovers moving in. Animated by
// default; tests that do not care about animation install an instant policy and see every
// change at once, without advancing a clock. Animations that do run go on the Scheduler's
// clock (Qt's animation driver), so tests that do care drive them in virtual time.
//
// Threads: main thread only.
#pragma once

#include <QByteArray>
#include <QEasingCurve>
#include <QVariant>

class QObject;
class QPropertyAnimation;

namespace platform::kit {

class AnimationPolicy {
public:
    enum class Mode { Animated, Instant };

    explicit AnimationPolicy(Mode mode = Mode::Animated) : m_mode(mode) {}

    // The installed policy, else the process-wide animated one.
    static AnimationPolicy& current();
    // Makes policy current (null: back to the animated one); answers the one it replaces.
    static AnimationPolicy* install(AnimationPolicy* policy);

    Mode mode() const { return m_mode; }
    void setMode(Mode mode) { m_mode = mode; }
    bool animates() const { return m_mode == Mode::Animated; }
    // ms when animated (negative counts as 0); 0 when instant.
    int duration(int ms) const { return animates() && ms > 0 ? ms : 0; }

    // Moves target's property to end over ms: a running animation (deleted when it stops),
    // or, when instant or ms is 0, the value set at once and null.
    QPropertyAnimation* animate(QObject* target, const QByteArray& property, const QVariant& end, int ms,
                                const QEasingCurve& curve = QEasingCurve::OutCubic) const;

    // Installs policy for the scope and puts the previous one back.
    class Scope {
    public:
        explicit Scope(AnimationPolicy& policy) : m_previous(install(&policy)) {}
        ~Scope() { install(m_previous); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        AnimationPolicy* m_previous;
    };

private:
    Mode m_mode;
};

} // namespace platform::kit
