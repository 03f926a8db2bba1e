// The companion's windows driven through the controller with a described screen layout: the
// pet's first place, the stored position, sizes, clicks and drags, the quick draft, handing
// a draft to the workspace and switching the companion off.
#include "CompanionWindowTestKit.h"
#include "companion/ui/CompanionControls.h"
#include "companion/ui/CompanionSettingsView.h"
#include "companion/ui/DesktopPet.h"
#include "ui/Switch.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

using testing_support::waitUntil;

namespace {

const QString kX = QStringLiteral("kelo.pet.x");
const QString kY = QStringLiteral("kelo.pet.y");

// Home on the primary screen: 28 points from the right edge, 30 above the bottom.
const QPointF kHome(1920 - 176 - 28, 30);

QPointF origin(const QRectF& frame) {
    return {frame.x(), frame.y()};
}

QPointF stored(const Preferences& preferences) {
    return {preferences.value(kX).toDouble(), preferences.value(kY).toDouble()};
}

// Sends a mouse event to the pet's interaction layer at a global position.
void sendMouse(QWidget* target, QEvent::Type type, const QPointF& global) {
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, target->mapFromGlobal(global), global, Qt::LeftButton, held,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

void pressMoveRelease(QWidget* target, const QPointF& start, const QPointF& offset) {
    sendMouse(target, QEvent::MouseButtonPress, start);
    sendMouse(target, QEvent::MouseMove, start + offset / 2);
    sendMouse(target, QEvent::MouseMove, start + offset);
    sendMouse(target, QEvent::MouseButtonRelease, start + offset);
}

TEST(CompanionController, theFirstStartPlacesThePetHomeOnTheMainScreenAndStoresItAtOnce) {
    CompanionWindowKit kit;
    CompanionController& controller = kit.makeController();
    EXPECT_EQ(origin(controller.petFrame()), kHome);
    EXPECT_EQ(stored(kit.ui.preferences), kHome);
    // In Qt's coordinates the primary screen starts at (1440, 200).
    EXPECT_EQ(controller.panel()->geometry(),
              QRect(1440 + int(kHome.x()), 200 + 1080 - 30 - 186, 176, 186));
    EXPECT_TRUE(controller.panel()->isVisible());
    EXPECT_FALSE(controller.controlsPanel()->isVisible());
    EXPECT_EQ(controller.panel()->windowTitle(), "VELK desktop companion");
    EXPECT_TRUE(controller.panel()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(controller.panel()->windowFlags().testFlag(Qt::FramelessWindowHint));
}

TEST(CompanionController, aStoredPositionOnTheLeftScreenIsKeptAndALostOneComesBackToTheMainScreen) {
    CompanionWindowKit kit;
    kit.ui.preferences.setValue(kX, -1000.0);
    kit.ui.preferences.setValue(kY, 500.0);
    EXPECT_EQ(origin(kit.makeController().petFrame()), QPointF(-1000, 500));

    // A screen that is no longer attached: the pet lands inside the main screen's visible
    // frame, as close to the stored place as it can.
    CompanionWindowKit lost;
    lost.ui.preferences.setValue(kX, 8000.0);
    lost.ui.preferences.setValue(kY, 8000.0);
    EXPECT_EQ(origin(lost.makeController().petFrame()), QPointF(1920 - 176, 1050 - 186));

    // Only x stored: y counts as 0.
    CompanionWindowKit halfStored;
    halfStored.ui.preferences.setValue(kX, 100.0);
    EXPECT_EQ(origin(halfStored.makeController().petFrame()), QPointF(100, 0));
}

TEST(CompanionController, theScaleSizesThePetAroundItsBottomLeftCorner) {
    CompanionWindowKit kit;
    CompanionController& controller = kit.makeController();
    kit.model->setScale(1.5);
    EXPECT_EQ(controller.panel()->size(), QSize(264, 279));
    // Growing at home would cross the right edge: it is pulled back inside.
    EXPECT_EQ(origin(controller.petFrame()), QPointF(1920 - 264, 30));
    kit.model->setScale(0.65);
    EXPECT_EQ(controller.panel()->size(), QSize(114, 121));
    EXPECT_EQ(origin(controller.petFrame()), QPointF(1920 - 264, 30));

    // A stored scale out of range is clamped before sizing.
    CompanionWindowKit stored;
    stored.ui.preferences.setValue(QStringLiteral("kelo.pet.scale"), 3.0);
    stored.ui.preferences.setValue(QStringLiteral("kelo.pet.warriorInstalled.v1"), true);
    stored.model =
        std::make_unique<CompanionModel>(true, stored.ui.preferences, stored.ui.dialogs, nullptr);
    EXPECT_EQ(stored.makeController().panel()->size(), QSize(264, 279));
}

TEST(CompanionController, aShortPressIsAClickThatTogglesTheQuickDraftBesideThePet) {
    CompanionWindowKit kit;
    CompanionController& controller = kit.makeController();
    QWidget* layer = controller.pet()->interaction();
    const QPointF press = controller.panel()->geometry().center();

    // Three points of movement in total is still a click.
    pressMoveRelease(layer, press, QPointF(2, -1));
    EXPECT_TRUE(controller.controlsPanel()->isVisible());
    EXPECT_EQ(stored(kit.ui.preferences), kHome);
    // Near the right edge the quick draft opens on the pet's left, 15 above its bottom.
    const QRectF pet = controller.petFrame();
    EXPECT_EQ(origin(controller.controlsFrame()), QPointF(pet.x() - 340 - 8, pet.y() + 15));
    EXPECT_EQ(controller.controlsPanel()->size(), QSize(340, 394));

    pressMoveRelease(layer, press, QPointF(0, 0));
    EXPECT_FALSE(controller.controlsPanel()->isVisible());

    // The accessibility press action counts as a click too.
    controller.pet()->interaction()->click();
    EXPECT_TRUE(controller.controlsPanel()->isVisible());
}

TEST(CompanionController, aDragMovesThePetStoresThePlaceAndTheQuickDraftFollows) {
    CompanionWindowKit kit;
    CompanionController& controller = kit.makeController();
    controller.showControls();
    QWidget* layer = controller.pet()->interaction();
    const QPointF press = controller.panel()->geometry().center();

    // Qt's y grows downward: moving up by 200 raises the stored y by 200.
    pressMoveRelease(layer, press, QPointF(-900, -200));
    const QPointF moved = kHome + QPointF(-900, 200);
    EXPECT_EQ(origin(controller.petFrame()), moved);
    EXPECT_EQ(stored(kit.ui.preferences), moved);
    EXPECT_TRUE(controller.controlsPanel()->isVisible());
    // With room on the right again, the quick draft sits there.
    EXPECT_EQ(origin(controller.controlsFrame()), moved + QPointF(176 + 8, 15));

    // Dragged far off the screen, the pet stays on it.
    pressMoveRelease(layer, controller.panel()->geometry().center(), QPointF(0, 5000));
    EXPECT_EQ(controller.petFrame().y(), 0);
    EXPECT_EQ(stored(kit.ui.preferences).y(), 0);
}

TEST(CompanionController, usingTheDraftAppendsItToTheTaskAfterABlankLine) {
    CompanionWindowKit kit;
    CompanionController& controller = kit.makeController();
    controller.showControls();
    kit.ui.workspace.setDestination(Destination::Companion);
    kit.ui.workspace.setPrompt(QStringLiteral("Fix the failing test"));
    kit.model->setDraft(QStringLiteral("  \n and add a note to the changelog \n"));
    controller.controls()->useDraftButton()->click();

    EXPECT_EQ(kit.ui.workspace.prompt(), "Fix the failing test\n\nand add a note to the changelog");
    EXPECT_EQ(kit.model->draft(), "");
    EXPECT_EQ(kit.ui.workspace.destination(), Destination::Workspace);
    EXPECT_FALSE(controller.controlsPanel()->isVisible());
    EXPECT_EQ(kit.mainShown, 1);
    EXPECT_EQ(kit.ui.workspace.toast(),
              "Companion draft added. Choose your assistants and run it when ready.");

    // An empty (blank) task is replaced.
    kit.ui.workspace.setPrompt(QStringLiteral(" \n"));
    kit.model->setDraft(QStringLiteral("Plan the release"));
    controller.useDraft();
    EXPECT_EQ(kit.ui.workspace.prompt(), "Plan the release");
}

TEST(CompanionController, usingTheDraftWhileDictatingStopsTheMicrophoneSoTheWordsDoNotComeBack) {
    CompanionWindowKit kit;
    CompanionController& controller = kit.makeController();
    controller.showControls();
    ASSERT_TRUE(kit.startListening());
    FakeSpeechServices::Recognizer* recognizer = kit.speech->recognizer();
    recognizer->push({QStringLiteral("book a table"), false, std::nullopt});
    ASSERT_TRUE(waitUntil([&] { return kit.model->draft() == "book a table"; }));
    controller.useDraft();
    EXPECT_EQ(kit.ui.workspace.prompt(), "book a table");
    EXPECT_FALSE(kit.model->listening());
    EXPECT_FALSE(kit.speech->input.running);
    EXPECT_EQ(kit.model->draft(), "");
    testing_support::processEventsFor(std::chrono::milliseconds(50));
    EXPECT_EQ(kit.model->draft(), "");
}

TEST(CompanionController, aBlankDraftIsNotUsed) {
    CompanionWindowKit kit;
    CompanionController& controller = kit.makeController();
    controller.showControls();
    kit.ui.workspace.setPrompt(QStringLiteral("Keep me"));
    kit.model->setDraft(QStringLiteral(" \n\t "));
    controller.useDraft();
    EXPECT_EQ(kit.ui.workspace.prompt(), "Keep me");
    EXPECT_EQ(kit.model->draft(), " \n\t ");
    EXPECT_TRUE(controller.controlsPanel()->isVisible());
    EXPECT_EQ(kit.mainShown, 0);
    EXPECT_EQ(kit.ui.workspace.toast(), "");
}

// Each way of switching the companion off hides both windows and silences it.
TEST(CompanionController, switchingTheCompanionOffAnyWayHidesBothWindowsAndStopsAudio) {
    CompanionWindowKit kit;
    CompanionController& controller = kit.makeController();
    CompanionSettingsView page(*kit.model, kit.ui.workspace, &kit.ui.theme);
    const std::vector<std::pair<const char*, std::function<void()>>> ways = {
        {"the page's switch", [&] { page.enabledSwitch()->click(); }},
        {"the pet's context menu",
         [&] {
             const std::unique_ptr<QMenu> menu = controller.pet()->interaction()->contextMenu();
             for (QAction* action : menu->actions()) {
                 if (action->text() == "Hide companion") {
                     action->trigger();
                 }
             }
         }},
        {"the tray's toggle", [&] { controller.toggle(); }},
    };
    for (const auto& [name, switchOff] : ways) {
        SCOPED_TRACE(name);
        kit.model->setEnabled(true);
        ASSERT_TRUE(controller.panel()->isVisible());
        controller.showControls();
        ASSERT_TRUE(kit.startListening());
        switchOff();
        EXPECT_FALSE(kit.model->enabled());
        EXPECT_FALSE(controller.panel()->isVisible());
        EXPECT_FALSE(controller.controlsPanel()->isVisible());
        EXPECT_FALSE(kit.model->listening());
        EXPECT_FALSE(kit.speech->input.running);
        EXPECT_FALSE(page.enabledSwitch()->isChecked());

        kit.model->setEnabled(true);
        kit.model->speak(QStringLiteral("Hello there"));
        ASSERT_TRUE(kit.model->speaking());
        const int stops = kit.speech->voice.stops;
        switchOff();
        EXPECT_FALSE(kit.model->speaking());
        EXPECT_GT(kit.speech->voice.stops, stops);
    }
}

TEST(CompanionController, theTrayMenuOffersItsCommandsInOrder) {
    CompanionWindowKit kit;
    CompanionController& controller = kit.makeController();
    QStringList texts;
    for (QAction* action : controller.statusMenu()->actions()) {
        texts.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    EXPECT_EQ(texts, (QStringList{"Open VELK", "Settings…", "Stop microphone && audio", "-",
                                  "Quit VELK"}));
    const QList<QAction*> actions = controller.statusMenu()->actions();
    EXPECT_EQ(actions.at(4)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_TRUE(actions.at(0)->shortcut().isEmpty());

    actions.at(1)->trigger();
    EXPECT_EQ(kit.ui.workspace.destination(), Destination::Settings);
    EXPECT_EQ(kit.mainShown, 1);
    ASSERT_TRUE(kit.startListening());
    actions.at(2)->trigger();
    EXPECT_FALSE(kit.model->listening());
    actions.at(4)->trigger();
    EXPECT_EQ(kit.quitRequests, 1);
}

TEST(CompanionController, shutdownSilencesTheCompanionAndHidesItsWindows) {
    CompanionWindowKit kit;
    CompanionController& controller = kit.makeController();
    controller.showControls();
    ASSERT_TRUE(kit.startListening());
    controller.shutdown();
    EXPECT_FALSE(kit.model->listening());
    EXPECT_FALSE(kit.speech->input.running);
    EXPECT_FALSE(controller.panel()->isVisible());
    EXPECT_FALSE(controller.controlsPanel()->isVisible());
    EXPECT_EQ(controller.statusItem(), nullptr);
}

TEST(CompanionController, customizeAndFindOnDesktopReachTheirPlaces) {
    CompanionWindowKit kit;
    kit.ui.preferences.setValue(kX, -1000.0);
    kit.ui.preferences.setValue(kY, 500.0);
    CompanionController& controller = kit.makeController();
    kit.model->setEnabled(false);

    Q_EMIT kit.model->findOnDesktop();
    EXPECT_TRUE(kit.model->enabled());
    EXPECT_TRUE(controller.panel()->isVisible());
    EXPECT_EQ(origin(controller.petFrame()), kHome);
    EXPECT_EQ(stored(kit.ui.preferences), kHome);

    controller.customize();
    EXPECT_EQ(kit.ui.workspace.destination(), Destination::Companion);
    EXPECT_EQ(kit.mainShown, 1);
}

}  // namespace
