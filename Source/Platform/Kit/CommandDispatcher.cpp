#include "Platform/Kit/CommandDispatcher.h"

#include "Platform/Foundation/VariantNumbers.h"
#include "Platform/Kit/MenuModel.h"

#include <cmath>
#include <limits>

namespace platform::kit {

QVariant makeSender(int tag, const QVariant& data)
{
    return QVariant::fromValue(MenuSender{tag, data});
}

int senderTag(const QVariant& sender)
{
    if (sender.metaType() == QMetaType::fromType<MenuSender>())
        return sender.value<MenuSender>().tag;
    // Texts are no tags, nor is a number that would have to be cut down to some other
    // item's tag.
    if (!isNumberType(sender.typeId()))
        return 0;
    const double value = sender.toDouble();
    if (value != std::trunc(value) || value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return 0;
    return int(value);
}

QVariant senderData(const QVariant& sender)
{
    if (sender.metaType() == QMetaType::fromType<MenuSender>())
        return sender.value<MenuSender>().data;
    return {};
}

CommandDispatcher& CommandDispatcher::shared()
{
    static CommandDispatcher instance;
    return instance;
}

CommandDispatcher::Token CommandDispatcher::add(const QString& name, Handler handler, Validator enabled)
{
    auto alive = std::make_shared<int>(0);
    auto& list = m_entries[name];
    std::erase_if(list, [](const Entry& e) { return e.alive.expired(); });
    list.push_back({alive, std::move(handler), std::move(enabled)});
    return Token(alive);
}

const CommandDispatcher::Entry* CommandDispatcher::answering(const QString& name) const
{
    const auto it = m_entries.find(name);
    if (it == m_entries.end())
        return nullptr;
    for (auto e = it->second.rbegin(); e != it->second.rend(); ++e) {
        if (!e->alive.expired())
            return &*e;
    }
    return nullptr;
}

bool CommandDispatcher::canPerform(const QString& name) const
{
    const Entry* e = answering(name);
    return e && e->handler && (!e->enabled || e->enabled());
}

bool CommandDispatcher::performFromAction(const QAction* action)
{
    const QString name = menuItemCommand(action);
    if (name.isEmpty())
        return false;
    return perform(name, makeSender(menuItemTag(action), menuItemData(action)));
}

bool CommandDispatcher::perform(const QString& name, const QVariant& sender)
{
    if (!answering(name)) {
        // A copy: the hook may replace itself.
        if (const UnansweredHook hook = m_unanswered)
            hook(name);
        return false;
    }
    if (!canPerform(name))
        return false;
    // A copy: the handler may register or drop commands while it runs.
    const Handler handler = answering(name)->handler;
    handler(sender);
    return true;
}

} // namespace platform::kit
