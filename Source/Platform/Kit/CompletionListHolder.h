// The holder of the one open auto-completion list that the application's event rules watch: a
// press anywhere but on that list posts "AutoCompletedWindowResign". The application object is
// the holder; a view that opens or closes a list reaches it through application() without
// knowing the application's class.
//
// Main thread only.
#pragma once

class QWidget;

namespace platform::kit {

class CompletionListHolder {
public:
    virtual ~CompletionListHolder() = default;

    // The open auto-completion list (a window or an in-window widget), or null; not owned.
    virtual QWidget* autoCompletedWindow() const = 0;
    virtual void setAutoCompletedWindow(QWidget* window) = 0;

    // The running application when it holds the list, else null (an application object of
    // another class, or none).
    static CompletionListHolder* application();
};

} // namespace platform::kit
