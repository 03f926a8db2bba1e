#include "core/companion/DesktopGeometry.h"

#include <algorithm>

std::optional<DesktopScreen> ScreenLayout::mainScreen() const {
    if (mainIndex < 0 || mainIndex >= screens.size()) {
        return std::nullopt;
    }
    return screens.at(mainIndex);
}

QRectF DesktopSpace::toDesktop(const QRectF& qtRect) const {
    return QRectF(qtRect.x() - m_primary.x(), baseline() - (qtRect.y() + qtRect.height()),
                  qtRect.width(), qtRect.height());
}

QRectF DesktopSpace::toQt(const QRectF& desktopRect) const {
    return QRectF(desktopRect.x() + m_primary.x(),
                  baseline() - (desktopRect.y() + desktopRect.height()), desktopRect.width(),
                  desktopRect.height());
}

QPointF DesktopSpace::pointToDesktop(const QPointF& qtPoint) const {
    return QPointF(qtPoint.x() - m_primary.x(), baseline() - qtPoint.y());
}

namespace DesktopGeometry {

QPointF boundedOrigin(const QPointF& origin, const QSizeF& size, const QRectF& screen) {
    // QRectF's right() and bottom() are x + width and y + height: the maxX and maxY here.
    const double x = std::min(std::max(origin.x(), screen.left()),
                              std::max(screen.right() - size.width(), screen.left()));
    const double y = std::min(std::max(origin.y(), screen.top()),
                              std::max(screen.bottom() - size.height(), screen.top()));
    return {x, y};
}

std::optional<DesktopScreen> screenFor(const QRectF& window, const ScreenLayout& layout) {
    for (const DesktopScreen& screen : layout.screens) {
        if (screen.frame.intersects(window)) {
            return screen;
        }
    }
    return layout.mainScreen();
}

std::optional<DesktopScreen> currentScreen(const QRectF& window, const ScreenLayout& layout) {
    std::optional<DesktopScreen> best;
    double bestArea = 0;
    for (const DesktopScreen& screen : layout.screens) {
        const QRectF shared = screen.frame.intersected(window);
        const double area = shared.width() * shared.height();
        if (area > bestArea) {
            best = screen;
            bestArea = area;
        }
    }
    return best ? best : layout.mainScreen();
}

QPointF homeOrigin(const QSizeF& petSize, const QRectF& visibleFrame) {
    return {visibleFrame.right() - petSize.width() - 28, visibleFrame.top() + 30};
}

QPointF firstOrigin(const QSizeF& petSize, const QRectF& visibleFrame, const QRectF& window,
                    const QList<QRectF>& controls) {
    const double w = petSize.width();
    const double h = petSize.height();
    const QPointF home = homeOrigin(petSize, visibleFrame);
    const QList<QPointF> outside = {
        home,
        {visibleFrame.left() + 28, visibleFrame.top() + 30},
        {home.x(), visibleFrame.bottom() - h - 30},
        {visibleFrame.left() + 28, visibleFrame.bottom() - h - 30},
        {window.right() + 8, window.top()},
        {window.left() - w - 8, window.top()},
    };
    const auto fits = [&](const QPointF& origin) {
        return visibleFrame.contains(QRectF(origin, petSize));
    };
    for (const QPointF& origin : outside) {
        if (fits(origin) && !QRectF(origin, petSize).intersects(window)) {
            return origin;
        }
    }
    constexpr double kStep = 16;
    for (double y = visibleFrame.top() + 30; y + h <= visibleFrame.bottom(); y += kStep) {
        for (double x = visibleFrame.right() - w - 28; x >= visibleFrame.left(); x -= kStep) {
            const QRectF place({x, y}, petSize);
            if (std::none_of(controls.cbegin(), controls.cend(),
                             [&](const QRectF& control) { return place.intersects(control); })) {
                return {x, y};
            }
        }
    }
    return home;
}

QPointF controlsOrigin(const QRectF& pet, const QSizeF& controlsSize, const QRectF& visibleFrame) {
    double x = pet.right() + 8;
    const double y = pet.top() + 15;
    if (x + controlsSize.width() > visibleFrame.right()) {
        x = pet.left() - controlsSize.width() - 8;
    }
    return boundedOrigin({x, y}, controlsSize, visibleFrame);
}

}  // namespace DesktopGeometry
