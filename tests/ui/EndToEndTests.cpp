// A task typed into the composer and run in shared-folder mode in two assistants, driven
// through the real main window, workspace and terminal sessions in this process (on the X
// display when there is one). The assistants are the fake command-line tools of the test
// fixtures, found through PATH.
#include "UiFixture.h"
#include "support/TestSupport.h"
#include "terminal/TerminalScreen.h"
#include "terminal/TerminalSession.h"
#include "terminal/TerminalView.h"
#include "ui/Composer.h"
#include "ui/MainWindow.h"
#include "ui/SessionDeck.h"
#include "ui/TerminalPane.h"
#include "ui/WorkspacePage.h"

#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testing_support::waitUntil;

namespace {

TEST(EndToEnd, aTaskRunInTwoAssistantsShowsEachAssistantsOutputInItsOwnPane) {
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", testing_support::fixturesBin().toLocal8Bit() + ':' + path);
    QTemporaryDir project;
    UiFixture fixture;
    fixture.workspace.refreshProviders();
    ASSERT_TRUE(waitUntil([&] {
        return fixture.workspace.available().contains(QStringLiteral("claude")) &&
               fixture.workspace.available().contains(QStringLiteral("codex"));
    }));
    fixture.workspace.setFolder(project.path());
    fixture.workspace.setSelectedProviders({QStringLiteral("claude"), QStringLiteral("codex")});

    MainWindow window(fixture.workspace, fixture.theme);
    window.resize(1440, 900);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto* page = static_cast<WorkspacePage*>(window.page(Destination::Workspace));
    Composer* composer = page->composer();

    composer->editor()->setFocus();
    QTest::keyClicks(composer->editor(), QStringLiteral("Add a greeting"));
    EXPECT_EQ(fixture.workspace.prompt(), QStringLiteral("Add a greeting"));
    QTest::mouseClick(composer->sharedFolderButton(), Qt::LeftButton);
    ASSERT_TRUE(composer->runButton()->isEnabled());
    QTest::mouseClick(composer->runButton(), Qt::LeftButton);

    ASSERT_TRUE(waitUntil([&] { return page->deck()->visiblePanes().size() == 2; }));
    const QList<TerminalPane*> panes = page->deck()->visiblePanes();
    auto shows = [](TerminalPane* pane, const QString& marker) {
        return pane->session()->screen().plainText().contains(marker);
    };
    ASSERT_TRUE(waitUntil(
        [&] {
            return shows(panes[0], QStringLiteral("FAKE_claude_DONE")) &&
                   shows(panes[1], QStringLiteral("FAKE_codex_DONE"));
        },
        20s))
        << panes[0]->session()->screen().plainText().toStdString() << "\n---\n"
        << panes[1]->session()->screen().plainText().toStdString();
    // Each pane got its own assistant's output and the task as one argument.
    EXPECT_FALSE(shows(panes[0], QStringLiteral("FAKE_codex_")));
    EXPECT_FALSE(shows(panes[1], QStringLiteral("FAKE_claude_")));
    EXPECT_TRUE(shows(panes[0], QStringLiteral("Add a greeting")));
    for (TerminalPane* pane : panes) {
        EXPECT_TRUE(pane->isVisible());
        EXPECT_GT(pane->terminal()->view()->paintCount(), 0u);
    }
    EXPECT_TRUE(fixture.workspace.prompt().isEmpty());
    qputenv("PATH", path);
}

}  // namespace
