// The History page (filter, selection fallback, clearing, opening a snapshot's folder) and
// the Appearance page (presets, hand-picked colours, the text size slider).

#include "UiFixture.h"

#include "appearance/AppearancePage.h"
#include "appearance/ThemePreset.h"
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
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

HistoryEntry entry(const QString& provider, const QString& title, const QString& directory,
                   int exitCode, const QString& output) {
    HistoryEntry result;
    result.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    result.provider = provider;
    result.title = title;
    result.directory = directory;
    result.started = QDateTime::currentDateTimeUtc();
    result.exitCode = exitCode;
    result.output = output;
    return result;
}

}  // namespace

// A persisting workspace whose stored history holds three snapshots, newest first.
class HistoryPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        stored = {entry(QStringLiteral("codex"), QStringLiteral("Fix the parser"), folder.path(), 0,
                        QStringLiteral("parser fixed")),
                  entry(QStringLiteral("claude"), QStringLiteral("Write docs"), folder.path(), 2,
                        QString()),
                  entry(QStringLiteral("shell"), QStringLiteral("Codex review"),
                        folder.path() + QStringLiteral("/gone"), 130, QStringLiteral("review"))};
        preferences.setValue(PreferenceKeys::history, HistoryEntry::encodeList(stored));
        workspace = std::make_unique<Workspace>(
            true, WorkspaceServices{&preferences, &dialogs, &inhibitor, &desktop});
        page = std::make_unique<HistoryPage>(*workspace, theme);
        page->resize(1100, 700);
        page->show();
    }
    void TearDown() override {
        page.reset();
        // The start-up connection check may still be running; let it finish first.
        waitUntil([&] { return !workspace->checkingConnections(); });
    }

    QTemporaryDir folder;
    QList<HistoryEntry> stored;
    MemoryPreferences preferences;
    ScriptedDialogs dialogs;
    testing_support::FakeInhibitor inhibitor;
    testing_support::FakeDesktop desktop;
    Theme theme{false, preferences};
    std::unique_ptr<Workspace> workspace;
    std::unique_ptr<HistoryPage> page;
};

TEST_F(HistoryPageTest, theFilterMatchesTitleOrProviderAndTheDetailFallsBackToTheNewest) {
    ASSERT_EQ(page->list()->count(), 3);
    EXPECT_FALSE(page->showsEmptyState());
    EXPECT_EQ(page->shownEntry()->id, stored.at(0).id) << "nothing selected shows the newest";
    EXPECT_EQ(page->outputView()->toPlainText(), QStringLiteral("parser fixed"));

    page->select(stored.at(1).id);
    EXPECT_EQ(page->outputView()->toPlainText(),
              QStringLiteral("No terminal output was captured."));
    EXPECT_TRUE(page->list()->item(1)->isSelected());

    // "codex" matches one provider and one title, case-insensitively; order stays newest first.
    page->searchField()->setText(QStringLiteral("CODEX"));
    ASSERT_EQ(page->list()->count(), 2);
    EXPECT_EQ(page->list()->item(0)->data(Qt::UserRole).toString(), stored.at(0).id);
    EXPECT_EQ(page->list()->item(1)->data(Qt::UserRole).toString(), stored.at(2).id);
    // The selected snapshot is filtered out: the newest listed one is shown instead.
    EXPECT_EQ(page->shownEntry()->id, stored.at(0).id);

    page->searchField()->setText(QStringLiteral("nothing like this"));
    EXPECT_EQ(page->list()->count(), 0);
    EXPECT_FALSE(page->shownEntry().has_value());
    page->searchField()->clear();
    EXPECT_EQ(page->list()->count(), 3);
    EXPECT_EQ(page->shownEntry()->id, stored.at(1).id) << "the selection comes back";

    // Clicking a row selects it.
    const QRect row = page->list()->visualItemRect(page->list()->item(2));
    QTest::mouseClick(page->list()->viewport(), Qt::LeftButton, {}, row.center());
    EXPECT_EQ(page->selectedID(), stored.at(2).id);
}

TEST_F(HistoryPageTest, clearAsksFirstAndOnlyClearEmptiesTheHistory) {
    dialogs.answerAlert(QStringLiteral("Cancel"));
    page->clearButton()->click();
    ASSERT_EQ(dialogs.alerts().size(), 1u);
    EXPECT_EQ(dialogs.alerts().at(0).message, QStringLiteral("Clear VELK’s saved history?"));
    EXPECT_EQ(dialogs.alerts().at(0).buttons,
              QStringList({QStringLiteral("Clear"), QStringLiteral("Cancel")}));
    EXPECT_EQ(workspace->history().size(), 3);
    EXPECT_FALSE(page->showsEmptyState());

    dialogs.answerAlert(QStringLiteral("Clear"));
    page->clearButton()->click();
    EXPECT_TRUE(workspace->history().isEmpty());
    EXPECT_TRUE(page->showsEmptyState());
    EXPECT_EQ(workspace->toast(), QStringLiteral("VELK history cleared."));
}

