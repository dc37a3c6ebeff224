#include "Platform/Kit/WindowAttachments.h"

#include <QWidget>

namespace platform::kit {

WindowAttachments& WindowAttachments::shared()
{
    static WindowAttachments instance;
    return instance;
}

bool WindowAttachments::hasAttachment(const QWidget* window) const
{
    return window && m_counts.value(window) > 0;
}

void WindowAttachments::attach(QWidget* window)
{
    if (!window)
        return;
    ++m_counts[window];
    Q_EMIT changed(window);
}

void WindowAttachments::detach(QWidget* window)
{
    if (!window)
        return;
    const auto it = m_counts.find(window);
    if (it == m_counts.end())
        return;
    if (--it.value() <= 0)
        m_counts.erase(it);
    Q_EMIT changed(window);
}

} // namespace platform::kit
