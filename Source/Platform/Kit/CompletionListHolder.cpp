#include "Platform/Kit/CompletionListHolder.h"

#include <QCoreApplication>

namespace platform::kit {

CompletionListHolder* CompletionListHolder::application()
{
    return dynamic_cast<CompletionListHolder*>(QCoreApplication::instance());
}

} // namespace platform::kit
