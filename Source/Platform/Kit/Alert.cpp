#include "Platform/Kit/Alert.h"

#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/Sheet.h"

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace platform::kit {

namespace {

Alert::Presenter& presenter()
{
    static Alert::Presenter instance;
    return instance;
}

constexpr int kAlertWidth = 420;

// The alert's face: icon, texts and buttons, the default button rightmost and the other button
// apart on the left. It answers once.
class AlertView : public QWidget {
public:
    AlertView(const Alert& alert, std::function<void(int)> onAnswer)
        : m_answer(std::move(onAnswer))
        , m_escape(alert.escapeReturnCode())
    {
        auto* outer = new QVBoxLayout(this);
        outer->setContentsMargins(20, 16, 20, 16);
        outer->setSpacing(14);

        auto* top = new QHBoxLayout;
        top->setSpacing(16);
        auto* icon = new QLabel(this);
        const QStyle::StandardPixmap which = alert.style() == Alert::Style::Critical ? QStyle::SP_MessageBoxCritical
            : alert.style() == Alert::Style::Informational                    ? QStyle::SP_MessageBoxInformation
                                                                               : QStyle::SP_MessageBoxWarning;
        icon->setPixmap(style()->standardIcon(which).pixmap(48, 48));
        icon->setAlignment(Qt::AlignTop);
        top->addWidget(icon, 0, Qt::AlignTop);

        auto* texts = new QVBoxLayout;
        texts->setSpacing(6);
        auto* message = new QLabel(alert.messageText(), this);
        QFont bold = message->font();
        bold.setBold(true);
        message->setFont(bold);
        message->setWordWrap(true);
        message->setTextFormat(Qt::PlainText);
        texts->addWidget(message);
        if (!alert.informativeText().isEmpty()) {
            auto* informative = new QLabel(alert.informativeText(), this);
            informative->setWordWrap(true);
            informative->setTextFormat(Qt::PlainText);
            texts->addWidget(informative);
        }
        top->addLayout(texts, 1);
        outer->addLayout(top);

        auto* row = new QHBoxLayout;
        row->setSpacing(10);
        QPushButton* byCode[3] = {nullptr, nullptr, nullptr};   // other, alternate, default
        for (const Alert::Button& b : alert.buttons()) {
            auto* button = new QPushButton(b.title, this);
            button->setAutoDefault(false);   // Return is ours, whichever button has focus
            button->setDefault(b.returnCode == Alert::kDefaultReturn);   // for its look
            const int code = b.returnCode;
            QObject::connect(button, &QPushButton::clicked, this, [this, code] { answer(code); });
            byCode[code + 1] = button;
        }
        if (byCode[0])
            row->addWidget(byCode[0]);
        row->addStretch(1);
        if (byCode[1])
            row->addWidget(byCode[1]);
        row->addWidget(byCode[2]);
        outer->addLayout(row);
        m_default = byCode[2];
        setFocusProxy(m_default);
    }

    QSize sizeHint() const override
    {
        const int height = layout()->hasHeightForWidth() ? layout()->heightForWidth(kAlertWidth) : layout()->sizeHint().height();
        return QSize(kAlertWidth, height);
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            event->accept();
            m_default->click();
            return;
        case Qt::Key_Escape:
            event->accept();   // also when there is no Cancel button: Esc must not close the dialog
            if (m_escape)
                answer(*m_escape);
            return;
        default:
            QWidget::keyPressEvent(event);
        }
    }

private:
    void answer(int code)
    {
        if (!m_answer)
            return;
        auto answer = std::move(m_answer);
        m_answer = nullptr;
        answer(code);
    }

    std::function<void(int)> m_answer;
    std::optional<int> m_escape;
    QPushButton* m_default = nullptr;
};

// Closing the dialog by the window manager answers the cancel code; a button answers its own.
class AlertDialog : public QDialog {
public:
    AlertDialog(QWidget* parent, const Alert& alert, Alert::Completion completion)
        : QDialog(parent)
        , m_completion(std::move(completion))
        , m_cancelCode(alert.cancelReturnCode())
    {
        setAttribute(Qt::WA_DeleteOnClose);
        setWindowModality(Qt::WindowModal);
        setWindowFlag(Qt::WindowContextHelpButtonHint, false);
        setWindowTitle(QString());
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSizeConstraint(QLayout::SetFixedSize);
        layout->addWidget(new AlertView(alert, [this](int code) { finishWith(code, true); }));
    }

    ~AlertDialog() override { finishWith(m_cancelCode, false); }

    // Esc never comes here (the view takes it); the window manager's close request does.
    void reject() override { finishWith(m_cancelCode, true); }
    void answer(int code) { finishWith(code, true); }

private:
    void finishWith(int code, bool dispose)
    {
        if (!m_completion)
            return;
        auto completion = std::move(m_completion);
        m_completion = nullptr;
        const QPointer<AlertDialog> self(this);
        completion(code);
        if (self && dispose) {
            hide();
            deleteLater();
        }
    }

    Alert::Completion m_completion;
    int m_cancelCode;
};

} // namespace

