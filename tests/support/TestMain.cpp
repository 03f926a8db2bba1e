// Shared main of every test executable: a Qt application object for the event loop
// (a QApplication for view tests), then GoogleTest.
#include <QApplication>
#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // What the program keeps to save time (the icons' drawings) goes to a folder of this run's
    // own, not to the user's cache.
    const QTemporaryDir cacheHome;
    qputenv("XDG_CACHE_HOME", cacheHome.path().toLocal8Bit());
    // Line diffs and the desktop's applications come from this build's modules, which are not
    // beside the test programs.
    if (qEnvironmentVariableIsEmpty("VELK_DIFF_MODULE")) {
        qputenv("VELK_DIFF_MODULE", VELK_DIFF_MODULE_FILE);
    }
    if (qEnvironmentVariableIsEmpty("VELK_DESKTOP_MODULE")) {
        qputenv("VELK_DESKTOP_MODULE", VELK_DESKTOP_MODULE_FILE);
    }
#ifdef VELK_TEST_GUI
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    const int result = RUN_ALL_TESTS();
#ifdef VELK_TEST_SKIP_EXIT_TEARDOWN
    // Programs that played sound end here, once every verdict is printed: libpulse's threaded
    // main loop, freed by Qt Multimedia's global engine during exit, sometimes aborts on an
    // I/O event it already freed ("Assertion '!e->dead' failed"), a race of its own teardown.
    std::fflush(nullptr);
    std::_Exit(result);
#endif
    return result;
}
