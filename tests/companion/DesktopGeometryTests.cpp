// The placement rules of the companion's windows, in the desktop convention (bottom-left
// origin, y upward), that the controller tests' one screen layout does not reach: a window
// across two screens, the quick draft high up, and the first place beside the main window.
#include "core/companion/DesktopGeometry.h"

#include <gtest/gtest.h>

namespace {

// The screen left of the primary one: x −1440, y 20, 1440 × 880 of visible frame.
const QRectF kLeftScreen(-1440, 20, 1440, 880);

ScreenLayout twoScreens() {
    ScreenLayout layout;
    layout.primaryGeometry = QRect(0, 0, 1920, 1080);
    layout.screens = {{QRectF(0, 0, 1920, 1080), QRectF(0, 0, 1920, 1050)},
                      {QRectF(-1440, 0, 1440, 900), kLeftScreen}};
    layout.mainIndex = 0;
    return layout;
}

TEST(ScreenChoice, takesTheFirstScreenMetElseTheMainScreenElseNothing) {
    const ScreenLayout layout = twoScreens();
    EXPECT_EQ(DesktopGeometry::screenFor(QRectF(-300, 100, 176, 186), layout),
              layout.screens.at(1));
    // Across both: the first in the system's order wins.
    EXPECT_EQ(DesktopGeometry::screenFor(QRectF(-50, 100, 176, 186), layout), layout.screens.at(0));
    // On no screen (a detached monitor): the main screen.
    EXPECT_EQ(DesktopGeometry::screenFor(QRectF(5000, 5000, 176, 186), layout),
              layout.screens.at(0));
    EXPECT_EQ(DesktopGeometry::screenFor(QRectF(0, 0, 10, 10), ScreenLayout{{}, -1, {}}),
              std::nullopt);

    // The current screen is the one showing most of the window.
    EXPECT_EQ(DesktopGeometry::currentScreen(QRectF(-50, 100, 176, 186), layout),
              layout.screens.at(0));
    EXPECT_EQ(DesktopGeometry::currentScreen(QRectF(-150, 100, 176, 186), layout),
              layout.screens.at(1));
}

TEST(PetPlacement, theQuickDraftOpensRightOfThePetUnlessTheScreenEndsFirst) {
    const QRectF visible(0, 0, 1920, 1050);
    const QSizeF controls(340, 394);
    // The last position that still fits on the right: maxX + 8 + 340 = 1920; one point
    // further and it opens on the left.
    EXPECT_EQ(DesktopGeometry::controlsOrigin(QRectF(1396, 100, 176, 186), controls, visible),
              QPointF(1580, 115));
    EXPECT_EQ(DesktopGeometry::controlsOrigin(QRectF(1397, 100, 176, 186), controls, visible),
              QPointF(1397 - 340 - 8, 115));
    // High up, the panel is kept on the screen.
    EXPECT_EQ(DesktopGeometry::controlsOrigin(QRectF(400, 900, 176, 186), controls, visible),
              QPointF(584, 1050 - 394));
}

}  // namespace

// The pet's first position covers none of VELK's own controls: outside the main window when
// the desktop has room, else over the window where no button or field is.
TEST(PetPlacement, theFirstPositionLeavesTheMainWindowsControlsUncovered) {
    const QRectF screen(0, 0, 1366, 740);  // the visible frame, y growing upward
    const QSizeF pet(176, 186);
    const QPointF home = DesktopGeometry::homeOrigin(pet, screen);
    // Centred 1024 wide: the home corner is free.
    EXPECT_EQ(DesktopGeometry::firstOrigin(pet, screen, {171, 0, 1024, 740}, {}), home);
    // Against the right edge: the bottom-left corner.
    EXPECT_EQ(DesktopGeometry::firstOrigin(pet, screen, {300, 0, 1066, 740}, {}), QPointF(28, 30));
    // Full width but not full height: a top corner.
    EXPECT_EQ(DesktopGeometry::firstOrigin(pet, screen, {0, 0, 1366, 500}, {}),
              QPointF(home.x(), 740 - 186 - 30));

    // Maximised: over the window, clear of the status bar, the sidebar's footer and a Run
    // button at the bottom right.
    const QRectF maximised(0, 0, 1366, 740);
    const QList<QRectF> controls = {{0, 0, 1366, 28}, {0, 28, 240, 80}, {1200, 40, 120, 30}};
    const QPointF origin = DesktopGeometry::firstOrigin(pet, screen, maximised, controls);
    const QRectF placed(origin, pet);
    EXPECT_TRUE(screen.contains(placed));
    for (const QRectF& control : controls) {
        EXPECT_FALSE(placed.intersects(control)) << control.x() << "," << control.y();
    }
    EXPECT_TRUE(QRectF(home, pet).intersects(controls[2])) << "the home would cover the button";
}
