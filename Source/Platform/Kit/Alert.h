// An alert: a message, an informative text and up to three buttons with the program's return
// codes (default 1, alternate 0, other −1). It is shown as a Sheet on a window, or as a
// window-modal dialog opened with open(); either way the answer comes through a completion,
// never a nested event loop. Return presses the default button; Esc presses the button titled
// with the localised "Cancel", if there is one, and does nothing otherwise.
//
// Tests answer alerts by script: with a presenter set, nothing is shown; the presenter sees the
// alert and its answer reaches the completion on the next pass of the event loop, as a real
// answer would. Threads: main thread only.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class QDialog;
class QWidget;

namespace platform::kit {

class Alert {
public:
    static constexpr int kDefaultReturn = 1;
    static constexpr int kAlternateReturn = 0;
    static constexpr int kOtherReturn = -1;
    static constexpr int kMaxButtons = 3;

    enum class Style { Warning, Informational, Critical };
    struct Button {
        QString title;
        int returnCode;
    };
    using Completion = std::function<void(int returnCode)>;
    using Presenter = std::function<int(const Alert&)>;

    Alert() = default;
    // The classic form. An empty default title means the localised "OK"; an empty alternate or
    // other title means no such button.
    static Alert withMessage(const QString& message, const QString& defaultButton,
                             const QString& alternateButton = {}, const QString& otherButton = {},
                             const QString& informativeText = {});

    void setMessageText(const QString& text) { m_message = text; }
    QString messageText() const { return m_message; }
    void setInformativeText(const QString& text) { m_informative = text; }
    QString informativeText() const { return m_informative; }
    void setStyle(Style style) { m_style = style; }
    Style style() const { return m_style; }

    // The next button: default (1), then alternate (0), then other (−1). A fourth is refused.
    bool addButton(const QString& title);
    // The buttons as shown: those added, or the localised "OK" alone when none was.
    QList<Button> buttons() const;
    QStringList buttonTitles() const;
    std::optional<int> returnCodeForTitle(const QString& title) const;
    // What Esc answers: the code of the button titled with the localised "Cancel".
    std::optional<int> escapeReturnCode() const;
    // What an alert answers when its window goes away without a button being pressed.
    int cancelReturnCode() const;

    // As a sheet on window's top-level (queued behind a sheet already shown there).
    void beginSheet(QWidget* window, Completion completion) const;
    // As a window-modal dialog over parent's window; the dialog deletes itself when answered.
    // Null when a presenter answers instead.
    QDialog* open(QWidget* parent, Completion completion) const;

    // Empty: show alerts again.
    static void setPresenterForTesting(Presenter presenter);

    // While the alert is shown, calling the function closer holds answers it with that code, as
    // if its button had been pressed: for a question whose reason went away while it was up.
    // Outside that time the function is empty.
    using Closer = std::shared_ptr<std::function<void(int returnCode)>>;
    void setCloser(Closer closer) { m_closer = std::move(closer); }

private:
    bool answeredByPresenter(const Completion& completion) const;

    QString m_message;
    QString m_informative;
    Style m_style = Style::Warning;
    QList<Button> m_buttons;
    Closer m_closer;
};

} // namespace platform::kit
