#include "CompanionTestSupport.h"

#include "core/companion/BrandAssets.h"
#include "core/companion/CompanionModel.h"
#include "core/services/Dialogs.h"
#include "core/services/Preferences.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace companion_test;

namespace {

const QString kNotAnImage = QStringLiteral("This image could not be opened. Try a PNG or JPEG.");
const QString kTooManyPixels =
    QStringLiteral("Choose an image no larger than 8192 pixels on either side.");
const QString kTooManyBytes = QStringLiteral("Choose an image smaller than 10 MB.");

// Preferences as a user who has started the companion before.
QVariantMap afterFirstStart(QVariantMap values) {
    values.insert(QStringLiteral("kelo.pet.warriorInstalled.v1"), true);
    return values;
}

class CompanionModelTest : public ::testing::Test {
protected:
    std::unique_ptr<CompanionModel> makeModel(bool persist = true) {
        return std::make_unique<CompanionModel>(persist, preferences, dialogs, nullptr);
    }

    QString writeImageFile(const QString& name, const QByteArray& bytes) {
        const QString path = folder.filePath(name);
        EXPECT_TRUE(testing_support::writeFile(path, bytes));
        return path;
    }

    MemoryPreferences preferences{afterFirstStart({})};
    ScriptedDialogs dialogs;
    QTemporaryDir folder;
};

TEST_F(CompanionModelTest, aModelWithoutPersistenceStartsWithThePixelPetAndTouchesNoPreference) {
    // The built-in pet's transparent corners: DesktopPet in CompanionViewTests.cpp. The other
    // defaults show on the Companion page (CompanionViewTests.cpp).
    auto model = makeModel(false);
    ASSERT_TRUE(model->displayedImage());
    EXPECT_EQ(model->displayedImage()->cacheKey(), BrandAssets::defaultPet()->cacheKey());
    EXPECT_EQ(model->message(), "Click your companion for a quick draft. Drag to move it.");

    model->setScale(1.2);
    model->setEnabled(false);
    ASSERT_TRUE(
        model->loadCustomImage(writeImageFile("a.png", encodeImage(solidImage(8, 8), "PNG"))));
    model->removeCustomImage();
    EXPECT_EQ(preferences.reads(), 0);
    EXPECT_EQ(preferences.writes(), 0);
}

TEST_F(CompanionModelTest,
       storedSettingsAreClampedAndNormalisedAndUnreadableOnesFallBackToDefaults) {
    for (const auto& [stored, expected] : std::vector<std::pair<QVariant, double>>{
             {3.0, 1.5}, {0.1, 0.65}, {0.8, 0.8}, {QStringLiteral("big"), 1.0}}) {
        preferences = MemoryPreferences(afterFirstStart({{"kelo.pet.scale", stored}}));
        EXPECT_EQ(makeModel()->scale(), expected) << stored.toString().toStdString();
    }
    // A text that reads like a boolean is not a boolean.
    preferences = MemoryPreferences(afterFirstStart(
        {{"kelo.pet.enabled", QStringLiteral("false")}, {"kelo.pet.animate", false}}));
    auto model = makeModel();
    EXPECT_TRUE(model->enabled());
    EXPECT_FALSE(model->animate());

    // Only a custom appearance with a readable image survives the start.
    const QByteArray png = encodeImage(solidImage(16, 12), "PNG");
    struct Case {
        QVariantMap stored;
        QString expected;
    };
    const QList<Case> appearances = {
        {{{"kelo.pet.appearance", "custom"}}, "default"},
        {{{"kelo.pet.appearance", "custom"}, {"kelo.pet.image", QByteArray("not a picture")}},
         "default"},
        {{{"kelo.pet.appearance", "warrior"}, {"kelo.pet.image", png}}, "default"},
        {{{"kelo.pet.appearance", "custom"}, {"kelo.pet.image", png}}, "custom"},
    };
    for (const Case& c : appearances) {
        preferences = MemoryPreferences(afterFirstStart(c.stored));
        EXPECT_EQ(makeModel()->appearance(), c.expected);
        EXPECT_EQ(preferences.values().value("kelo.pet.appearance"), c.expected);
    }
    ASSERT_TRUE(makeModel()->customImage());
    EXPECT_EQ(makeModel()->displayedImage()->size(), QSize(16, 12));
    EXPECT_EQ(makeModel()->displayName(), "Your custom companion");
}

TEST_F(CompanionModelTest, theFirstStartResetsToTheShownPixelPetOnceAndKeepsTheStoredImage) {
    const QByteArray png = encodeImage(solidImage(16, 12), "PNG");
    preferences = MemoryPreferences(
        {{"kelo.pet.appearance", "custom"}, {"kelo.pet.enabled", false}, {"kelo.pet.image", png}});
    {
        auto model = makeModel();
        EXPECT_EQ(model->appearance(), "default");
        EXPECT_TRUE(model->enabled());
        EXPECT_TRUE(model->customImage());
    }
    EXPECT_EQ(preferences.values().value("kelo.pet.warriorInstalled.v1"), true);
    EXPECT_EQ(preferences.values().value("kelo.pet.image").toByteArray(), png);

    // Later starts keep what the user chose.
    preferences.setValue("kelo.pet.appearance", "custom");
    preferences.setValue("kelo.pet.enabled", false);
    auto model = makeModel();
    EXPECT_EQ(model->appearance(), "custom");
    EXPECT_FALSE(model->enabled());
}

TEST_F(CompanionModelTest, settingsAreSavedBeforeTheWindowControllerHearsOfThem) {
    auto model = makeModel();
    QVariant enabledSeen, scaleSeen;
    QObject::connect(model.get(), &CompanionModel::visibilityChanged,
                     [&] { enabledSeen = preferences.value("kelo.pet.enabled"); });
    QObject::connect(model.get(), &CompanionModel::sizeChanged,
                     [&] { scaleSeen = preferences.value("kelo.pet.scale"); });
    model->setEnabled(false);
    model->setScale(1.25);
    model->setAnimate(false);
    EXPECT_EQ(enabledSeen, false);
    EXPECT_EQ(scaleSeen, 1.25);
    EXPECT_EQ(preferences.values().value("kelo.pet.animate"), false);
    // (What a later start reads back: the stored-settings test above.)
}

TEST_F(CompanionModelTest, anImportedImageIsShownAndStoredAndARefusedOneChangesNothing) {
    auto model = makeModel();
    model->setEnabled(false);
    const QByteArray good = encodeImage(solidImage(30, 20), "PNG");
    dialogs.answerOpen(writeImageFile("pet.png", good));
    model->importImage();
    ASSERT_EQ(dialogs.openPanels().size(), 1u);
    EXPECT_EQ(dialogs.openPanels()[0].message,
              "Choose a pet image. Transparent PNG images blend into your desktop.");
    EXPECT_EQ(model->appearance(), "custom");
    EXPECT_TRUE(model->enabled());
    EXPECT_EQ(model->displayedImage()->size(), QSize(30, 20));
    EXPECT_EQ(model->message(), "Your custom companion is ready.");
    EXPECT_EQ(preferences.values().value("kelo.pet.image").toByteArray(), good);
    const qint64 shownKey = model->customImage()->cacheKey();

    // 10000 x 1 pixels whose resolution makes it 100 x 1 points: still refused by pixels.
    QImage wideStrip = solidImage(10000, 1);
    wideStrip.setDotsPerMeterX(283465);  // 7200 dots per inch
    wideStrip.setDotsPerMeterY(283465);
    const QByteArray tiff = encodeImage(wideStrip, "TIFF");
    ASSERT_FALSE(tiff.isEmpty()) << "the TIFF image plugin is missing";
    struct Refused {
        QString name;
        QByteArray bytes;
        QString expected;
    };
    for (const Refused& c :
         std::vector<Refused>{{"notes.png", "just some text, not a picture", kNotAnImage},
                              {"empty.png", "", kNotAnImage},
                              {"wide.tiff", tiff, kTooManyPixels},
                              {"wide.png", encodeImage(solidImage(8193, 1), "PNG"), kTooManyPixels},
                              {"tall.png", encodeImage(solidImage(1, 8193), "PNG"), kTooManyPixels},
                              {"large.png", pngOfExactSize(10'000'001), kTooManyBytes}}) {
        SCOPED_TRACE(c.name.toStdString());
        const Result<void> loaded = model->loadCustomImage(writeImageFile(c.name, c.bytes));
        EXPECT_EQ(loaded ? QString("accepted") : loaded.error().message, c.expected);
        EXPECT_EQ(model->appearance(), "custom");
        EXPECT_EQ(model->customImage()->cacheKey(), shownKey);
        EXPECT_EQ(preferences.values().value("kelo.pet.image").toByteArray(), good);
    }
    EXPECT_FALSE(model->loadCustomImage(folder.filePath("missing.png")));
    // A refused or cancelled import reports through the message line and keeps the selection.
    dialogs.answerOpen(writeImageFile("notes.txt", "plain text"));
    model->importImage();
    EXPECT_EQ(model->message(), kNotAnImage);
    model->importImage();
    EXPECT_EQ(model->message(), kNotAnImage);
    EXPECT_EQ(model->customImage()->cacheKey(), shownKey);

    // Images at the limits are accepted.
    for (const QByteArray& bytes :
         {pngOfExactSize(10'000'000), encodeImage(solidImage(8192, 1), "PNG"),
          encodeImage(solidImage(1, 8192), "PNG")}) {
        const Result<void> loaded = model->loadCustomImage(writeImageFile("limit.png", bytes));
        EXPECT_TRUE(loaded) << loaded.error().message.toStdString();
    }
    EXPECT_EQ(model->customImage()->size(), QSize(1, 8192));
}

TEST_F(CompanionModelTest, removingTheCustomImageShowsTheBuiltInPetAgain) {
    auto model = makeModel();
    ASSERT_TRUE(
        model->loadCustomImage(writeImageFile("pet.png", encodeImage(solidImage(9, 9), "PNG"))));

    model->restoreDefaultPet();
    EXPECT_EQ(model->appearance(), "default");
    EXPECT_TRUE(model->customImage());  // restoring keeps the image for later
    EXPECT_TRUE(preferences.contains("kelo.pet.image"));
    EXPECT_EQ(model->message(), "Your default pixel companion is ready.");

    model->setAppearance("custom");
    model->removeCustomImage();
    // Without an image the custom appearance cannot be chosen.
    model->setAppearance("custom");
    EXPECT_EQ(model->appearance(), "default");
    EXPECT_EQ(model->displayName(), "VELK’s pixel companion");
    EXPECT_FALSE(model->customImage());
    EXPECT_FALSE(preferences.contains("kelo.pet.image"));
    EXPECT_EQ(model->displayedImage()->cacheKey(), BrandAssets::defaultPet()->cacheKey());
}

}  // namespace