TEST_F(HistoryPageTest, openFolderReopensTheSnapshotsFolderButNotADeletedOne) {
    page->select(stored.at(2).id);  // its folder does not exist
    page->openFolderButton()->click();
    EXPECT_FALSE(workspace->hasFolder());
    EXPECT_EQ(workspace->toast(),
              QStringLiteral("This project folder is no longer available. Choose another folder."));

    workspace->setDestination(Destination::History);
    page->select(stored.at(0).id);
    page->openFolderButton()->click();
    EXPECT_EQ(workspace->folder(), QDir::cleanPath(folder.path()));
    EXPECT_EQ(workspace->destination(), Destination::Workspace);

    page->exportButton()->click();
    ASSERT_EQ(dialogs.savePanels().size(), 1u);
    EXPECT_EQ(dialogs.savePanels().at(0).proposedName, QStringLiteral("VELK-session.txt"));
}

TEST(AppearancePage, presetsApplyAndAHandPickedColourMakesThePaletteCustom) {
    MemoryPreferences preferences;
    Theme theme(true, preferences);
    AppearancePage page(theme);
    page.show();
    auto checkShown = [&](const QString& id) {
        return page.presetCard(id)->findChild<QLabel*>(QStringLiteral("check"))->isVisible();
    };
    EXPECT_TRUE(checkShown(QStringLiteral("vira")));

    QTest::mouseClick(page.presetCard(QStringLiteral("ocean")), Qt::LeftButton);
    EXPECT_EQ(theme.presetID(), QStringLiteral("ocean"));
    EXPECT_EQ(theme.backgroundHex(), QStringLiteral("081322"));
    EXPECT_TRUE(checkShown(QStringLiteral("ocean")));
    EXPECT_FALSE(checkShown(QStringLiteral("vira")));

    // The colour dialog is answered by the test; cancelling changes nothing.
    std::optional<QColor> answer;
    page.setColorChooser([&](const QColor&, const QString&) { return answer; });
    page.accentButton()->click();
    EXPECT_EQ(theme.presetID(), QStringLiteral("ocean"));
    answer = QColor(255, 0, 128);
    page.accentButton()->click();
    EXPECT_EQ(theme.accentHex(), QStringLiteral("FF0080"));
    EXPECT_EQ(theme.presetID(), QStringLiteral("custom"));
    EXPECT_TRUE(page.accentButton()->text().contains(QStringLiteral("FF0080")));
    EXPECT_FALSE(checkShown(QStringLiteral("ocean")));
    // The colour was stored with the former preset id; "custom" waits for the next save.
    EXPECT_EQ(preferences.value(QStringLiteral("preset")).toString(), QStringLiteral("ocean"));
    EXPECT_EQ(preferences.value(QStringLiteral("accent")).toString(), QStringLiteral("FF0080"));

    page.restoreButton()->click();
    EXPECT_EQ(theme.presetID(), QStringLiteral("vira"));
    EXPECT_EQ(theme.accentHex(), QStringLiteral("00D9FF"));
}

TEST(AppearancePage, theTextSliderStaysWithinTenToTwentyPoints) {
    MemoryPreferences preferences;
    Theme theme(false, preferences);
    AppearancePage page(theme);
    QSlider* slider = page.fontSlider();
    EXPECT_EQ(slider->value(), 12);
    EXPECT_EQ(page.fontSizeLabel()->text(), QStringLiteral("12 pt"));

    slider->setValue(25);
    EXPECT_EQ(theme.fontSize(), 20.0);
    EXPECT_EQ(page.fontSizeLabel()->text(), QStringLiteral("20 pt"));
    slider->setValue(3);
    EXPECT_EQ(theme.fontSize(), 10.0);
    QTest::keyClick(slider, Qt::Key_Right);
    EXPECT_EQ(theme.fontSize(), 11.0);

    // A size set elsewhere moves the slider without being rewritten by it.
    theme.setFontSize(16.0);
    EXPECT_EQ(slider->value(), 16);
    EXPECT_EQ(page.fontSizeLabel()->text(), QStringLiteral("16 pt"));
}
