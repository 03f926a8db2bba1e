// The main window and its pages against a real workspace: composer rules, the session deck
// layout, the sidebar badge and recent projects, notices, live theming and the quit policy.
#include "UiFixture.h"
#include "support/TestSupport.h"
#include "terminal/TerminalSession.h"
#include "ui/Composer.h"
#include "ui/MainWindow.h"
#include "ui/QuitPolicy.h"
#include "ui/SessionDeck.h"
#include "ui/TerminalPane.h"
#include "ui/WindowCapture.h"
#include "ui/WorkspacePage.h"

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testing_support::waitUntil;

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void TearDown() override {
        fixture.workspace.stopAll();
        waitUntil(
            [this] {
                for (const SessionPointer& session : fixture.workspace.sessions()) {
                    if (session->running()) {
                        return false;
                    }
                }
                return true;
            },
            5s);
    }

    MainWindow& window() {
        if (!m_window) {
            m_window = std::make_unique<MainWindow>(fixture.workspace, fixture.theme);
            m_window->resize(1440, 900);
            m_window->show();
        }
        return *m_window;
    }
    WorkspacePage* workspacePage() {
        return static_cast<WorkspacePage*>(window().page(Destination::Workspace));
    }
    SessionPointer startSession(const QString& command = QStringLiteral("exec sleep 30")) {
        return fixture.workspace.startSession(QStringLiteral("shell"), QStringLiteral("test"),
                                              command, folder.path());
    }
    QString makeFolder(const QString& name) {
        const QString path = folder.filePath(name);
        QDir().mkpath(path);
        return path;
    }

    UiFixture fixture;
    QTemporaryDir folder;
    std::unique_ptr<MainWindow> m_window;
};

TEST_F(MainWindowTest, composerNeedsAProjectLineAndANonBlankPrompt) {
    Composer* composer = workspacePage()->composer();
    EXPECT_EQ(composer->projectLabel()->text(), QStringLiteral("Select a project first"));
    EXPECT_FALSE(composer->runButton()->isEnabled());

    fixture.workspace.setPrompt(QStringLiteral("  \n\t \n "));
    EXPECT_FALSE(composer->runButton()->isEnabled());
    composer->editor()->setPlainText(QStringLiteral("Fix the tests"));
    EXPECT_EQ(fixture.workspace.prompt(), QStringLiteral("Fix the tests"));
    EXPECT_TRUE(composer->runButton()->isEnabled());
    EXPECT_EQ(composer->runButton()->text(), QStringLiteral("Run task"));
    EXPECT_FALSE(composer->cancelButton()->isVisible());

    fixture.workspace.setFolder(makeFolder(QStringLiteral("demo")));
    EXPECT_EQ(composer->projectLabel()->text(), QStringLiteral("demo"));

    composer->sharedFolderButton()->click();
    EXPECT_FALSE(fixture.workspace.separateCopies());
    EXPECT_TRUE(composer->sharedFolderButton()->isChecked());
    EXPECT_FALSE(composer->separateCopiesButton()->isChecked());
}

TEST_F(MainWindowTest, quickTaskCardPutsItsPromptInTheComposer) {
    for (QPushButton* button : workspacePage()->findChildren<QPushButton*>()) {
        if (button->toolTip().startsWith(QStringLiteral("Review this project"))) {
            button->click();
        }
    }
    EXPECT_TRUE(fixture.workspace.prompt().startsWith(QStringLiteral("Review this project")));
    EXPECT_EQ(workspacePage()->composer()->editor()->toPlainText(), fixture.workspace.prompt());
}

TEST(PaneGridWidth, twoSessionsGetFullWidthAndThreeShareRowsWithAFloor) {
    EXPECT_EQ(PaneGrid::paneWidth(1, 1000), 998);
    EXPECT_EQ(PaneGrid::paneWidth(2, 1000), 998);
    EXPECT_EQ(PaneGrid::paneWidth(2, 100), 240);
    EXPECT_EQ(PaneGrid::paneWidth(3, 1000), 493);
    EXPECT_EQ(PaneGrid::paneWidth(4, 400), 260);
}

