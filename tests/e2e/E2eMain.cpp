// Main of the end-to-end test programs: an X server and window manager of their own first,
// then the Qt application on it, then GoogleTest. Without Xvfb or openbox the program still
// runs, offscreen, and its tests skip themselves.
#include "PrivateDisplay.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Keys are typed through this build's desktop module, which is not beside the test programs.
    if (qEnvironmentVariableIsEmpty("VELK_DESKTOP_MODULE")) {
        qputenv("VELK_DESKTOP_MODULE", VELK_DESKTOP_MODULE_FILE);
    }
    PrivateDisplay display;
    qputenv("QT_QPA_PLATFORM", display.ready() ? "xcb" : "offscreen");
    // Qt's own file dialogs and message boxes, which the tests can reach, not a desktop's.
    qunsetenv("QT_QPA_PLATFORMTHEME");
    qunsetenv("XDG_CURRENT_DESKTOP");
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
