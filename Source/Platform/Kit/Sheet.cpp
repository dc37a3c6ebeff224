#include "Platform/Kit/Sheet.h"

#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/AnimationPolicy.h"
#include "Platform/Kit/PopoverMarker.h"
#include "Platform/Kit/WindowAttachments.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QPropertyAnimation>
#include <QVBoxLayout>
#include <algorithm>
#include <deque>

namespace platform::kit {

namespace {
const QString kHostName = QStringLiteral("platform::kit::SheetHost");
} // namespace

// The white card that holds the content. Tab and Backtab cycle inside it.
class SheetPanel : public QWidget {
public:
    explicit SheetPanel(QWidget* parent)
        : QWidget(parent)
    {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(1, 0, 1, 1);
        setFocusPolicy(Qt::NoFocus);
    }

    void setContent(QWidget* content)
    {
        content->setParent(this);
        static_cast<QVBoxLayout*>(layout())->addWidget(content);
        content->show();
    }

    QWidget* firstFocusable() const
    {
        const QList<QWidget*> all = focusables();
        return all.isEmpty() ? nullptr : all.first();
    }

protected:
    // The keys every sheet answers, as a dialog does: Return presses the default button and Esc
    // the Cancel button, whatever the field with the focus leaves alone. Without them a keyboard
    // cannot leave a sheet.
    void keyPressEvent(QKeyEvent* event) override
    {
        const bool plain = !(event->modifiers() & ~Qt::KeypadModifier);
        QPushButton* button = nullptr;
        if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter))
            button = firstButton([](const QPushButton* b) { return b->isDefault(); });
        else if (plain && event->key() == Qt::Key_Escape)
            button = firstButton(isCancelButton);
        if (!button) {
            QWidget::keyPressEvent(event);
            return;
        }
        event->accept();
        button->click();
    }

    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().window());
        painter.setPen(QColor(0, 0, 0, 90));
        painter.drawLine(0, 0, 0, height() - 1);
        painter.drawLine(width() - 1, 0, width() - 1, height() - 1);
        painter.drawLine(0, height() - 1, width() - 1, height() - 1);
    }

    bool focusNextPrevChild(bool next) override
    {
        const QList<QWidget*> all = focusables();
        if (all.isEmpty())
            return true;
        const int at = int(all.indexOf(QApplication::focusWidget()));
        const int count = int(all.size());
        const int to = at < 0 ? 0 : (at + (next ? 1 : count - 1)) % count;
        all.at(to)->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return true;
    }

private:
    static bool isCancelButton(const QPushButton* button)
    {
        if (const auto* box = qobject_cast<const QDialogButtonBox*>(button->parentWidget()))
            return box->buttonRole(const_cast<QPushButton*>(button)) == QDialogButtonBox::RejectRole;
        const QString title = button->text().remove(QLatin1Char('&'));
        return title == QStringLiteral("Cancel") || title == localizedString(QStringLiteral("Cancel"));
    }

    template <typename Test>
    QPushButton* firstButton(Test test) const
    {
        for (QPushButton* b : findChildren<QPushButton*>()) {
            if (b->isVisibleTo(this) && b->isEnabled() && test(b))
                return b;
        }
        return nullptr;
    }

    QList<QWidget*> focusables() const
    {
        QList<QWidget*> result;
        for (QWidget* w = nextInFocusChain(); w && w != this; w = w->nextInFocusChain()) {
            if (isAncestorOf(w) && w->isVisibleTo(this) && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus))
                result.append(w);
        }
        return result;
    }
};

namespace {

// Covers the window below the sheet's line and swallows the pointer there.
class SheetScrim : public QWidget {
public:
    explicit SheetScrim(QWidget* parent)
        : QWidget(parent)
    {
        setAcceptDrops(true);   // and refuses every drag, so none reaches the content below
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter(this).fillRect(rect(), QColor(0, 0, 0, 36));
    }
    void mousePressEvent(QMouseEvent* e) override { e->accept(); }
    void mouseReleaseEvent(QMouseEvent* e) override { e->accept(); }
    void mouseDoubleClickEvent(QMouseEvent* e) override { e->accept(); }
    void mouseMoveEvent(QMouseEvent* e) override { e->accept(); }
    void wheelEvent(QWheelEvent* e) override { e->accept(); }
    void contextMenuEvent(QContextMenuEvent* e) override { e->accept(); }
    void dragEnterEvent(QDragEnterEvent* e) override { e->ignore(); }
};

} // namespace

// One per window that has had a sheet or a position callback: the queue, the placement, and the
// refusal to close. A child of the window, so it goes when the window goes.
class SheetHost : public QObject {
public:
    explicit SheetHost(QWidget* window)
        : QObject(window)
        , m_window(window)
    {
        setObjectName(kHostName);
        window->installEventFilter(this);
    }

    ~SheetHost() override
    {
        // The window is being destroyed: what is shown or queued ends with its cancel code.
        qApp->removeEventFilter(this);
        std::deque<QPointer<Sheet>> all = std::move(m_queue);
        m_queue.clear();
        all.push_front(std::exchange(m_shown, nullptr));
        for (const QPointer<Sheet>& sheet : all) {
            if (!sheet)
                continue;
            sheet->forget();
            sheet->complete(sheet->m_cancelCode);
        }
    }