TEST_F(MainWindowTest, gridLaysOutTwoSessionsFullWidthAndThreeTwoPerRow) {
    fixture.workspace.setFocusMode(false);
    window();
    startSession();
    startSession();
    testing_support::processEventsFor(50ms);
    SessionDeck* deck = workspacePage()->deck();
    EXPECT_FALSE(workspacePage()->showsWelcome());
    QList<TerminalPane*> panes = deck->visiblePanes();
    ASSERT_EQ(panes.size(), 2);
    EXPECT_EQ(panes[0]->x(), panes[1]->x());
    EXPECT_LT(panes[0]->y(), panes[1]->y());
    const int available = deck->grid()->parentWidget()->width();
    EXPECT_EQ(panes[0]->width(), PaneGrid::paneWidth(2, available));

    startSession();
    testing_support::processEventsFor(50ms);
    panes = deck->visiblePanes();
    ASSERT_EQ(panes.size(), 3);
    EXPECT_EQ(panes[0]->y(), panes[1]->y());
    EXPECT_LT(panes[0]->x(), panes[1]->x());
    EXPECT_EQ(panes[0]->width(), PaneGrid::paneWidth(3, deck->grid()->parentWidget()->width()));
    EXPECT_GE(panes[0]->width(), 260);

    fixture.workspace.setFocusMode(true);
    fixture.workspace.setActiveSessionID(fixture.workspace.sessions()[1]->id());
    panes = deck->visiblePanes();
    ASSERT_EQ(panes.size(), 1);
    EXPECT_EQ(panes[0]->session(), fixture.workspace.sessions()[1].get());
    EXPECT_TRUE(panes[0]->isVisible());
}

TEST_F(MainWindowTest, sessionBadgeCountsSessionsAndDisappearsWithTheLast) {
    window();
    EXPECT_FALSE(window().sessionBadge()->isVisible());
    const SessionPointer first = startSession(QStringLiteral("exit 0"));
    const SessionPointer second = startSession(QStringLiteral("exit 3"));
    EXPECT_TRUE(window().sessionBadge()->isVisible());
    EXPECT_EQ(window().sessionBadge()->text(), QStringLiteral("2"));
    ASSERT_TRUE(waitUntil([&] { return !first->running() && !second->running(); }, 10s));

    fixture.workspace.closeSession(first);
    EXPECT_EQ(window().sessionBadge()->text(), QStringLiteral("1"));
    fixture.workspace.closeSession(second);
    EXPECT_FALSE(window().sessionBadge()->isVisible());
    EXPECT_TRUE(workspacePage()->showsWelcome());
}

TEST_F(MainWindowTest, recentProjectsShowTheNewestFourOrAllOfFewer) {
    window();
    EXPECT_TRUE(window().shownRecentFolders().isEmpty());
    bool placeholder = false;
    for (QLabel* label : window().findChildren<QLabel*>()) {
        placeholder |= label->text() == QStringLiteral("Your projects will appear here.");
    }
    EXPECT_TRUE(placeholder);

    QStringList opened;
    for (int i = 0; i < 3; ++i) {
        opened.prepend(QDir::cleanPath(makeFolder(QStringLiteral("p%1").arg(i))));
        fixture.workspace.setFolder(opened.front());
    }
    EXPECT_EQ(window().shownRecentFolders(), opened);
    for (int i = 3; i < 6; ++i) {
        opened.prepend(QDir::cleanPath(makeFolder(QStringLiteral("p%1").arg(i))));
        fixture.workspace.setFolder(opened.front());
    }
    EXPECT_EQ(window().shownRecentFolders(), opened.mid(0, 4));
}

TEST_F(MainWindowTest, choosingARecentProjectKeepsUnsavedEditsWhenTheUserCancels) {
    const QString first = QDir::cleanPath(makeFolder(QStringLiteral("first")));
    const QString second = QDir::cleanPath(makeFolder(QStringLiteral("second")));
    fixture.workspace.setFolder(first);
    fixture.workspace.setFolder(second);
    fixture.workspace.setEditorText(QStringLiteral("unsaved work"));
    fixture.dialogs.answerAlert(QStringLiteral("Cancel"));

    QToolButton* entry = nullptr;
    for (QToolButton* button : window().findChildren<QToolButton*>()) {
        if (button->toolTip() == first) {
            entry = button;
        }
    }
    ASSERT_NE(entry, nullptr);
    entry->click();
    EXPECT_EQ(fixture.workspace.folder(), second);
    EXPECT_EQ(fixture.workspace.editorText(), QStringLiteral("unsaved work"));
    ASSERT_EQ(fixture.dialogs.alerts().size(), 1u);
}

