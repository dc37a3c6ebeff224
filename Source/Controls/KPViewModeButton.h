// A fixed 56 x 23 view showing the top picture of the bundle image "KPViewModeButton.png",
// which holds four such pictures 25 pixels apart.
#pragma once

#include <QImage>
#include <QWidget>
#include <array>

class KPViewModeButton : public QWidget {
public:
    static constexpr int kWidth = 56;
    static constexpr int kHeight = 23;
    static constexpr int kPictureStride = 25;

    // Any size given is replaced by 56 x 23; the position is kept.
    explicit KPViewModeButton(const QRect& frame = {}, QWidget* parent = nullptr);

    const std::array<QImage, 4>& pictures() const { return m_buttonBGRef; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::array<QImage, 4> m_buttonBGRef;
};
