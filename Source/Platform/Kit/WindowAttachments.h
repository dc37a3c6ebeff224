// Which top-level windows own an open popover or sheet right now. A window's title bar counts
// such a window as "main" (its controls stay enabled while the user works in the popover or
// sheet), so it listens to changed().
//
// Threads: main thread only.
#pragma once

#include <QHash>
#include <QObject>

class QWidget;

namespace platform::kit {

class WindowAttachments : public QObject {
    Q_OBJECT
public:
    static WindowAttachments& shared();

    bool hasAttachment(const QWidget* window) const;

    // Popover and Sheet report here; every attach is matched by one detach.
    void attach(QWidget* window);
    void detach(QWidget* window);

Q_SIGNALS:
    void changed(QWidget* window);

private:
    WindowAttachments() = default;
    QHash<const QWidget*, int> m_counts;
};

} // namespace platform::kit
