#include "RunsTestSupport.h"

#include "core/services/AppPaths.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::optional<struct stat> itemStatus(const QString& path) {
    struct stat status;
    return ::lstat(path.toStdString().c_str(), &status) == 0 ? std::optional(status) : std::nullopt;
}

}  // namespace

Scratch::Scratch() {
    EXPECT_TRUE(m_dir.isValid());
}

QString Scratch::path(const QString& relative) const {
    return relative.isEmpty() ? m_dir.path() : m_dir.path() + u'/' + relative;
}

void Scratch::write(const QString& relative, const QByteArray& bytes, int mode) const {
    ASSERT_TRUE(testing_support::writeFile(path(relative), bytes)) << relative.toStdString();
    chmod(relative, mode);
}

QByteArray Scratch::read(const QString& relative) const {
    return testing_support::readFile(path(relative));
}

bool Scratch::exists(const QString& relative) const {
    return itemStatus(path(relative)).has_value();
}

int Scratch::mode(const QString& relative) const {
    const auto status = itemStatus(path(relative));
    EXPECT_TRUE(status) << relative.toStdString();
    return status ? int(status->st_mode & 07777) : -1;
}

void Scratch::chmod(const QString& relative, int mode) const {
    ASSERT_EQ(::chmod(path(relative).toStdString().c_str(), mode_t(mode)), 0);
}

void Scratch::remove(const QString& relative) const {
    const QString target = path(relative);
    if (QFileInfo(target).isDir() && !QFileInfo(target).isSymLink()) {
        ASSERT_TRUE(QDir(target).removeRecursively());
    } else {
        ASSERT_EQ(::unlink(target.toStdString().c_str()), 0);
    }
}

void Scratch::makeFolder(const QString& relative) const {
    ASSERT_TRUE(QDir().mkpath(path(relative)));
}

void Scratch::link(const QString& relative, const QString& target) const {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path(relative)).absolutePath()));
    ASSERT_EQ(::symlink(target.toStdString().c_str(), path(relative).toStdString().c_str()), 0);
}

TreeState treeState(const QString& root, bool withFolders) {
    TreeState state;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString relative = file.mid(root.size() + 1);
        const auto status = itemStatus(file);
        if (!status) {
            continue;
        }
        if (S_ISLNK(status->st_mode)) {
            state[relative] = {"link to " + it.fileInfo().symLinkTarget().toUtf8(), 0};
        } else if (S_ISREG(status->st_mode)) {
            state[relative] = {testing_support::readFile(file), int(status->st_mode & 07777)};
        } else if (S_ISDIR(status->st_mode) && withFolders) {
            state[relative + u'/'] = {"folder", 0};
        }
    }
    return state;
}

StoppedApply::StoppedApply(const std::vector<FileChange>& changes, const QString& project,
                           const QString& copy, const QString& backup, const Pick& stopsAt) {
    if (::pipe(m_stopped) != 0 || ::pipe(m_resume) != 0) {
        ADD_FAILURE() << "no pipes";
        return;
    }
    m_child = ::fork();
    if (m_child == 0) {
        bool paused = false;
        PosixFiles::setFaultHook([&](std::string_view operation, std::string_view name) {
            if (!paused && stopsAt(operation, name)) {
                paused = true;
                char byte = 0;
                [[maybe_unused]] auto written = ::write(m_stopped[1], "s", 1);
                [[maybe_unused]] auto read = ::read(m_resume[0], &byte, 1);
            }
            return 0;
        });
        int code = 0;
        try {
            RunFiles::apply(changes, project, copy, backup);
        } catch (...) {
            code = 1;
        }
        ::_exit(code);
    }
    // Without the parent's copy, the child's end closes the pipe and a wait for the stop ends.
    ::close(std::exchange(m_stopped[1], -1));
    EXPECT_GT(m_child, 0);
}

StoppedApply::~StoppedApply() {
    if (m_child > 0) {
        finish(true);
    }
    for (int fd : {m_stopped[0], m_stopped[1], m_resume[0], m_resume[1]}) {
        ::close(fd);  // -1 (closed or never opened) is harmless
    }
}

bool StoppedApply::stopped() {
    char byte = 0;
    return ::read(m_stopped[0], &byte, 1) == 1;
}

int StoppedApply::finish(bool kill) {
    if (kill) {
        ::kill(m_child, SIGKILL);
    } else {
        EXPECT_EQ(::write(m_resume[1], "r", 1), 1);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(m_child, &status, 0), m_child);
    m_child = -1;
    return status;
}

void useDataFolder(const QString& folder) {
    ASSERT_TRUE(QDir().mkpath(folder));
    qputenv("XDG_DATA_HOME", QFile::encodeName(folder));
}

QStringList appliesInProgress() {
    return QDir(AppPaths::dataRoot() + "/Applies in progress")
        .entryList({"*.json"}, QDir::Files | QDir::Hidden);
}

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

QStringList temporaryFiles(const QString& root) {
    QStringList found;
    QDirIterator it(root, {".velk-*.tmp"}, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        found.append(it.next().mid(root.size() + 1));
    }
    return found;
}

QByteArray gitApplyHunks(const QByteArray& before, const QByteArray& after,
                         const std::vector<int>& chosen, int* hunkCount) {
    Scratch scratch;
    scratch.write("a", before);
    scratch.write("b", after);
    QProcess git;
    git.setWorkingDirectory(scratch.path());
    git.start("git", {"diff", "--no-index", "--patience", "--no-color", "a", "b"});
    EXPECT_TRUE(git.waitForFinished(20000));
    const QByteArray patch = git.readAllStandardOutput();
    // The header names both files "a/a" and "b/a" would be wrong: "b/b" is rewritten so that
    // the patch applies to "a".
    const qsizetype first = patch.indexOf("\n@@") + 1;
    QByteArray part = patch.left(first).replace("b/b", "b/a");
    std::vector<QByteArray> hunks;
    for (qsizetype start = first; start > 0 && start < patch.size();) {
        const qsizetype next = patch.indexOf("\n@@", start);
        hunks.push_back(patch.mid(start, next < 0 ? -1 : next + 1 - start));
        start = next < 0 ? -1 : next + 1;
    }
    if (hunkCount) {
        *hunkCount = int(hunks.size());
    }
    for (int hunk : chosen) {
        part += hunks.at(std::size_t(hunk));
    }
    if (chosen.empty()) {
        return before;
    }
    scratch.write("part.patch", part);
    QProcess apply;
    apply.setWorkingDirectory(scratch.path());
    apply.start("git", {"apply", "part.patch"});
    EXPECT_TRUE(apply.waitForFinished(20000));
    EXPECT_EQ(apply.exitCode(), 0) << apply.readAllStandardError().toStdString();
    return scratch.read("a");
}
