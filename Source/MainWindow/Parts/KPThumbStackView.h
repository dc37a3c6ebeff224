// The little stack of previews that drops in over the grid when files are dropped on the tag
// icon: up to three cards of 120 × 160 with a white border, the second turned +15°, the third
// −15°, falling from above the view to near its bottom in 0.6, 0.7 and 0.8 s while shrinking
// from 1.6 times their size.
//
// The previews are made off the main thread; the cards appear once they are. The motion runs
// on Qt's animations, which the Kit's virtual scheduler drives in tests.
//
// Threads: main thread only, except the preview provider, which runs on a worker.
#pragma once

#include <QImage>
#include <QList>
#include <QRectF>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>

class QVariantAnimation;

class KPThumbStackView : public QWidget {
public:
    using PreviewProvider = std::function<QImage(const QString& path, const QSize& box)>;

    static constexpr int kMaxCards = 3;
    static constexpr int kPreviewSide = 256;
    static constexpr QSize kCardSize{120, 160};
    static constexpr int kCardSpread = 40;
    static constexpr int kStartAbove = 100;
    // Where a card's centre comes to rest, from the bottom.
    static constexpr int kRestFromBottom = 100;
    static constexpr double kTurnDegrees = 15.0;
    static constexpr int kFirstMoveMs = 600;
    static constexpr int kMoveStepMs = 100;
    static constexpr int kScaleMs = 250;
    static constexpr double kStartScale = 1.6;

    // Empty provider: ContentPreview's.
    KPThumbStackView(const QStringList& filePaths, const QRect& frame, QWidget* parent = nullptr,
                     PreviewProvider provider = {});
    ~KPThumbStackView() override;

    const QStringList& filePaths() const { return m_filePaths; }
    // The card's rectangle before it falls (y-down, in this view).
    QRectF layerRectByIndex(int index) const;

    // ---- what is shown (for tests) ----
    int cardCount() const { return int(m_cards.size()); }
    double rotationOf(int index) const;
    QRectF cardRect(int index) const;
    // The cards in painting order, by index.
    QList<int> paintOrder() const { return m_order; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Card {
        QImage image;
        double rotation = 0;
        QRectF start;
        double centreY = 0;
        double scale = kStartScale;
    };
    void showCards(const QList<QImage>& images);

    QStringList m_filePaths;
    QList<Card> m_cards;
    QList<int> m_order;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
