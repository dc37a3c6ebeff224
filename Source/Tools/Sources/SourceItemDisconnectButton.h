// The small image button of a connected source row: "btn_Connected" normally, "btn_Disconnect"
// while the pointer is over it (entering counts only while the application is active), and a
// press sends its action. Without the bundle images it draws its state as a text button, so it
// stays usable. Space and Return press it when it has the keyboard focus.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>

class SourceItemDisconnectButton : public QWidget {
public:
    using Action = std::function<void(SourceItemDisconnectButton* sender)>;

    explicit SourceItemDisconnectButton(const QRect& frame = {}, QWidget* parent = nullptr);

    // The target and action of the row, as one callable.
    void setAction(Action action) { m_action = std::move(action); }
    bool isMouseIn() const { return m_bMouseIn; }
    const QImage& normalImage() const { return m_normalImage; }
    const QImage& mouseOverImage() const { return m_mouseOverImage; }

    QSize sizeHint() const override;

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void send();

    QImage m_normalImage;
    QImage m_mouseOverImage;
    bool m_bMouseIn = false;
    Action m_action;
};
