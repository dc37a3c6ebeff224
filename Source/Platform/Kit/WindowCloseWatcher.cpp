#include "Platform/Kit/WindowCloseWatcher.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>

namespace platform::kit {

namespace {

// Not a child of the window: a window's children go before it says it is destroyed.
class CloseWatcher : public QObject {
public:
    CloseWatcher(QWidget* window, std::function<void()> closed)
        : m_window(window)
        , m_closed(std::move(closed))
    {
        window->installEventFilter(this);
        connect(window, &QObject::destroyed, this, [this] { fire(); });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_window && event->type() == QEvent::Hide && !event->spontaneous())
            fire();
        return false;
    }

private:
    void fire()
    {
        if (!m_closed)
            return;
        auto closed = std::move(m_closed);
        m_closed = nullptr;
        if (m_window)
            m_window->removeEventFilter(this);
        deleteLater();
        closed();
    }

    QPointer<QWidget> m_window;
    std::function<void()> m_closed;
};

} // namespace

void whenWindowCloses(QWidget* window, std::function<void()> closed)
{
    if (!closed)
        return;
    if (!window) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(closed), Qt::QueuedConnection);
        return;
    }
    new CloseWatcher(window, std::move(closed));
}

} // namespace platform::kit