    static SheetHost* of(const QWidget* window)
    {
        if (!window)
            return nullptr;
        for (QObject* child : window->children()) {
            if (child->objectName() == kHostName) {
                if (auto* host = dynamic_cast<SheetHost*>(child))
                    return host;
            }
        }
        return nullptr;
    }

    static SheetHost* ensure(QWidget* window)
    {
        SheetHost* host = of(window);
        return host ? host : new SheetHost(window);
    }

    QWidget* window() const { return m_window; }
    Sheet* shown() const { return m_shown; }

    void setPosition(Sheet::PositionCallback position)
    {
        m_position = std::move(position);
        layout();
    }

    void enqueue(Sheet* sheet)
    {
        if (m_shown || !m_queue.empty()) {
            m_queue.push_back(sheet);
            return;
        }
        show(sheet);
    }

    void remove(Sheet* sheet)
    {
        std::erase_if(m_queue, [sheet](const QPointer<Sheet>& s) { return !s || s == sheet; });
        if (m_shown == sheet) {
            m_shown = nullptr;
            qApp->removeEventFilter(this);
        }
    }

    void showNext()
    {
        while (!m_shown && !m_queue.empty()) {
            QPointer<Sheet> next = m_queue.front();
            m_queue.pop_front();
            if (next)
                show(next);
        }
    }

    // The scrim below the line the window chose, the panel centred on it (a sliding panel
    // keeps sliding, towards the new place).
    void layout()
    {
        if (!m_shown || !m_shown->m_scrim || !m_shown->m_panel)
            return;
        QWidget* scrim = m_shown->m_scrim;
        SheetPanel* panel = m_shown->m_panel;
        const QRect proposed(0, 0, m_window->width(), 0);
        const QRect hang = m_position ? m_position(proposed) : proposed;
        const int top = std::clamp(hang.y() + hang.height(), 0, m_window->height());
        scrim->setGeometry(0, top, m_window->width(), m_window->height() - top);
        const QSize size = panel->sizeHint().boundedTo(scrim->size());
        const int x = std::clamp(hang.x() + (hang.width() - size.width()) / 2, 0, std::max(0, scrim->width() - size.width()));
        m_panelRest = QRect(QPoint(x, 0), size);
        if (m_slide && m_slide->state() == QAbstractAnimation::Running) {
            panel->resize(size);
            m_slide->setEndValue(m_panelRest.topLeft());
        } else {
            panel->setGeometry(m_panelRest);
        }
    }

    QRect panelRest() const { return m_panelRest; }
    void setSlide(QPropertyAnimation* slide) { m_slide = slide; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_window) {
            switch (event->type()) {
            case QEvent::Close:
                if (m_shown) {
                    event->ignore();
                    return true;
                }
                break;
            case QEvent::Resize:
                layout();
                break;
            default:
                break;
            }
            return false;
        }
        if (m_shown && m_shown->m_panel && watched == m_shown->m_panel.data() && event->type() == QEvent::LayoutRequest) {
            layout();
            return false;
        }
        if (m_shown && isKeyEvent(event->type()) && watched->isWidgetType()) {
            auto* target = static_cast<QWidget*>(watched);
            if (target->window() == m_window && !inSheet(target))
                return true;
        }
        // The window's own menu bar lies above the sheet, out of the scrim's reach: its commands
        // would act on what the sheet is asking about, as a shortcut would.
        if (m_shown && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)
            && qobject_cast<QMenuBar*>(watched) && static_cast<QWidget*>(watched)->window() == m_window) {
            QApplication::beep();
            return true;
        }
        // Shortcuts bypass key events: the window's actions (the menu commands) would act on
        // what the sheet is asking about.
        if (m_shown && event->type() == QEvent::Shortcut && shortcutsGoToWindow())
            return !std::ranges::any_of(shortcutOwners(watched), [this](QWidget* w) { return inSheet(w); });
        return false;
    }

private:
    // A popover opened from the sheet's content is part of the sheet too.
    bool inSheet(QWidget* target) const
    {
        QWidget* panel = m_shown ? m_shown->m_panel.data() : nullptr;
        return (panel && (panel == target || panel->isAncestorOf(target))) || isInsidePopover(target);
    }

    bool shortcutsGoToWindow() const
    {
        QWidget* active = QApplication::activeWindow();
        if (!active && QApplication::focusWidget())
            active = QApplication::focusWidget()->window();
        return active == m_window;
    }

    // The widgets a shortcut event acts for: the widget itself, an action's widgets, a
    // shortcut object's widget.
    static QList<QWidget*> shortcutOwners(QObject* receiver)
    {
        QList<QWidget*> owners;
        if (receiver->isWidgetType()) {
            owners.append(static_cast<QWidget*>(receiver));
        } else if (auto* action = qobject_cast<QAction*>(receiver)) {
            for (QObject* object : action->associatedObjects())
                if (object->isWidgetType())
                    owners.append(static_cast<QWidget*>(object));
        } else if (receiver->parent() && receiver->parent()->isWidgetType()) {
            owners.append(static_cast<QWidget*>(receiver->parent()));
        }
        return owners;
    }

    static bool isKeyEvent(QEvent::Type type)
    {
        return type == QEvent::KeyPress || type == QEvent::KeyRelease;
    }

    void show(Sheet* sheet)
    {
        m_shown = sheet;
        // Keys meant for the content below the sheet are swallowed while it is shown.
        qApp->installEventFilter(this);
        sheet->present(this);
    }

    QWidget* m_window;
    Sheet::PositionCallback m_position;
    QPointer<Sheet> m_shown;
    std::deque<QPointer<Sheet>> m_queue;
    QRect m_panelRest;
    QPointer<QPropertyAnimation> m_slide;
};

