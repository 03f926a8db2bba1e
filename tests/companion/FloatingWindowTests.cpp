// The companion's windows on a real X display of their own with a window manager (started
// by the end-to-end tests' main): stacking above other windows, dragging with the pointer, a
// click opening the quick draft, the tray, and dictation started from the panel through the
// real sound path.
#include "PrivateDisplay.h"
#include "X11TestDisplay.h"
#include "core/companion/CompanionModel.h"
#include "platform/speech/LinuxSpeechServices.h"
#include "support/TestSupport.h"
#include "ui/UiFixture.h"
#include "ui/companion/CompanionController.h"
#include "ui/companion/CompanionControls.h"
#include "ui/companion/DesktopPet.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSet>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>

using testing_support::processEventsFor;
using testing_support::waitUntil;

namespace {

QStringList wordsOf(const QString& text) {
    return text.toLower()
        .remove(QRegularExpression(QStringLiteral("[^a-z' ]")))
        .split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

class FloatingWindows : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PrivateDisplay::current()) {
            GTEST_SKIP() << "needs Xvfb and openbox";
        }
    }

    void makeController(std::unique_ptr<SpeechServices> speech = nullptr, bool animate = false) {
        model =
            std::make_unique<CompanionModel>(false, ui.preferences, ui.dialogs, std::move(speech));
        model->setAnimate(animate);  // a floating pet's window is lifted off its place
        controller = std::make_unique<CompanionController>(
            *model,
            CompanionController::Models{ui.workspace.launcher, ui.workspace.sessions,
                                        ui.workspace.history, ui.workspace.notices, ui.navigator},
            ui.theme, ui.preferences, CompanionController::Actions{[] {}, [] {}});
        ASSERT_TRUE(waitUntil([&] { return stackingIndex(controller->panel()) >= 0; }));
    }

    // The window's place in the window manager's stacking order, or -1 when not managed.
    static int stackingIndex(QWidget* window) {
        const std::vector<quint64> order = x11_test::stackingOrder();
        const auto found = std::find(order.begin(), order.end(), window->winId());
        return found == order.end() ? -1 : int(found - order.begin());
    }

    // Drives the pointer from `from` by `offset` with the button held, in small steps; a
    // zero offset is a click.
    static void drag(QPoint from, QPoint offset) {
        x11_test::movePointer(from);
        processEventsFor(std::chrono::milliseconds(100));
        x11_test::pressButton(true);
        processEventsFor(std::chrono::milliseconds(100));
        const int steps = 10;
        for (int step = 1; step <= steps; ++step) {
            x11_test::movePointer(from + offset * step / steps);
            processEventsFor(std::chrono::milliseconds(30));
        }
        x11_test::pressButton(false);
        processEventsFor(std::chrono::milliseconds(200));
    }

    UiFixture ui;
    std::unique_ptr<CompanionModel> model;
    std::unique_ptr<CompanionController> controller;
};

TEST_F(FloatingWindows, thePetStaysAboveANormalWindowOnEveryDesktopOutOfTheTaskBarAndUnminimized) {
    makeController();
    QWidget* pet = controller->panel();
    QWidget normal;
    normal.setWindowTitle(QStringLiteral("An ordinary window"));
    normal.setGeometry(pet->geometry().adjusted(-100, -100, 100, 100));
    normal.show();
    normal.raise();
    normal.activateWindow();
    ASSERT_TRUE(waitUntil([&] { return stackingIndex(&normal) >= 0; }));
    processEventsFor(std::chrono::milliseconds(300));

    // Shown again after being switched off, it keeps every hint.
    for (int showing = 0; showing < 2; ++showing) {
        SCOPED_TRACE(showing == 0 ? "first shown" : "shown again");
        EXPECT_GT(stackingIndex(pet), stackingIndex(&normal));
        const QStringList states = x11_test::windowStates(pet->winId());
        for (const char* state :
             {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}) {
            EXPECT_TRUE(states.contains(state)) << states.join(' ').toStdString();
        }
        EXPECT_EQ(x11_test::cardinal(pet->winId(), "_NET_WM_DESKTOP"), 0xFFFFFFFFULL);

        model->setEnabled(false);
        ASSERT_TRUE(waitUntil([&] { return stackingIndex(pet) < 0; }));
        normal.raise();
        normal.activateWindow();
        model->setEnabled(true);
        ASSERT_TRUE(waitUntil([&] { return stackingIndex(pet) >= 0; }));
        processEventsFor(std::chrono::milliseconds(300));
    }

    // Minimizing the other window (as the main window) leaves the pet on the desktop.
    normal.showMinimized();
    ASSERT_TRUE(waitUntil(
        [&] { return x11_test::windowStates(normal.winId()).contains("_NET_WM_STATE_HIDDEN"); }));
    processEventsFor(std::chrono::milliseconds(300));
    EXPECT_GE(stackingIndex(pet), 0);
    EXPECT_FALSE(x11_test::windowStates(pet->winId()).contains("_NET_WM_STATE_HIDDEN"));
    EXPECT_TRUE(pet->isVisible());
}

