// A team run on a project of 50,000 files, beyond the standard limits of separate copies:
// with "Large projects" turned on in Settings it is prepared (the copy time estimated before
// the copies start), reviewed and applied through the pages.

#include "core/appearance/Theme.h"
#include "core/services/Preferences.h"
#include "core/workspace/PreferenceKeys.h"
#include "ui/kit/Switch.h"
#include "ui/navigation/Navigator.h"
#include "ui/runs/TeamRunsPage.h"
#include "ui/settings/SettingsPage.h"
#include "ui/workspace/Composer.h"
#include "workspace/WorkspaceTestKit.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

constexpr int kFolders = 500;
constexpr int kFilesPerFolder = 100;

// Writes `text` to `path`, which must not exist yet. The tree's files are empty: the listing
// and the copies go by files, and a file without blocks costs nothing to delete on disks
// that discard freed blocks one file at a time.
bool create(const QString& path, const QByteArray& text = {}) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    const bool written =
        fd >= 0 && ::write(fd, text.constData(), size_t(text.size())) == text.size();
    return ::close(fd) == 0 && written;
}

}  // namespace

class LargeProjectPageTest : public WorkspaceTest {};

TEST_F(LargeProjectPageTest, aTeamRunOf50000FilesIsPreparedReviewedAndAppliedWithLargeProjectsOn) {
    for (int folder = 0; folder < kFolders; ++folder) {
        const QString name = projectFile(QStringLiteral("m%1").arg(folder, 3, 10, QChar(u'0')));
        ASSERT_TRUE(QDir().mkdir(name));
        for (int file = 0; file < kFilesPerFolder; ++file) {
            ASSERT_TRUE(create(name + QStringLiteral("/f%1.txt").arg(file, 3, 10, QChar(u'0'))));
        }
    }
    ASSERT_TRUE(create(projectFile("main.txt"), "original\n"));
    ScopedEnvironment edit("VELK_FAKE_WRITE_FILE", "main.txt");
    Workspace& model = openWorkspace(true);
    model.launcher.setSeparateCopies(true);
    model.teamRuns.setRunStorageRoot(scratch() + "/runs");
    model.launcher.setSelectedProviders({"claude"});

    // The setting, turned on where the user finds it, is kept.
    Theme theme(false, preferences);
    Navigator navigator(model.sessions, model.launcher);
    SettingsPage settings(model.providers, model.keepAwake, model.programClipboard,
                          model.pasteSafety, model.scrollback, navigator, model.notices, &desktop,
                          theme, {&model.teamRuns, &model.project, nullptr});
    ASSERT_FALSE(settings.largeProjectsSwitch()->isChecked());
    settings.largeProjectsSwitch()->click();
    EXPECT_TRUE(model.teamRuns.largeProjects());
    EXPECT_EQ(preferences.value(PreferenceKeys::largeProjects), true);

    // The composer says how long the copying may take once the project is listed.
    Composer composer(model.launcher, model.project, model.providers, model.teamRuns);
    QStringList progress;
    QObject::connect(&model.teamRuns, &TeamRunController::preparationProgressChanged,
                     [&] { progress << composer.progressLabel()->text(); });
    model.launcher.setPrompt("Improve the greeting");
    model.launcher.dispatchPrompt();
    ASSERT_TRUE(waitUntil([&] { return !model.teamRuns.teamRuns().isEmpty(); }, 60s))
        << model.notices.toast().toStdString();
    ASSERT_TRUE(waitForSessionsToFinish());
    ASSERT_FALSE(progress.filter("Estimated copy time: about ").isEmpty())
        << progress.join('\n').toStdString();
    EXPECT_TRUE(progress.filter("(50,001 files, ").size() > 0) << progress.join('\n').toStdString();

    const RunCopy copy = model.teamRuns.teamRuns().first().copies.front();
    ASSERT_TRUE(create(copy.directory + "/m499/new.txt", "new\n"));
    ASSERT_TRUE(QFile::remove(copy.directory + "/m000/f000.txt"));

    TeamRunsPage page(model.teamRuns, model.sessions, model.providers, model.project,
                      model.reviewLayout, navigator, dialogs, &desktop);
    page.resize(1100, 760);
    page.show();
    QSignalSpy inspected(&page, &TeamRunsPage::inspectionFinished);
    page.inspect(copy);
    ASSERT_TRUE(inspected.wait(60000));
    const QAbstractItemModel* files = page.changeList()->model();
    QStringList rows;
    for (int row = 0; row < files->rowCount(); ++row) {
        rows << files->index(row, 0).data().toString();
    }
    EXPECT_EQ(rows, (QStringList{"Removed   m000/f000.txt", "Added   m499/new.txt",
                                 "Changed   main.txt"}));

    page.selectAllButton()->click();
    QSignalSpy applied(&page, &TeamRunsPage::applyFinished);
    dialogs.answerAlert("Apply changes");
    page.applyButton()->click();
    ASSERT_TRUE(applied.wait(60000));
    EXPECT_EQ(readFile(projectFile("main.txt")), "written by claude\n");
    EXPECT_EQ(readFile(projectFile("m499/new.txt")), "new\n");
    EXPECT_FALSE(QFile::exists(projectFile("m000/f000.txt")));
    EXPECT_TRUE(QFile::exists(projectFile("m000/f001.txt")));

    // Read back with the setting off, as after a restart, the run is still compared within
    // the limits it was made with.
    model.teamRuns.setLargeProjects(false);
    model.teamRuns.loadTeamRuns();
    TeamRunsPage later(model.teamRuns, model.sessions, model.providers, model.project,
                       model.reviewLayout, navigator, dialogs, &desktop);
    QSignalSpy reviewed(&later, &TeamRunsPage::inspectionFinished);
    later.inspect(copy);
    ASSERT_TRUE(reviewed.wait(60000));
    EXPECT_EQ(later.changeList()->model()->rowCount(), 3);
}
