#include "Utilities/QueueAdditions.h"

std::mutex& queueAdditionsLock()
{
    static std::mutex lock;
    return lock;
}
