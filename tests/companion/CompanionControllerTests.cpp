// The companion's windows driven through the controller with a described screen layout: the
// pet's first place, the stored position, sizes, clicks and drags, the quick draft, handing
// a draft to the workspace and switching the companion off.
#include "CompanionWindowTestKit.h"
#include "ui/companion/CompanionControls.h"
#include "ui/companion/CompanionSettingsView.h"
#include "ui/companion/DesktopPet.h"
#include "ui/companion/PetArt.h"
#include "ui/kit/Switch.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

const QString kX = QStringLiteral("kelo.pet.x");
const QString kY = QStringLiteral("kelo.pet.y");

// Home on the primary screen: 28 points from the right edge, 30 above the bottom.
const QPointF kHome(1920 - 176 - 28, 30);

QPointF stored(const Preferences& preferences) {
    return {preferences.value(kX).toDouble(), preferences.value(kY).toDouble()};
}

// Presses the pet's interaction layer at a global position, moves by `offset` in two steps
// and releases.
void pressMoveRelease(QWidget* target, const QPointF& start, const QPointF& offset) {
    const auto send = [target](QEvent::Type type, const QPointF& global) {
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, target->mapFromGlobal(global), global, Qt::LeftButton, held,
                          Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    };
    send(QEvent::MouseButtonPress, start);
    send(QEvent::MouseMove, start + offset / 2);
    send(QEvent::MouseMove, start + offset);
    send(QEvent::MouseButtonRelease, start + offset);
}

