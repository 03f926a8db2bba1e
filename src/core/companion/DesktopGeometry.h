#pragma once

#include <QList>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSizeF>

#include <optional>

// Geometry of the companion's floating windows. Positions here use the desktop convention of
// the stored pet position: the origin is the bottom-left corner of the primary screen and y
// grows upward, and a window's origin is its bottom-left corner. Qt's global coordinates
// (top-left origin, y downward) are converted by DesktopSpace, and only there.

// One attached screen: its whole frame and the part left free of panels and docks.
struct DesktopScreen {
    QRectF frame;
    QRectF visibleFrame;

    bool operator==(const DesktopScreen&) const = default;
};

// The attached screens in the system's order and which of them is the main screen.
struct ScreenLayout {
    QList<DesktopScreen> screens;
    int mainIndex = 0;
    // Qt geometry of the primary screen, which anchors the desktop convention.
    QRect primaryGeometry;

    std::optional<DesktopScreen> mainScreen() const;

    bool operator==(const ScreenLayout&) const = default;
};

// Converts rectangles and points between Qt's global coordinates and the desktop convention.
class DesktopSpace {
public:
    explicit DesktopSpace(const QRect& primaryGeometry) : m_primary(primaryGeometry) {}

    QRectF toDesktop(const QRectF& qtRect) const;
    QRectF toQt(const QRectF& desktopRect) const;
    QPointF pointToDesktop(const QPointF& qtPoint) const;

private:
    // The primary screen's bottom edge in Qt coordinates: y = 0 of the desktop convention.
    double baseline() const { return double(m_primary.y()) + double(m_primary.height()); }

    QRect m_primary;
};

namespace DesktopGeometry {

// The origin closest to `origin` that keeps a window of `size` inside `screen`; a window
// larger than the screen is pinned to the screen's minimum corner.
QPointF boundedOrigin(const QPointF& origin, const QSizeF& size, const QRectF& screen);

// The screen a window belongs on: the first one whose frame meets the window, else the
// main screen; nothing when no screen is attached.
std::optional<DesktopScreen> screenFor(const QRectF& window, const ScreenLayout& layout);

// The screen showing most of the window (a window's "current" screen), else the main one.
std::optional<DesktopScreen> currentScreen(const QRectF& window, const ScreenLayout& layout);

// The pet's home: bottom-right of the visible frame, 28 points from the right, 30 up.
QPointF homeOrigin(const QSizeF& petSize, const QRectF& visibleFrame);

// The pet's first position, which must not cover VELK's own controls: the home when it
// leaves the main window `window` uncovered, else another corner of the visible frame or a
// place beside the window; when the window leaves no room, a place over it that covers
// none of `controls` (the window's buttons and fields), scanned from the bottom right; the
// home when there is none.
QPointF firstOrigin(const QSizeF& petSize, const QRectF& visibleFrame, const QRectF& window,
                    const QList<QRectF>& controls);

// Where the quick-draft panel opens beside the pet: 8 points to its right and 15 above its
// bottom, or on its left when the right side has no room, kept within the visible frame.
QPointF controlsOrigin(const QRectF& pet, const QSizeF& controlsSize, const QRectF& visibleFrame);

}  // namespace DesktopGeometry
