// The quick-draft panel, the Companion page and the pet drawing, bound to the model.
#include "CompanionTestSupport.h"
#include "CompanionWindowTestKit.h"
#include "core/terminal/TerminalSession.h"
#include "ui/companion/CompanionControls.h"
#include "ui/companion/CompanionSettingsView.h"
#include "ui/companion/DesktopPet.h"
#include "ui/companion/PetArt.h"
#include "ui/companion/PetAttention.h"
#include "ui/kit/Switch.h"

#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using testing_support::waitUntil;

namespace {

TEST(QuickDraftPanel, theEditorMicrophoneAndUseButtonWorkOnTheDraft) {
    CompanionWindowKit kit;
    CompanionController& controller = kit.makeController();
    CompanionControls* panel = controller.controls();
    QPushButton* microphone = panel->microphoneButton();
    EXPECT_EQ(microphone->text(), "Microphone");
    microphone->click();
    EXPECT_TRUE(kit.model->requestingMicrophone());
    EXPECT_EQ(microphone->text(), "Stop mic");
    EXPECT_EQ(panel->status()->text(), "Waiting for microphone permission…");
    microphone->click();
    EXPECT_FALSE(kit.model->voiceBusy());
    EXPECT_EQ(microphone->text(), "Microphone");

    // Dictation rewrites the typed draft; the editor shows it with the cursor at the end.
    panel->editor()->setPlainText(QStringLiteral("typed words"));
    EXPECT_EQ(kit.model->draft(), "typed words");
    ASSERT_TRUE(kit.startListening());
    kit.speech->recognizer()->push({QStringLiteral("and spoken ones"), false, std::nullopt});
    ASSERT_TRUE(waitUntil([&] { return kit.model->draft() == "typed words and spoken ones"; }));
    EXPECT_EQ(panel->editor()->toPlainText(), "typed words and spoken ones");
    EXPECT_EQ(panel->editor()->textCursor().position(), 27);

    // Using the draft replaces a blank task. Dictation stops first, so its words do not
    // come back.
    kit.ui.workspace.launcher.setPrompt(QStringLiteral(" \n"));
    panel->useDraftButton()->click();
    EXPECT_EQ(kit.ui.workspace.launcher.prompt(), "typed words and spoken ones");
    EXPECT_FALSE(kit.model->listening());
    EXPECT_FALSE(kit.speech->input.running);
    testing_support::processEventsFor(std::chrono::milliseconds(50));
    EXPECT_EQ(kit.model->draft(), "");
    EXPECT_EQ(panel->editor()->toPlainText(), "");
}

TEST(QuickDraftPanel, readAloudCustomizeAndCloseDoWhatTheySay) {
    CompanionWindowKit kit;
    CompanionController& controller = kit.makeController();
    CompanionControls* panel = controller.controls();
    QMenu* menu = panel->readAloudMenu();
    ASSERT_NE(menu, nullptr);
    kit.model->setDraft(QStringLiteral("  Read me  "));
    menuAction(menu, "Read draft aloud")->trigger();
    EXPECT_EQ(kit.speech->voice.spoken, QStringList{"Read me"});
    EXPECT_TRUE(kit.model->speaking());
    menuAction(menu, "Stop VELK audio")->trigger();
    EXPECT_FALSE(kit.model->speaking());
    // No session and no history: nothing to read.
    menuAction(menu, "Read latest session output")->trigger();
    EXPECT_EQ(kit.model->message(), "There is no text to read yet.");
    EXPECT_EQ(kit.speech->voice.spoken.size(), 1);

    // The active session's screen is what "latest session output" reads.
    QTemporaryDir folder;
    const SessionPointer session = kit.ui.workspace.sessions.startSession(
        QStringLiteral("shell"), QStringLiteral("echo"),
        QStringLiteral("printf 'the build passed'"), folder.path());
    ASSERT_TRUE(session);
    ASSERT_TRUE(waitUntil([&] { return session->exitCode().has_value(); }));
    kit.ui.workspace.sessions.setActiveSessionID(session->id());
    menuAction(menu, "Read latest session output")->trigger();
    EXPECT_EQ(kit.speech->voice.spoken.value(1), "the build passed");

    controller.showControls();
    ASSERT_TRUE(kit.startListening());
    panel->closeButton()->click();
    EXPECT_FALSE(controller.controlsPanel()->isVisible());
    EXPECT_FALSE(kit.model->listening());
    EXPECT_EQ(kit.model->draft(), "  Read me  ");
}

TEST(CompanionPage, showsThePetAndItsSettingsFollowsChangesAndResetsThePetsPlace) {
    CompanionWindowKit kit;
    kit.makeController();  // places the pet when the page asks
    CompanionSettingsView page(*kit.model, kit.ui.navigator, kit.ui.theme);
    EXPECT_EQ(page.nameLabel()->text(), "VELK’s pixel companion");
    EXPECT_EQ(page.kindPill()->text(), "Default pet");
    EXPECT_TRUE(page.enabledSwitch()->isChecked());
    EXPECT_TRUE(page.animateSwitch()->isChecked());
    EXPECT_EQ(page.sizeLabel()->text(), "100%");

    QTemporaryDir folder;
    const QString pet = folder.filePath("pet.png");
    ASSERT_TRUE(testing_support::writeFile(
        pet, companion_test::encodeImage(companion_test::solidImage(40, 30), "PNG")));
    kit.ui.dialogs.answerOpen(pet);
    page.button("Choose your own image")->click();
    EXPECT_EQ(page.nameLabel()->text(), "Your custom companion");
    EXPECT_EQ(page.kindPill()->text(), "Custom");
    EXPECT_EQ(page.status()->text(), "Your custom companion is ready.");
    page.button("Restore default pet")->click();
    EXPECT_EQ(page.kindPill()->text(), "Default pet");

    kit.ui.preferences.setValue(QStringLiteral("kelo.pet.x"), 5.0);
    page.button("Reset desktop position")->click();
    EXPECT_EQ(kit.ui.preferences.value(QStringLiteral("kelo.pet.x")).toDouble(), 1920 - 176 - 28);

    page.animateSwitch()->click();
    EXPECT_FALSE(kit.model->animate());
    // The size slider moves in five-percent steps within the scale range.
    QSlider* slider = page.sizeSlider();
    EXPECT_EQ(slider->minimum(), 65);
    EXPECT_EQ(slider->maximum(), 150);
    slider->setValue(117);
    EXPECT_DOUBLE_EQ(kit.model->scale(), 1.15);
    EXPECT_EQ(slider->value(), 115);
    EXPECT_EQ(page.sizeLabel()->text(), "115%");
    kit.model->setScale(0.7);
    EXPECT_EQ(slider->value(), 70);
    EXPECT_EQ(page.sizeLabel()->text(), "70%");
}

TEST(PetArt, floatsGentlyOnlyWhenAnimationIsAllowedEverywhere) {
    CompanionWindowKit kit;
    PetArt art(*kit.model);
    art.setAnimated(true);
    EXPECT_FALSE(art.floating());  // not shown yet
    art.show();
    EXPECT_TRUE(art.floating());
    kit.model->setAnimate(false);
    EXPECT_FALSE(art.floating());
    EXPECT_EQ(art.currentOffset(), 0);
    kit.model->setAnimate(true);
    art.setReducedMotion(true);
    EXPECT_FALSE(art.floating());
    art.setReducedMotion(false);
    EXPECT_TRUE(art.floating());
    art.hide();
    EXPECT_FALSE(art.floating());

    // It wakes only for the frames where the drawn offset moves: a dozen per up-and-down
    // cycle, not all ninety-odd frames, and never past a change.
    const double frame = 1.0 / PetArt::kFramesPerSecond;
    int wakeUps = 0;
    for (double t = 0; t < 4.0; ++wakeUps) {
        const double next = t + PetArt::msUntilOffsetChanges(t) / 1000.0;
        EXPECT_NE(PetArt::floatOffset(next), PetArt::floatOffset(t)) << t;
        EXPECT_EQ(PetArt::floatOffset(next - frame), PetArt::floatOffset(t)) << t;
        t = next;
    }
    EXPECT_LE(wakeUps, 14);
}

TEST(DesktopPet, theBadgeSaysWhatTheCompanionDoesAndTheShapeIsTheVisiblePixelsAndTheBadge) {
    CompanionWindowKit kit;
    DesktopPet pet(*kit.model, kit.ui.theme, nullptr);
    EXPECT_EQ(pet.badge()->text(), "VELK");
    ASSERT_TRUE(kit.startListening());
    EXPECT_EQ(pet.badge()->text(), "Listening");
    kit.model->speak(QStringLiteral("hello"));
    EXPECT_EQ(pet.badge()->text(), "Speaking");
    kit.model->stopSpeech();
    EXPECT_EQ(pet.badge()->text(), "VELK");

    pet.resize(176, 186);
    const QRegion shape = pet.shape();
    const QRect image = pet.art()->imageRect();
    ASSERT_FALSE(image.isEmpty());
    // The built-in pet's corner pixel is transparent; its middle is not.
    EXPECT_FALSE(shape.contains(image.topLeft()));
    EXPECT_FALSE(shape.contains(QPoint(2, 2)));  // the margin
    EXPECT_TRUE(shape.contains(image.center()));
    EXPECT_TRUE(shape.contains(pet.badge()->geometry().center()));

    // Shaped, the window holding the pet is cut to it.
    QWidget window;
    auto* holder = new QVBoxLayout(&window);
    holder->setContentsMargins(0, 0, 0, 0);
    auto* shaped = new DesktopPet(*kit.model, kit.ui.theme, nullptr);
    holder->addWidget(shaped);
    window.resize(176, 186);
    window.show();
    shaped->setShapedWindow(true);
    EXPECT_EQ(window.mask(), shaped->shape());
    shaped->setShapedWindow(false);
    EXPECT_TRUE(window.mask().isEmpty());
}

TEST(DesktopPet, callsTheUserNamingTheAssistantWhileSessionsNeedThem) {
    CompanionWindowKit kit;
    DesktopPet pet(*kit.model, kit.ui.theme, nullptr);
    pet.resize(176, 186);
    PetAttention attention(kit.ui.workspace.attention, kit.ui.workspace.sessions,
                           kit.ui.workspace.providers, pet);
    EXPECT_EQ(pet.badge()->text(), "VELK");
    QTemporaryDir folder;
    const auto asking = [&] {
        return kit.ui.workspace.sessions.startSession(
            "claude", "test", "printf 'Do you want to proceed?\\n'; read answer", folder.path());
    };
    const QString claude = kit.ui.workspace.providers.provider("claude").name;
    ASSERT_FALSE(claude.isEmpty());
    const SessionPointer first = asking();
    ASSERT_TRUE(waitUntil([&] { return pet.badge()->text() == claude + " needs you"; }));
    EXPECT_TRUE(pet.art()->calling());
    EXPECT_TRUE(pet.shape().contains(pet.art()->callRect().center()));
    const SessionPointer second = asking();
    ASSERT_TRUE(waitUntil([&] { return pet.badge()->text() == claude + " +1 need you"; }));
    // Dictation outranks the call while it runs.
    ASSERT_TRUE(kit.startListening());
    EXPECT_EQ(pet.badge()->text(), "Listening");
    kit.model->stopMicrophone();

    first->send("\r");
    second->send("\r");
    ASSERT_TRUE(waitUntil([&] { return pet.badge()->text() == "VELK"; }));
    EXPECT_FALSE(pet.art()->calling());
    EXPECT_TRUE(pet.art()->callRect().isEmpty());
}

}  // namespace
