#include "RunsTestSupport.h"
#include "runs/RunFiles.h"

#include <QDir>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <set>

namespace {

// Names chosen to trip up path handling: spaces, newlines, unicode (including a character
// beyond U+FFFF), leading dots and dashes.
const QStringList kNames = {
    "a.txt", "B.md", "with space.c", "new\nline",        "caf\u00e9", "\U0001F600.bin", "-dash",
    ".dot",  "x",    "deep",         "\u65e5\u672c.txt", "tab\there",
};
const QList<int> kModes = {0644, 0755, 0600, 0700};

QString randomPath(QRandomGenerator& random) {
    QStringList parts;
    const int depth = random.bounded(3);
    for (int level = 0; level < depth; ++level) {
        parts.append("d" + kNames[random.bounded(kNames.size())]);
    }
    parts.append(kNames[random.bounded(kNames.size())]);
    return parts.join(u'/');
}

QByteArray randomBytes(QRandomGenerator& random) {
    QByteArray bytes(random.bounded(64), '\0');
    for (char& byte : bytes) {
        byte = char(random.bounded(256));
    }
    return bytes;
}

// A file can only be placed where no ancestor is a file and it is not itself a folder.
bool fits(const TreeState& tree, const QString& path) {
    for (const auto& [existing, state] : tree) {
        if (existing.startsWith(path + u'/') || path.startsWith(existing + u'/')) {
            return false;
        }
    }
    return true;
}

TreeState filesOnly(const TreeState& state) {
    TreeState files;
    for (const auto& [path, file] : state) {
        if (!path.endsWith(u'/')) {
            files.emplace(path, file);
        }
    }
    return files;
}

}  // namespace

// Random projects and random assistant edits: applying a random subset of the changes leaves
// exactly the selected files equal to the copy, every other file untouched, and the backup
// holding the originals of the replaced and removed files.
TEST(ApplyProperty, applyingARandomSelectionChangesExactlyTheSelectedFiles) {
    QRandomGenerator random(20261206);
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        Scratch scratch;
        TreeState project;
        for (int count = random.bounded(1, 10); count > 0; --count) {
            const QString path = randomPath(random);
            if (fits(project, path)) {
                project[path] = {randomBytes(random), kModes[random.bounded(kModes.size())]};
                scratch.write("project/" + path, project[path].bytes, project[path].mode);
            }
        }
        if (project.empty()) {
            scratch.makeFolder("project");
        }
        RunFiles::snapshot(scratch.path("project"), scratch.path("baseline"));
        RunFiles::snapshot(scratch.path("baseline"), scratch.path("copy"));

        TreeState copy = project;
        for (int edits = random.bounded(1, 6); edits > 0; --edits) {
            const int action = random.bounded(4);
            if (action == 0 || copy.empty()) {  // add
                const QString path = randomPath(random);
                // Clashes of a file with a folder are kept out: applying one without the
                // other is refused, which the apply tests cover.
                if (!copy.contains(path) && fits(copy, path) && fits(project, path) &&
                    !scratch.exists("copy/" + path)) {
                    copy[path] = {randomBytes(random), kModes[random.bounded(kModes.size())]};
                    scratch.write("copy/" + path, copy[path].bytes, copy[path].mode);
                }
                continue;
            }
            auto it = std::next(copy.begin(), random.bounded(int(copy.size())));
            const QString path = it->first;
            if (action == 1) {  // change the bytes (sometimes to the same bytes)
                it->second.bytes = random.bounded(4) ? randomBytes(random) : it->second.bytes;
                scratch.write("copy/" + path, it->second.bytes, it->second.mode);
            } else if (action == 2) {  // remove
                copy.erase(it);
                scratch.remove("copy/" + path);
            } else {  // change the permission bits
                it->second.mode = kModes[random.bounded(kModes.size())];
                scratch.chmod("copy/" + path, it->second.mode);
            }
        }

        // The change list is exactly the set of paths whose file differs.
        std::set<QString> differing;
        for (const auto& [path, state] : project) {
            if (!copy.contains(path) || copy.at(path) != state) {
                differing.insert(path);
            }
        }
        for (const auto& [path, state] : copy) {
            if (!project.contains(path)) {
                differing.insert(path);
            }
        }
        const std::vector<FileChange> changes =
            RunFiles::changes(scratch.path("baseline"), scratch.path("copy"));
        std::set<QString> listed;
        for (const FileChange& change : changes) {
            listed.insert(change.path);
        }
        ASSERT_EQ(listed, differing);

        std::vector<FileChange> selection;
        for (const FileChange& change : changes) {
            if (random.bounded(2)) {
                selection.push_back(change);
            }
        }
        RunFiles::apply(selection, scratch.path("project"), scratch.path("copy"),
                        scratch.path("backup"));

        TreeState expected = project;
        TreeState expectedBackup;
        for (const FileChange& change : selection) {
            if (project.contains(change.path)) {
                expectedBackup[change.path] = project.at(change.path);
            }
            if (copy.contains(change.path)) {
                expected[change.path] = copy.at(change.path);
            } else {
                expected.erase(change.path);
            }
        }
        EXPECT_EQ(filesOnly(treeState(scratch.path("project"))), expected);
        EXPECT_EQ(filesOnly(treeState(scratch.path("backup"))), expectedBackup);
        EXPECT_EQ(filesOnly(treeState(scratch.path("copy"))), copy);
        if (HasFailure()) {
            return;
        }
    }
}
