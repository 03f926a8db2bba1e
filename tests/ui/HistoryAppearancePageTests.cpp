// The History page (filter, selection fallback, clearing, opening a snapshot's folder) and
// the Appearance page (presets, hand-picked colours, the text size slider).

#include "UiFixture.h"

#include "appearance/AppearancePage.h"
#include "support/TestSupport.h"
#include "workspace/HistoryPage.h"
#include "workspace/PreferenceKeys.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

namespace {

HistoryEntry entry(const QString& provider, const QString& title, const QString& directory,
                   int exitCode, const QString& output) {
    return {QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(),
            provider,
            title,
            directory,
            QDateTime::currentDateTimeUtc(),
            exitCode,
            output};
}

// A persisting workspace whose stored history holds three snapshots, newest first.
class HistoryPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        page.resize(1100, 700);
        page.show();
    }
    void TearDown() override {
        // The start-up connection check may still be running; let it finish first.
        testing_support::waitUntil([&] { return !workspace.checkingConnections(); });
    }
    QString listedID(int row) const {
        return page.list()->item(row)->data(Qt::UserRole).toString();
    }

    QTemporaryDir folder;
    const QList<HistoryEntry> stored = {
        entry("codex", "Fix the parser", folder.path(), 0, "parser fixed"),
        entry("claude", "Write docs", folder.path(), 2, QString()),
        entry("shell", "Codex review", folder.filePath("gone"), 130, "review")};
    UiFixture fixture{true, {{PreferenceKeys::history, HistoryEntry::encodeList(stored)}}};
    Workspace& workspace = fixture.workspace;
    HistoryPage page{workspace, fixture.theme};
};

TEST_F(HistoryPageTest, theFilterMatchesTitleOrProviderAndTheDetailFallsBackToTheNewest) {
    ASSERT_EQ(page.list()->count(), 3);
    EXPECT_FALSE(page.showsEmptyState());
    EXPECT_EQ(page.shownEntry()->id, stored[0].id) << "nothing selected shows the newest";
    EXPECT_EQ(page.outputView()->toPlainText(), "parser fixed");

    page.select(stored[1].id);
    EXPECT_EQ(page.outputView()->toPlainText(), "No terminal output was captured.");
    EXPECT_TRUE(page.list()->item(1)->isSelected());

    // "codex" matches one provider and one title, case-insensitively; order stays newest first.
    page.searchField()->setText("CODEX");
    ASSERT_EQ(page.list()->count(), 2);
    EXPECT_EQ(listedID(0), stored[0].id);
    EXPECT_EQ(listedID(1), stored[2].id);
    // The selected snapshot is filtered out: the newest listed one is shown instead.
    EXPECT_EQ(page.shownEntry()->id, stored[0].id);

    page.searchField()->setText("nothing like this");
    EXPECT_EQ(page.list()->count(), 0);
    EXPECT_FALSE(page.shownEntry().has_value());
    page.searchField()->clear();
    EXPECT_EQ(page.list()->count(), 3);
    EXPECT_EQ(page.shownEntry()->id, stored[1].id) << "the selection comes back";
}

TEST_F(HistoryPageTest, clearAsksFirstAndOnlyClearEmptiesTheHistory) {
    fixture.dialogs.answerAlert("Cancel");
    page.clearButton()->click();
    ASSERT_EQ(fixture.dialogs.alerts().size(), 1u);
    EXPECT_EQ(fixture.dialogs.alerts()[0].message, "Clear VELK’s saved history?");
    EXPECT_EQ(fixture.dialogs.alerts()[0].buttons, QStringList({"Clear", "Cancel"}));
    EXPECT_EQ(workspace.history().size(), 3);
    EXPECT_FALSE(page.showsEmptyState());

    fixture.dialogs.answerAlert("Clear");
    page.clearButton()->click();
    EXPECT_TRUE(workspace.history().isEmpty());
    EXPECT_TRUE(page.showsEmptyState());
    EXPECT_EQ(workspace.toast(), "VELK history cleared.");
}

TEST_F(HistoryPageTest, openFolderReopensTheSnapshotsFolderButNotADeletedOne) {
    page.select(stored[2].id);  // its folder does not exist
    page.openFolderButton()->click();
    EXPECT_FALSE(workspace.hasFolder());
    EXPECT_EQ(workspace.toast(),
              "This project folder is no longer available. Choose another folder.");

    workspace.setDestination(Destination::History);
    page.select(stored[0].id);
    page.openFolderButton()->click();
    EXPECT_EQ(workspace.folder(), QDir::cleanPath(folder.path()));
    EXPECT_EQ(workspace.destination(), Destination::Workspace);

    page.exportButton()->click();
    ASSERT_EQ(fixture.dialogs.savePanels().size(), 1u);
    EXPECT_EQ(fixture.dialogs.savePanels()[0].proposedName, "VELK-session.txt");
}

TEST(AppearancePage, presetsApplyAndAHandPickedColourMakesThePaletteCustom) {
    MemoryPreferences preferences;
    Theme theme(true, preferences);
    AppearancePage page(theme);
    page.show();
    auto checkShown = [&](const QString& id) {
        return page.presetCard(id)->findChild<QLabel*>("check")->isVisible();
    };
    EXPECT_TRUE(checkShown("vira"));

    QTest::mouseClick(page.presetCard("ocean"), Qt::LeftButton);
    EXPECT_EQ(theme.presetID(), "ocean");
    EXPECT_EQ(theme.backgroundHex(), "081322");
    EXPECT_TRUE(checkShown("ocean"));
    EXPECT_FALSE(checkShown("vira"));

    // The colour dialog is answered by the test; cancelling changes nothing.
    std::optional<QColor> answer;
    page.setColorChooser([&](const QColor&, const QString&) { return answer; });
    page.accentButton()->click();
    EXPECT_EQ(theme.presetID(), "ocean");
    answer = QColor(255, 0, 128);
    page.accentButton()->click();
    EXPECT_EQ(theme.accentHex(), "FF0080");
    EXPECT_EQ(theme.presetID(), "custom");
    EXPECT_TRUE(page.accentButton()->text().contains("FF0080"));
    EXPECT_FALSE(checkShown("ocean"));
    // The colour was stored with the former preset id; "custom" waits for the next save.
    EXPECT_EQ(preferences.value("preset").toString(), "ocean");
    EXPECT_EQ(preferences.value("accent").toString(), "FF0080");

    page.restoreButton()->click();
    EXPECT_EQ(theme.presetID(), "vira");
    EXPECT_EQ(theme.accentHex(), "00D9FF");
}

TEST(AppearancePage, theTextSliderStaysWithinTenToTwentyPoints) {
    MemoryPreferences preferences;
    Theme theme(false, preferences);
    AppearancePage page(theme);
    QSlider* slider = page.fontSlider();
    EXPECT_EQ(slider->value(), 12);
    EXPECT_EQ(page.fontSizeLabel()->text(), "12 pt");

    slider->setValue(25);
    EXPECT_EQ(theme.fontSize(), 20.0);
    EXPECT_EQ(page.fontSizeLabel()->text(), "20 pt");
    slider->setValue(3);
    EXPECT_EQ(theme.fontSize(), 10.0);
    QTest::keyClick(slider, Qt::Key_Right);
    EXPECT_EQ(theme.fontSize(), 11.0);

    // A size set elsewhere moves the slider without being rewritten by it.
    theme.setFontSize(16.0);
    EXPECT_EQ(slider->value(), 16);
    EXPECT_EQ(page.fontSizeLabel()->text(), "16 pt");
}

}  // namespace