Sheet::Sheet(QWidget* content, QObject* parent)
    : QObject(parent)
    , m_content(content)
{
    if (m_content) {
        m_content->hide();
        m_content->setParent(nullptr);
    }
}

Sheet::~Sheet()
{
    if (SheetHost* host = SheetHost::of(m_window)) {
        const bool wasShown = m_state == State::Shown;
        host->remove(this);
        if (wasShown) {
            dismiss(true);
            host->showNext();
        }
    } else {
        WindowAttachments::shared().detach(std::exchange(m_attachedWindow, nullptr));
    }
    if (m_content)
        m_content->deleteLater();   // not now: this may run inside a handler of the content
}

QWidget* Sheet::panel() const
{
    return m_panel;
}

void Sheet::setPositionCallback(QWidget* window, PositionCallback callback)
{
    if (window)
        SheetHost::ensure(window->window())->setPosition(std::move(callback));
}

Sheet* Sheet::shownSheet(const QWidget* window)
{
    const SheetHost* host = window ? SheetHost::of(window->window()) : nullptr;
    return host ? host->shown() : nullptr;
}

void Sheet::begin(QWidget* window, Completion completion)
{
    if (!window || !m_content || m_state != State::Idle)
        return;
    m_window = window->window();
    m_completion = std::move(completion);
    m_state = State::Queued;
    SheetHost::ensure(m_window)->enqueue(this);
}

void Sheet::present(SheetHost* host)
{
    m_state = State::Shown;
    QWidget* window = host->window();
    m_previousFocus = window->focusWidget();
    auto* scrim = new SheetScrim(window);
    auto* panel = new SheetPanel(scrim);
    m_scrim = scrim;
    m_panel = panel;
    panel->setContent(m_content);
    panel->installEventFilter(host);
    m_attachedWindow = window;
    WindowAttachments::shared().attach(window);

    host->layout();
    scrim->show();
    scrim->raise();
    if (m_animates && AnimationPolicy::current().animates()) {
        const QRect rest = host->panelRest();
        auto* slide = new QPropertyAnimation(panel, "pos", panel);
        slide->setDuration(kSlideInMs);
        slide->setStartValue(QPoint(rest.x(), -rest.height()));
        slide->setEndValue(rest.topLeft());
        slide->setEasingCurve(QEasingCurve::OutCubic);
        panel->move(rest.x(), -rest.height());
        host->setSlide(slide);
        slide->start(QAbstractAnimation::DeleteWhenStopped);
    }
    if (QWidget* first = panel->firstFocusable())
        first->setFocus(Qt::OtherFocusReason);
    else
        panel->setFocus(Qt::OtherFocusReason);
}

void Sheet::dismiss(bool restoreFocus)
{
    if (m_content) {
        m_content->hide();
        m_content->setParent(nullptr);
    }
    if (m_scrim) {
        m_scrim->hide();
        m_scrim->deleteLater();
    }
    m_scrim = nullptr;
    m_panel = nullptr;
    WindowAttachments::shared().detach(std::exchange(m_attachedWindow, nullptr));
    if (restoreFocus && m_previousFocus)
        m_previousFocus->setFocus(Qt::OtherFocusReason);
    m_previousFocus = nullptr;
    m_state = State::Idle;
}

void Sheet::forget()
{
    m_scrim = nullptr;
    m_panel = nullptr;
    m_previousFocus = nullptr;
    WindowAttachments::shared().detach(std::exchange(m_attachedWindow, nullptr));
    m_state = State::Idle;
}

void Sheet::end(int returnCode)
{
    if (m_state == State::Idle)
        return;
    const QPointer<SheetHost> host = SheetHost::of(m_window);
    const bool wasShown = m_state == State::Shown;
    if (host)
        host->remove(this);
    if (wasShown)
        dismiss(true);
    m_state = State::Idle;
    complete(returnCode);
    if (host)
        host->showNext();
}

void Sheet::complete(int returnCode)
{
    m_state = State::Idle;
    m_window = nullptr;
    auto completion = std::move(m_completion);
    m_completion = nullptr;
    const QPointer<Sheet> self(this);
    if (completion)
        completion(returnCode);
    if (self)
        Q_EMIT ended(returnCode);
}

} // namespace platform::kit