Alert Alert::withMessage(const QString& message, const QString& defaultButton, const QString& alternateButton,
                         const QString& otherButton, const QString& informativeText)
{
    Alert alert;
    alert.setMessageText(message);
    alert.setInformativeText(informativeText);
    alert.addButton(defaultButton.isEmpty() ? localizedString(QStringLiteral("OK")) : defaultButton);
    if (!alternateButton.isEmpty())
        alert.addButton(alternateButton);
    // The other button keeps its code even without an alternate one beside it.
    if (!otherButton.isEmpty())
        alert.m_buttons.append({otherButton, kOtherReturn});
    return alert;
}

bool Alert::addButton(const QString& title)
{
    if (m_buttons.size() >= kMaxButtons || (!m_buttons.isEmpty() && m_buttons.last().returnCode == kOtherReturn))
        return false;
    m_buttons.append({title, kDefaultReturn - int(m_buttons.size())});
    return true;
}

QList<Alert::Button> Alert::buttons() const
{
    if (m_buttons.isEmpty())
        return {{localizedString(QStringLiteral("OK")), kDefaultReturn}};
    return m_buttons;
}

QStringList Alert::buttonTitles() const
{
    QStringList titles;
    for (const Button& b : buttons())
        titles.append(b.title);
    return titles;
}

std::optional<int> Alert::returnCodeForTitle(const QString& title) const
{
    for (const Button& b : buttons()) {
        if (b.title == title)
            return b.returnCode;
    }
    return std::nullopt;
}

std::optional<int> Alert::escapeReturnCode() const
{
    return returnCodeForTitle(localizedString(QStringLiteral("Cancel")));
}

int Alert::cancelReturnCode() const
{
    return escapeReturnCode().value_or(Sheet::kCancelCode);
}

void Alert::setPresenterForTesting(Presenter p)
{
    presenter() = std::move(p);
}

bool Alert::answeredByPresenter(const Completion& completion) const
{
    if (!presenter())
        return false;
    const int code = presenter()(*this);
    QMetaObject::invokeMethod(
        qApp, [completion, code] {
            if (completion)
                completion(code);
        },
        Qt::QueuedConnection);
    return true;
}

void Alert::beginSheet(QWidget* window, Completion completion) const
{
    if (answeredByPresenter(completion) || !window)
        return;
    auto sheetRef = std::make_shared<QPointer<Sheet>>();
    auto* view = new AlertView(*this, [sheetRef](int code) {
        if (*sheetRef)
            (*sheetRef)->end(code);
    });
    // Owned by its own completion: it goes once it has answered (or its window went away).
    auto* sheet = new Sheet(view);
    *sheetRef = sheet;
    sheet->setCancelCode(cancelReturnCode());
    if (m_closer) {
        *m_closer = [sheetRef](int code) {
            if (*sheetRef)
                (*sheetRef)->end(code);
        };
    }
    sheet->begin(window, [sheet, closer = m_closer, completion = std::move(completion)](int code) {
        sheet->deleteLater();
        if (closer)
            *closer = nullptr;
        if (completion)
            completion(code);
    });
}

QDialog* Alert::open(QWidget* parent, Completion completion) const
{
    if (answeredByPresenter(completion))
        return nullptr;
    auto* dialog = new AlertDialog(parent ? parent->window() : nullptr, *this,
                                   [closer = m_closer, completion = std::move(completion)](int code) {
                                       if (closer)
                                           *closer = nullptr;
                                       if (completion)
                                           completion(code);
                                   });
    if (m_closer) {
        *m_closer = [dialog = QPointer<AlertDialog>(dialog)](int code) {
            if (dialog)
                dialog->answer(code);
        };
    }
    dialog->open();
    return dialog;
}

} // namespace platform::kit