TEST(CompanionController, theFirstStartPlacesThePetHomeStoresItAtOnceAndScalesAroundItsCorner) {
    CompanionWindowKit kit;
    kit.model->setAnimate(false);  // a floating pet's window is lifted off its place
    CompanionController& controller = kit.makeController();
    EXPECT_EQ(controller.petFrame().topLeft(), kHome);
    EXPECT_EQ(stored(kit.ui.preferences), kHome);
    // In Qt's coordinates the primary screen starts at (1440, 200).
    EXPECT_EQ(controller.panel()->geometry(),
              QRect(1440 + int(kHome.x()), 200 + 1080 - 30 - 186, 176, 186));
    EXPECT_TRUE(controller.panel()->isVisible());
    EXPECT_FALSE(controller.controlsPanel()->isVisible());
    EXPECT_TRUE(controller.panel()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(controller.panel()->windowFlags().testFlag(Qt::FramelessWindowHint));

    kit.model->setScale(1.5);
    EXPECT_EQ(controller.panel()->size(), QSize(264, 279));
    // Growing at home would cross the right edge: it is pulled back inside.
    EXPECT_EQ(controller.petFrame().topLeft(), QPointF(1920 - 264, 30));
    kit.model->setScale(0.65);
    EXPECT_EQ(controller.panel()->size(), QSize(114, 121));
    EXPECT_EQ(controller.petFrame().topLeft(), QPointF(1920 - 264, 30));
}

TEST(CompanionController, aStoredPlaceOnAnotherScreenIsKeptAndALostOneComesBackToTheMainScreen) {
    // Where the pet starts with these stored preferences.
    const auto startWith = [](const QVariantMap& values) {
        CompanionWindowKit kit;
        for (auto value = values.begin(); value != values.end(); ++value) {
            kit.ui.preferences.setValue(value.key(), value.value());
        }
        kit.model =
            std::make_unique<CompanionModel>(true, kit.ui.preferences, kit.ui.dialogs, nullptr);
        const QRectF frame = kit.makeController().petFrame();
        return std::pair(frame.topLeft(), frame.size());
    };
    EXPECT_EQ(startWith({{kX, -1000.0}, {kY, 500.0}}).first, QPointF(-1000, 500));
    // A screen that is no longer attached: the pet lands inside the main screen's visible
    // frame, as close to the stored place as it can.
    EXPECT_EQ(startWith({{kX, 8000.0}, {kY, 8000.0}}).first, QPointF(1920 - 176, 1050 - 186));
    // Only x stored: y counts as 0.
    EXPECT_EQ(startWith({{kX, 100.0}}).first, QPointF(100, 0));
    // A stored scale out of range is clamped before sizing.
    EXPECT_EQ(startWith({{"kelo.pet.scale", 3.0}, {"kelo.pet.warriorInstalled.v1", true}}).second,
              QSizeF(264, 279));
}

TEST(CompanionController, aShortPressTogglesTheQuickDraftAndALongerOneDragsThePetAndStoresIt) {
    CompanionWindowKit kit;
    CompanionController& controller = kit.makeController();
    QWidget* layer = controller.pet()->interaction();
    const QPointF press = controller.panel()->geometry().center();

    // Three points of movement in total is still a click, and leaves the pet where it was.
    const QPointF home = controller.petFrame().topLeft();
    pressMoveRelease(layer, press, QPointF(2, -1));
    EXPECT_TRUE(controller.controlsPanel()->isVisible());
    EXPECT_EQ(stored(kit.ui.preferences), kHome);
    EXPECT_EQ(controller.petFrame().topLeft(), home);
    // Near the right edge the quick draft opens on the pet's left, 15 above its bottom.
    const QRectF pet = controller.petFrame();
    EXPECT_EQ(controller.controlsFrame().topLeft(), QPointF(pet.x() - 340 - 8, pet.y() + 15));
    EXPECT_EQ(controller.controlsPanel()->size(), QSize(340, 394));
    pressMoveRelease(layer, press, QPointF(0, 0));
    EXPECT_FALSE(controller.controlsPanel()->isVisible());
    // The accessibility press action counts as a click too.
    controller.pet()->interaction()->click();
    EXPECT_TRUE(controller.controlsPanel()->isVisible());

    // Qt's y grows downward: moving up by 200 raises the stored y by 200.
    const QPointF before = controller.petFrame().topLeft();
    pressMoveRelease(layer, press, QPointF(-900, -200));
    const QPointF moved = before + QPointF(-900, 200);
    EXPECT_EQ(controller.petFrame().topLeft(), moved);
    EXPECT_EQ(stored(kit.ui.preferences), moved);
    EXPECT_TRUE(controller.controlsPanel()->isVisible());
    // With room on the right again, the quick draft sits there.
    EXPECT_EQ(controller.controlsFrame().topLeft(), moved + QPointF(176 + 8, 15));

    // Dragged far off the screen, the pet stays on it.
    pressMoveRelease(layer, controller.panel()->geometry().center(), QPointF(0, 5000));
    EXPECT_EQ(controller.petFrame().y(), 0);
    EXPECT_EQ(stored(kit.ui.preferences).y(), 0);

    // "Find on desktop" brings a hidden pet back home.
    kit.model->setEnabled(false);
    Q_EMIT kit.model->findOnDesktop();
    EXPECT_TRUE(kit.model->enabled());
    EXPECT_TRUE(controller.panel()->isVisible());
    EXPECT_EQ(controller.petFrame().topLeft(), kHome);
    EXPECT_EQ(stored(kit.ui.preferences), kHome);
}

TEST(CompanionController, usingTheDraftAppendsItToTheTaskAfterABlankLineAndABlankDraftIsNotUsed) {
    CompanionWindowKit kit;
    CompanionController& controller = kit.makeController();
    controller.showControls();
    kit.ui.workspace.launcher.setPrompt(QStringLiteral("Keep me"));
    kit.model->setDraft(QStringLiteral(" \n\t "));
    controller.useDraft();
    EXPECT_EQ(kit.ui.workspace.launcher.prompt(), "Keep me");
    EXPECT_EQ(kit.model->draft(), " \n\t ");
    EXPECT_TRUE(controller.controlsPanel()->isVisible());
    EXPECT_EQ(kit.mainShown, 0);
    EXPECT_EQ(kit.ui.workspace.notices.toast(), "");

    kit.ui.navigator.setDestination(Destination::Companion);
    kit.model->setDraft(QStringLiteral("  \n and add a note to the changelog \n"));
    controller.controls()->useDraftButton()->click();
    EXPECT_EQ(kit.ui.workspace.launcher.prompt(), "Keep me\n\nand add a note to the changelog");
    EXPECT_EQ(kit.model->draft(), "");
    EXPECT_EQ(kit.ui.navigator.destination(), Destination::Workspace);
    EXPECT_FALSE(controller.controlsPanel()->isVisible());
    EXPECT_EQ(kit.mainShown, 1);
    // (A blank task is replaced: QuickDraftPanel in CompanionViewTests.cpp.)
}

TEST(CompanionController, switchingTheCompanionOffAnyWayHidesBothWindowsAndStopsAudio) {
    CompanionWindowKit kit;
    CompanionController& controller = kit.makeController();
    CompanionSettingsView page(*kit.model, kit.ui.navigator, kit.ui.theme);
    const std::vector<std::pair<const char*, std::function<void()>>> ways = {
        {"the page's switch", [&] { page.enabledSwitch()->click(); }},
        {"the pet's context menu",
         [&] {
             const std::unique_ptr<QMenu> menu = controller.pet()->interaction()->contextMenu();
             menuAction(menu.get(), "Hide companion")->trigger();
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

TEST(CompanionController, theFloatingPetLiftsItsWindowWithoutRedrawingAndKeepsItsPlace) {
    CompanionWindowKit kit;
    CompanionController& controller = kit.makeController();
    PetArt* art = controller.pet()->art();
    ASSERT_TRUE(art->floating());
    int reshaped = 0;
    QObject::connect(art, &PetArt::shapeChanged, [&] { ++reshaped; });
    const QRect image = art->imageRect();
    const QRect resting = controller.panel()->geometry().translated(0, art->currentOffset());
    const int first = art->currentOffset();
    ASSERT_TRUE(testing_support::waitUntil([&] { return art->currentOffset() != first; }));
    EXPECT_EQ(controller.panel()->geometry(), resting.translated(0, -art->currentOffset()));
    EXPECT_EQ(art->imageRect(), image);
    EXPECT_EQ(reshaped, 0);
    EXPECT_EQ(controller.petFrame().topLeft(), kHome);
    controller.savePosition();
    EXPECT_EQ(stored(kit.ui.preferences), kHome);

    kit.model->setAnimate(false);
    EXPECT_EQ(controller.panel()->geometry(), resting);
}

TEST(CompanionController, theTrayMenuOffersItsCommandsInOrderAndShutdownSilencesEverything) {
    CompanionWindowKit kit;
    CompanionController& controller = kit.makeController();
    QStringList texts;
    const QList<QAction*> actions = controller.statusMenu()->actions();
    for (QAction* action : actions) {
        texts.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    EXPECT_EQ(texts, (QStringList{"Open VELK", "Settings…", "Stop microphone && audio", "-",
                                  "Quit VELK"}));
    ASSERT_TRUE(kit.startListening());
    actions.at(2)->trigger();
    EXPECT_FALSE(kit.model->listening());

    controller.showControls();
    ASSERT_TRUE(kit.startListening());
    controller.shutdown();
    EXPECT_FALSE(kit.model->listening());
    EXPECT_FALSE(kit.speech->input.running);
    EXPECT_FALSE(controller.panel()->isVisible());
    EXPECT_FALSE(controller.controlsPanel()->isVisible());
    EXPECT_EQ(controller.statusItem(), nullptr);
}

}  // namespace