TEST_F(MainWindowTest, noticesFloatAboveThePageAndFadeWhenCleared) {
    fixture.workspace.setNoticeDurationMs(100);
    window();
    fixture.workspace.notify(QStringLiteral("Workspace refreshed."));
    EXPECT_TRUE(window().notice()->isVisible());
    EXPECT_EQ(window().notice()->text(), QStringLiteral("Workspace refreshed."));
    EXPECT_TRUE(waitUntil([this] { return !window().notice()->isVisible(); }, 3s));
    // A notice quoting a file name shows it as written, never as markup.
    fixture.workspace.notify(QStringLiteral("Saved <img src=x>.py"));
    EXPECT_EQ(window().notice()->textFormat(), Qt::PlainText);
    EXPECT_EQ(window().notice()->text(), QStringLiteral("Saved <img src=x>.py"));
}

TEST_F(MainWindowTest, styleFollowsTheThemeLive) {
    window();
    fixture.theme.setAccentHex(QStringLiteral("FF0000"));
    EXPECT_TRUE(window().styleSheet().contains(QStringLiteral("rgba(255, 0, 0, 1.000)")));
    window().findChild<QToolButton*>()->click();  // any button still works after restyling
}

TEST_F(MainWindowTest, pageEntriesSwitchThePageAndTheHeader) {
    for (QToolButton* button : window().findChildren<QToolButton*>()) {
        if (button->text() == QStringLiteral("Settings")) {
            button->click();
        }
    }
    EXPECT_EQ(fixture.workspace.destination(), Destination::Settings);
    EXPECT_EQ(window().currentPage(), window().page(Destination::Settings));
}

TEST_F(MainWindowTest, windowCaptureWritesThePageAsPngAndReportsWriteFailures) {
    window();
    testing_support::processEventsFor(50ms);
    const QString path = folder.filePath(QStringLiteral("Workspace.png"));
    EXPECT_EQ(captureWindow(&window(), path), std::nullopt);
    const QImage image(path);
    EXPECT_EQ(image.size(), window().centralWidget()->size() * window().devicePixelRatio());
    const auto error = captureWindow(&window(), folder.filePath(QStringLiteral("missing/x.png")));
    ASSERT_TRUE(error.has_value());
    EXPECT_FALSE(error->isEmpty());
}

// ---- Quit policy ---------------------------------------------------------------------------

TEST_F(MainWindowTest, quitAsksNothingInAutomationOrWithoutRunningSessions) {
    EXPECT_TRUE(confirmQuit(fixture.workspace, fixture.dialogs, true));
    EXPECT_TRUE(confirmQuit(fixture.workspace, fixture.dialogs, false));
    EXPECT_TRUE(fixture.dialogs.alerts().empty());
}

TEST_F(MainWindowTest, quitWithRunningSessionsAsksAndCancelKeepsThemRunning) {
    const SessionPointer session = startSession();
    ASSERT_TRUE(waitUntil([&] { return session->running(); }, 5s));
    fixture.dialogs.answerAlert(QStringLiteral("Cancel"));
    EXPECT_FALSE(confirmQuit(fixture.workspace, fixture.dialogs, false));
    ASSERT_EQ(fixture.dialogs.alerts().size(), 1u);
    EXPECT_EQ(fixture.dialogs.alerts()[0].message,
              QStringLiteral("Quit and stop running sessions?"));
    EXPECT_EQ(fixture.dialogs.alerts()[0].buttons,
              (QStringList{QStringLiteral("Quit & stop"), QStringLiteral("Cancel")}));
    testing_support::processEventsFor(100ms);
    EXPECT_TRUE(session->running());

    fixture.dialogs.answerAlert(QStringLiteral("Quit & stop"));
    EXPECT_TRUE(confirmQuit(fixture.workspace, fixture.dialogs, false));
    EXPECT_TRUE(waitUntil([&] { return !session->running(); }, 5s));
}

TEST_F(MainWindowTest, quitWithUnsavedEditsKeptAsksNothingAboutSessions) {
    const SessionPointer session = startSession();
    ASSERT_TRUE(waitUntil([&] { return session->running(); }, 5s));
    fixture.workspace.setEditorText(QStringLiteral("draft"));
    fixture.dialogs.answerAlert(QStringLiteral("Cancel"));
    EXPECT_FALSE(confirmQuit(fixture.workspace, fixture.dialogs, false));
    ASSERT_EQ(fixture.dialogs.alerts().size(), 1u);
    EXPECT_EQ(fixture.dialogs.alerts()[0].message, QStringLiteral("Save your changes?"));
    EXPECT_TRUE(session->running());
}

}  // namespace
