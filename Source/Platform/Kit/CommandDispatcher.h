// Named commands for menu items and buttons, the stand-in for target/action pairs sent along
// the responder chain. Handlers register under a command name and are held by the returned
// token; the most recent live registration of a name answers, so a focused view can take over
// a command from the window that registered it first and give it back by dropping its token.
//
// The Kit links no program library and so cannot log; a command that nobody answers (a menu
// item or button sending a name no live handler took) is reported through the unanswered hook,
// which the program points at its logger.
#pragma once

#include <QString>
#include <QVariant>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace platform::kit {

class CommandDispatcher {
public:
    using Handler = std::function<void(const QVariant& sender)>;
    using Validator = std::function<bool()>;
    using UnansweredHook = std::function<void(const QString& name)>;

    // Removes its registration when destroyed.
    class Token {
    public:
        Token() = default;
        explicit Token(std::shared_ptr<void> alive) : m_alive(std::move(alive)) {}
        void reset() { m_alive.reset(); }
        bool isActive() const { return bool(m_alive); }

    private:
        std::shared_ptr<void> m_alive;
    };

    static CommandDispatcher& shared();

    [[nodiscard]] Token add(const QString& name, Handler handler, Validator enabled = {});
    // Runs the answering handler; false when nobody answers or it is disabled.
    bool perform(const QString& name, const QVariant& sender = {});
    bool canPerform(const QString& name) const;

    // Called by perform with the name when no live registration answers it (a disabled
    // handler still answers). Empty: such commands pass silently.
    void setUnansweredHook(UnansweredHook hook) { m_unanswered = std::move(hook); }

private:
    struct Entry {
        std::weak_ptr<void> alive;
        Handler handler;
        Validator enabled;
    };
    const Entry* answering(const QString& name) const;

    std::map<QString, std::vector<Entry>> m_entries;
    UnansweredHook m_unanswered;
};

} // namespace platform::kit
