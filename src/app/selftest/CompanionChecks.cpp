#include "app/selftest/SelfTest.h"

#include "core/appearance/Theme.h"
#include "core/companion/BrandAssets.h"
#include "core/companion/CompanionModel.h"
#include "core/services/Dialogs.h"
#include "core/services/Preferences.h"
#include "core/workspace/Workspace.h"
#include "platform/SpeechModule.h"
#include "ui/companion/CompanionController.h"
#include "ui/navigation/Navigator.h"

#include <QDir>
#include <QFile>
#include <QImage>

#include <mutex>

namespace {

SelfTestResult builtInArtworkIsTransparent(SelfTestContext&) {
    if (!BrandAssets::logo() || !BrandAssets::defaultPet()) {
        return QStringLiteral("the built-in logo or pet image is missing");
    }
    if (qAlpha(BrandAssets::defaultPet()->pixel(0, 0)) != 0) {
        return QStringLiteral("the pet's corner pixel is not transparent");
    }
    return std::nullopt;
}

SelfTestResult petImageImportChecksTheFile(SelfTestContext& context) {
    const QString folder = QDir(context.outputFolder).filePath(QStringLiteral("companion"));
    QDir().mkpath(folder);
    const QString goodPath = QDir(folder).filePath(QStringLiteral("pet.png"));
    const QString widePath = QDir(folder).filePath(QStringLiteral("wide.png"));
    const QString textPath = QDir(folder).filePath(QStringLiteral("notes.png"));
    QImage pet(24, 20, QImage::Format_ARGB32);
    pet.fill(Qt::transparent);
    QImage wide(8193, 1, QImage::Format_ARGB32);
    wide.fill(Qt::white);
    QFile text(textPath);
    if (!pet.save(goodPath, "PNG") || !wide.save(widePath, "PNG") ||
        !text.open(QIODevice::WriteOnly) || text.write("not a picture") < 0) {
        return QStringLiteral("could not write the sample images in %1").arg(folder);
    }
    text.close();

    MemoryPreferences preferences;
    ScriptedDialogs dialogs;
    CompanionModel model(false, preferences, dialogs, nullptr);
    if (const Result<void> loaded = model.loadCustomImage(goodPath); !loaded) {
        return QStringLiteral("a 24 x 20 PNG was refused: %1").arg(loaded.error().message);
    }
    if (model.appearance() != QStringLiteral("custom") || !model.displayedImage() ||
        model.displayedImage()->size() != QSize(24, 20)) {
        return QStringLiteral("the loaded PNG is not the shown companion");
    }
    if (const Result<void> wide = model.loadCustomImage(widePath);
        wide ||
        wide.error().message != u"Choose an image no larger than 8192 pixels on either side.") {
        return QStringLiteral("an image 8193 pixels wide was not refused by its pixels");
    }
    if (const Result<void> text = model.loadCustomImage(textPath);
        text || text.error().message != u"This image could not be opened. Try a PNG or JPEG.") {
        return QStringLiteral("a text file was not refused as an image");
    }
    if (model.displayedImage()->size() != QSize(24, 20) || preferences.writes() != 0) {
        return QStringLiteral("a refused image changed the companion or the preferences");
    }
    return std::nullopt;
}

// Opens the speech module, loads the installed pocketsphinx model through it and ends an
// utterance of silence: the recognizer answers with a final, empty result and no error.
SelfTestResult recognizerLoadsItsModel(SelfTestContext&) {
    // Declared first: the recognizer's thread may still report while it is destroyed.
    std::mutex mutex;
    std::optional<RecognitionUpdate> last;
    Result<std::unique_ptr<SpeechServices>> services = loadSpeechModule(speechModuleCandidates());
    if (!services) {
        return services.error().message;
    }
    bool installed = false;
    services.value()->requestRecognitionAuthorization([&](bool granted) { installed = granted; });
    if (!installed) {
        return QStringLiteral("the speech module finds no pocketsphinx model");
    }
    const std::unique_ptr<SpeechRecognizer> recognizer =
        services.value()->makeRecognizer(QLocale(QLocale::English, QLocale::UnitedStates));
    if (!recognizer) {
        return QStringLiteral("the speech module has no recognizer for US English");
    }
    recognizer->start([&](const RecognitionUpdate& update) {
        std::lock_guard lock(mutex);
        last = update;
    });
    recognizer->appendAudio(QByteArray(16000 * 2, '\0'));  // one second of silence
    recognizer->endAudio();
    const bool answered = selfTestWaitUntil(
        [&] {
            std::lock_guard lock(mutex);
            return last && (last->isFinal || last->error);
        },
        15000);
    std::lock_guard lock(mutex);
    if (!answered) {
        return QStringLiteral("the recognizer gave no final result within 15 seconds");
    }
    if (last->error) {
        return QStringLiteral("the recognizer failed: %1").arg(*last->error);
    }
    if (!last->text.value_or(QString()).isEmpty()) {
        return QStringLiteral("silence was heard as \"%1\"").arg(*last->text);
    }
    return std::nullopt;
}

// The companion's windows on this display: the pet at home on the main screen with its
// position stored, the quick draft beside it, and a draft handed on to the workspace's task.
SelfTestResult companionWindowsPlaceThePetAndHandOnTheDraft(SelfTestContext& context) {
    const std::optional<DesktopScreen> main = qtScreenLayout().mainScreen();
    if (!main) {
        return QStringLiteral("no screen is attached");
    }
    MemoryPreferences preferences;
    ScriptedDialogs dialogs;
    CompanionModel model(false, preferences, dialogs, nullptr);
    Theme theme(false, preferences);
    Workspace& workspace = *context.workspace;
    Navigator navigator(workspace.sessions, workspace.launcher);
    const QString prompt = workspace.launcher.prompt();
    int mainShown = 0;
    CompanionController controller(
        model,
        {workspace.launcher, workspace.sessions, workspace.history, workspace.notices, navigator},
        theme, preferences, {[&mainShown] { ++mainShown; }, {}});

    const QRectF pet = controller.petFrame();
    const QPointF home = DesktopGeometry::homeOrigin(pet.size(), main->visibleFrame);
    if (!controller.panel()->isVisible() || pet.topLeft() != home) {
        return QStringLiteral("the pet is not shown at home (%1, %2) but at (%3, %4)")
            .arg(home.x())
            .arg(home.y())
            .arg(pet.x())
            .arg(pet.y());
    }
    if (preferences.value(QStringLiteral("kelo.pet.x")).toDouble() != home.x() ||
        preferences.value(QStringLiteral("kelo.pet.y")).toDouble() != home.y()) {
        return QStringLiteral("the first position was not stored");
    }
    controller.toggleControls();
    const QRectF controls = controller.controlsFrame();
    if (!controller.controlsPanel()->isVisible() || controls.intersects(pet) ||
        !main->visibleFrame.contains(controls)) {
        return QStringLiteral("the quick draft did not open beside the pet on the screen");
    }
    model.setDraft(QStringLiteral("  Check the companion  "));
    workspace.launcher.setPrompt(QStringLiteral("Self-test task"));
    controller.useDraft();
    const QString handedOn = workspace.launcher.prompt();
    workspace.launcher.setPrompt(prompt);
    if (handedOn != QStringLiteral("Self-test task\n\nCheck the companion") ||
        !model.draft().isEmpty() || controller.controlsPanel()->isVisible() || mainShown != 1) {
        return QStringLiteral("the draft was not handed on to the task: \"%1\"").arg(handedOn);
    }
    controller.shutdown();
    if (controller.panel()->isVisible()) {
        return QStringLiteral("the pet stayed on the desktop after shutdown");
    }
    return std::nullopt;
}

}  // namespace

std::vector<SelfTestCheck> companionChecks() {
    return {
        {QStringLiteral("built-in companion artwork is present and transparent"),
         builtInArtworkIsTransparent},
        {QStringLiteral("pet image import accepts a PNG and refuses oversized and non-images"),
         petImageImportChecksTheFile},
        {QStringLiteral("the speech recognizer loads its model and ends an utterance"),
         recognizerLoadsItsModel},
        {QStringLiteral("the companion's windows place the pet and hand on a draft"),
         companionWindowsPlaceThePetAndHandOnTheDraft},
    };
}