TEST_F(FloatingWindows, aDragWithThePointerMovesThePetAndAClickOpensTheQuickDraftBesideIt) {
    makeController();
    QWidget* pet = controller->panel();
    const QRect screen = pet->screen()->geometry();
    // Home: 28 points from the right edge and 30 above the bottom of the visible frame.
    const QRect available = pet->screen()->availableGeometry();
    const QPoint home(available.right() + 1 - 176 - 28, available.bottom() + 1 - 30 - 186);
    EXPECT_EQ(pet->geometry().topLeft(), home);

    drag(pet->geometry().center(), QPoint(-600, -200));
    const QPoint expected = home - QPoint(600, 200);
    EXPECT_EQ(pet->geometry().topLeft(), expected);
    ASSERT_TRUE(waitUntil([&] { return x11_test::windowOrigin(pet->winId()) == expected; }))
        << "the window server has the pet at " << x11_test::windowOrigin(pet->winId()).x() << ","
        << x11_test::windowOrigin(pet->winId()).y();
    // Stored with y measured upward from the screen's bottom edge.
    EXPECT_EQ(ui.preferences.value("kelo.pet.x").toDouble(), expected.x() - screen.x());
    EXPECT_EQ(ui.preferences.value("kelo.pet.y").toDouble(),
              screen.bottom() + 1 - (expected.y() + 186));
    EXPECT_FALSE(controller->controlsPanel()->isVisible());

    drag(pet->geometry().center(), QPoint(0, 0));
    QWidget* controls = controller->controlsPanel();
    ASSERT_TRUE(waitUntil([&] { return controls->isVisible() && stackingIndex(controls) >= 0; }));
    // Right of the pet, its bottom 15 points above the pet's bottom.
    EXPECT_EQ(controls->geometry().left(), pet->geometry().right() + 1 + 8);
    EXPECT_EQ(controls->geometry().bottom(), pet->geometry().bottom() - 15);
    // It takes the keyboard: typing goes into the draft.
    ASSERT_TRUE(
        waitUntil([&] { return QApplication::focusWidget() == controller->controls()->editor(); }));
    EXPECT_EQ(ui.preferences.value("kelo.pet.x").toDouble(), expected.x() - screen.x());

    // Escape closes it again.
    QTest::keyClick(controller->controls()->editor(), Qt::Key_Escape);
    EXPECT_TRUE(waitUntil([&] { return !controls->isVisible(); }));
}

// Floating moves the pet's window past Qt: it must bob around its resting place without
// drifting away from it, and a drag must move that place.
TEST_F(FloatingWindows, aFloatingPetBobsAroundItsRestingPlaceAlsoAfterADrag) {
    makeController(nullptr, true);
    QWidget* pet = controller->panel();
    const auto expectBobbingAround = [&](QPoint rest) {
        QSet<int> heights;
        for (int sample = 0; sample < 30; ++sample) {
            processEventsFor(std::chrono::milliseconds(50));
            const QPoint origin = x11_test::windowOrigin(pet->winId());
            EXPECT_EQ(origin.x(), rest.x());
            EXPECT_LE(std::abs(origin.y() - rest.y()), 3) << origin.y() << " around " << rest.y();
            heights.insert(origin.y());
        }
        EXPECT_GE(heights.size(), 2) << "the window does not float";
        EXPECT_EQ(pet->geometry().topLeft(), rest);
    };
    const QPoint home = pet->geometry().topLeft();
    expectBobbingAround(home);

    drag(pet->geometry().center(), QPoint(-300, -100));
    const QPoint dropped = home - QPoint(300, 100);
    expectBobbingAround(dropped);
    EXPECT_EQ(ui.preferences.value("kelo.pet.x").toDouble(),
              dropped.x() - pet->screen()->geometry().x());
}

