#include "Inspector/AutoCompletedWindow.h"

#include "Inspector/AutoCompletedViewController.h"
#include "Platform/Kit/Canvas.h"

#include <QPainter>
#include <algorithm>

AutoCompletedWindow::AutoCompletedWindow(AutoCompletedViewController* list)
    : m_list(list)
{
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    resize(kInitialSize);
    if (list) {
        m_view = list->view();
        m_view->setParent(this);
    }
    hide();
}

AutoCompletedWindow::~AutoCompletedWindow()
{
    // The view is the list's: it must not go with the frame.
    if (m_view && m_view->parent() == this)
        m_view->setParent(nullptr);
}

void AutoCompletedWindow::showAtCaret(QWidget* field, QPointF caret)
{
    if (!field || !m_list)
        return;
    QWidget* window = field->window();
    if (parentWidget() != window)
        setParent(window);
    const QSize listSize = m_list->viewSize();
    const QSize frameSize = listSize + QSize(4, 4);
    QPoint at = field->mapTo(window, caret.toPoint()) + QPoint(0, 1);
    // Kept inside the window: a list near the right or bottom edge moves in, above the caret
    // when there is no room below it.
    if (at.y() + frameSize.height() > window->height())
        at.setY(std::max(0, field->mapTo(window, caret.toPoint()).y() - 21 - frameSize.height()));
    at.setX(std::clamp(at.x(), 0, std::max(0, window->width() - frameSize.width())));
    setGeometry(QRect(at, frameSize));
    m_list->updateViewSize(listSize);
    m_list->view()->show();
    show();
    raise();
}

void AutoCompletedWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    platform::kit::Canvas canvas(painter, height());
    canvas.fillPath(platform::kit::Canvas::roundRectPath(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 5),
                    QColor(255, 255, 255, 204));
    painter.setPen(QPen(QColor(0, 0, 0, 50), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
}
