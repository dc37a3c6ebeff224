// Named commands for menu items and buttons: an item or button names the command it sends,
// and whichever part of the window answers that name now runs it, so the item needs to know
// nothing of the view that handles it. Handlers register under a command name and are held by the returned
// token; the most recent live registration of a name answers, so a focused view can take over
// a command from the window that registered it first and give it back by dropping its token.
//
// The Kit links no program library and so cannot log; a command that nobody answers (a menu
// item or button sending a name no live handler took) is reported through the unanswered hook,
// which the program points at its logger.
//
// The sender of a command chosen from a menu item or a tagged button is a QVariant holding a
// MenuSender: the item's tag and the data it carries (makeSender). Handlers read it with
// senderTag/senderData, which also take a plain number as a tag, so a caller that only knows a
// tag may send just that.
#pragma once

#include <QString>
#include <QVariant>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class QAction;

namespace platform::kit {

struct MenuSender {
    int tag = 0;
    QVariant data;
    friend bool operator==(const MenuSender&, const MenuSender&) = default;
};

QVariant makeSender(int tag, const QVariant& data = {});
// The tag of a MenuSender, or the number a plain numeric sender holds; 0 otherwise.
int senderTag(const QVariant& sender);
// The data of a MenuSender; invalid for any other sender.
QVariant senderData(const QVariant& sender);

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
    // Performs the command the action was built with (MenuModel), with the action's tag and data
    // as sender. An action without a command performs nothing and answers false.
    bool performFromAction(const QAction* action);

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

Q_DECLARE_METATYPE(platform::kit::MenuSender)