TEST_F(FloatingWindows, whereADesktopTrayExistsTheMenuLivesInATrayIcon) {
    makeController();
    EXPECT_EQ(controller->statusItem(), nullptr);  // this display has no tray yet

    const std::shared_ptr<void> tray = x11_test::ownSystemTray();
    ASSERT_TRUE(tray);
    ASSERT_TRUE(waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));
    controller.reset();
    makeController();
    QSystemTrayIcon* icon = controller->statusItem();
    ASSERT_NE(icon, nullptr);
    EXPECT_TRUE(icon->isVisible());
    EXPECT_EQ(icon->toolTip(), "VELK");
    EXPECT_EQ(icon->contextMenu(), controller->statusMenu());
    EXPECT_FALSE(icon->icon().isNull());

    controller->shutdown();
    EXPECT_EQ(controller->statusItem(), nullptr);
}

// Dictation through the real microphone path, started from the quick draft: the private
// sound server of scripts/test.sh plays a voice into the input the recognizer listens to.
// flite's voices are close to the recordings pocketsphinx's model was trained on; what was
// heard is printed.
TEST_F(FloatingWindows, dictationStartedFromTheQuickDraftWritesTheSpokenWordsAfterTheDraft) {
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER") ||
        QStandardPaths::findExecutable("flite").isEmpty() ||
        QStandardPaths::findExecutable("paplay").isEmpty()) {
        GTEST_SKIP() << "needs the private sound server of scripts/test.sh, flite and paplay";
    }
    makeController(makeLinuxSpeechServices());
    CompanionControls* panel = controller->controls();
    const QString sentence = QStringLiteral("please open the door and turn on the light");
    controller->showControls();
    panel->editor()->setPlainText(QStringLiteral("Note:"));
    panel->microphoneButton()->click();
    ASSERT_TRUE(waitUntil([&] { return !model->requestingMicrophone(); }));
    ASSERT_TRUE(model->listening()) << model->message().toStdString();
    EXPECT_EQ(panel->microphoneButton()->text(), "Stop mic");
    // Let the recognizer settle on the background level before the voice starts.
    processEventsFor(std::chrono::milliseconds(700));
    QTemporaryDir scratch;
    const QString voice = scratch.filePath(QStringLiteral("voice.wav"));
    QProcess speaker;
    speaker.start(QStringLiteral("sh"),
                  {QStringLiteral("-c"),
                   QStringLiteral("flite -voice rms -t \"$2\" -o \"$1\" && paplay \"$1\""),
                   QStringLiteral("voice"), voice, sentence});
    ASSERT_TRUE(speaker.waitForStarted());
    const bool finished = waitUntil([&] { return !model->voiceBusy(); }, std::chrono::seconds(40));
    speaker.waitForFinished(5000);
    if (!finished) {
        model->stopMicrophone();
    }
    const QString draft = panel->editor()->toPlainText();
    const QStringList expected = wordsOf(sentence), heard = wordsOf(draft.mid(6));
    std::cout << "Dictation heard \"" << heard.join(' ').toStdString() << "\" for \""
              << sentence.toStdString() << '"' << std::endl;
    EXPECT_TRUE(finished) << model->message().toStdString();
    EXPECT_EQ(model->message(), "Dictation finished. Review your draft before using it.");
    EXPECT_EQ(model->draft(), draft);
    EXPECT_EQ(panel->microphoneButton()->text(), "Microphone");
    EXPECT_TRUE(draft.startsWith(QStringLiteral("Note: "))) << draft.toStdString();
    // At least two words in three are heard, and not many more words than were said.
    const auto found = std::count_if(expected.begin(), expected.end(),
                                     [&](const QString& word) { return heard.contains(word); });
    EXPECT_GE(found * 3, expected.size() * 2) << draft.toStdString();
    EXPECT_LE(heard.size(), expected.size() + 3) << draft.toStdString();
}

}  // namespace
