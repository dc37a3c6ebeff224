// The two-finger swipe of the document grid: the touches of a gesture are recorded when it
// begins and compared when it ends. The movement is the sum of the touches' horizontal moves in
// normalised device positions (0 … 1 across the touch surface); a gesture of two or more
// touches whose sum reaches 0.3 either way is a swipe.
#pragma once

#include <QHash>
#include <optional>

class KPSwipeTracker {
public:
    static constexpr float kThreshold = 0.3f;

    // Touch identity → normalised x. Replaces what an earlier gesture left.
    void begin(const QHash<int, float>& touches) { m_recorded = touches; }
    // A touch that joined after the gesture began, at its first position.
    void record(int id, float x)
    {
        if (!m_recorded.contains(id))
            m_recorded.insert(id, x);
    }
    // The swipe direction (KPCollectionViewDelegate::kSwipeLeft or kSwipeRight) of the touches
    // now, or none; the recorded touches are discarded.
    std::optional<int> end(const QHash<int, float>& touches);
    bool isTracking() const { return !m_recorded.isEmpty(); }

private:
    QHash<int, float> m_recorded;
};
