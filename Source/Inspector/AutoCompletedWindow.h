// The frame that shows an auto-completion list inside the owner's window: a white rounded
// panel, a child of the token field's top-level window placed under the caret and kept inside
// the window. It never takes the focus, so typing stays in the field.
// Main thread only.
#pragma once

#include <QPointF>
#include <QPointer>
#include <QWidget>

class AutoCompletedViewController;

class AutoCompletedWindow : public QWidget {
public:
    // The frame's size before the first placement.
    static constexpr QSize kInitialSize{144, 124};

    // Puts list's view into the frame; the list keeps owning its view and must outlive any
    // call of showAtCaret.
    explicit AutoCompletedWindow(AutoCompletedViewController* list);
    ~AutoCompletedWindow() override;

    // Sizes the frame to the list's viewSize plus 4 points each way, places its top-left one
    // point under caret (given in field's coordinates, at the bottom of the caret's line) and
    // shows it above everything else in field's window.
    void showAtCaret(QWidget* field, QPointF caret);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    AutoCompletedViewController* m_list;
    QPointer<QWidget> m_view;
};
