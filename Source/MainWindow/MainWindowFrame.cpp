#include "MainWindow/MainWindowFrame.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace mainwindowframe {

namespace {

// Far beyond any desktop; larger numbers are damage, not a frame.
constexpr double kLimit = 1.0e6;
// The part of the title bar that must show on some screen for the user to reach the window.
constexpr int kVisibleBarWidth = 100;
constexpr int kVisibleBarHeight = 20;
constexpr int kTitleBarHeight = 40;

bool barShowsOn(const QRect& frame, const QRect& screen)
{
    const QRect visible = QRect(frame.topLeft(), QSize(frame.width(), kTitleBarHeight)).intersected(screen);
    return visible.width() >= kVisibleBarWidth && visible.height() >= kVisibleBarHeight;
}

QRect centredOn(QSize size, const QRect& screen)
{
    QRect frame(QPoint(), size);
    frame.moveCenter(screen.center());
    // A window taller than the screen keeps its bar on it.
    if (frame.top() < screen.top())
        frame.moveTop(screen.top());
    if (frame.left() < screen.left())
        frame.moveLeft(screen.left());
    return frame;
}

} // namespace

std::optional<QRect> parse(const QString& text)
{
    static const QRegularExpression form(QStringLiteral(
        R"(^\s*\{\s*\{\s*([-+]?[0-9]+(?:\.[0-9]+)?)\s*,\s*([-+]?[0-9]+(?:\.[0-9]+)?)\s*\}\s*,)"
        R"(\s*\{\s*([-+]?[0-9]+(?:\.[0-9]+)?)\s*,\s*([-+]?[0-9]+(?:\.[0-9]+)?)\s*\}\s*\}\s*$)"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    double v[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        v[i] = match.captured(i + 1).toDouble(&ok);
        if (!ok || !std::isfinite(v[i]) || std::abs(v[i]) > kLimit)
            return std::nullopt;
    }
    const QRect rect(int(std::lround(v[0])), int(std::lround(v[1])), int(std::lround(v[2])), int(std::lround(v[3])));
    if (rect.width() <= 0 || rect.height() <= 0)
        return std::nullopt;
    return rect;
}

QSize minimumSizeOn(const QRect& screen)
{
    return screen.isValid() ? kMinimumSize.boundedTo(screen.size()) : kMinimumSize;
}

Placement initialFrame(const std::optional<QRect>& stored, const QList<QRect>& screens, bool canPlaceWindows)
{
    Placement placement;
    placement.placeOrigin = canPlaceWindows;
    const QRect primary = screens.isEmpty() ? QRect() : screens.first();
    if (!stored) {
        placement.frame = primary.isValid() ? centredOn(minimumSizeOn(primary), primary) : QRect(QPoint(), kMinimumSize);
        return placement;
    }
    QRect frame(stored->topLeft(), stored->size().expandedTo(minimumSizeOn(primary)));
    if (screens.isEmpty()) {
        placement.frame = frame;
        return placement;
    }
    // The screen the window is on decides how large it may be; where the origin cannot be
    // chosen, the window opens on the primary one.
    QRect home = primary;
    if (canPlaceWindows) {
        for (const QRect& screen : screens) {
            if (barShowsOn(frame, screen)) {
                home = screen;
                break;
            }
        }
    }
    frame.setSize(frame.size().boundedTo(home.size()).expandedTo(minimumSizeOn(home)));
    if (canPlaceWindows && !barShowsOn(frame, home))
        frame = centredOn(frame.size(), primary);
    else if (canPlaceWindows) {
        // Grown to the minimum at its own origin, it may hang off the screen's edge: moved back.
        frame.moveRight(std::min(frame.right(), home.right()));
        frame.moveBottom(std::min(frame.bottom(), home.bottom()));
        frame.moveLeft(std::max(frame.left(), home.left()));
        frame.moveTop(std::max(frame.top(), home.top()));
    }
    placement.frame = frame;
    return placement;
}

} // namespace mainwindowframe
