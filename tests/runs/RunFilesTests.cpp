#include "RunsTestSupport.h"
#include "core/runs/CopyStamps.h"
#include "core/runs/PosixFiles.h"
#include "core/runs/RunFiles.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <ostream>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Readable texts in failure messages.
void PrintTo(const QString& text, std::ostream* stream) {
    *stream << '"' << text.toStdString() << '"';
}

namespace RunFiles {
void PrintTo(const SkippedEntry& entry, std::ostream* stream) {
    *stream << '{' << entry.path.toStdString() << ": " << entry.reason.toStdString() << '}';
}
}  // namespace RunFiles

namespace {

const QString kTooLarge = QStringLiteral(
    "Separate copies currently support up to 5,000 files and 150 MB. Choose a smaller project "
    "folder or use the shared-folder mode.");

QStringList listed(const QString& root) {
    QStringList names;
    for (const auto& [relative, location] : RunFiles::files(root)) {
        EXPECT_EQ(location, root + u'/' + relative);
        names.append(relative);
    }
    return names;
}

using PosixFiles::UniqueFd;

// `levels` nested folders: `top`, then "a" in each.
QString chainPath(const QString& top, int levels) {
    return top + QStringLiteral("/a").repeated(levels - 1);
}

void makeSparse(const QString& path, off_t size) {
    const int fd = ::open(path.toStdString().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
}

}  // namespace

TEST(RunFilesListing, aSnapshotKeepsProjectFilesAndLeavesOutSecretsLinksBundlesAndDependencies) {
    Scratch scratch;
    Scratch outside;
    outside.write("secret.txt", "outside");
    for (const QString name :
         {"main.txt", "old.txt", ".env", ".env.example", ".env.sample", "config/.env.local",
          ".env.production", "node_modules/package.txt", "src/build", "src/.DS_Store",
          "Tool.app/Contents/Info.plist", "lib/Kit.framework/Kit", "sub/.git/config",
          "sub/dist/out.js", ".hidden/kept.txt", "deep/er/still.txt"}) {
        scratch.write("p/" + name, name.toUtf8());
    }
    scratch.link("p/link.txt", "main.txt");
    scratch.link("p/linked-folder", outside.path());
    scratch.link("p/dangling", "/nowhere");
    ASSERT_EQ(::mkfifo(scratch.path("p/pipe").toStdString().c_str(), 0644), 0);

    const QStringList expected = {".env.example",      ".env.sample", ".hidden/kept.txt",
                                  "deep/er/still.txt", "main.txt",    "old.txt"};
    EXPECT_EQ(listed(scratch.path("p")), expected);

    RunFiles::snapshot(scratch.path("p"), scratch.path("run/baseline"));
    EXPECT_EQ(listed(scratch.path("run/baseline")), expected);
    const TreeState baseline = treeState(scratch.path("run/baseline"));
    EXPECT_FALSE(baseline.contains("node_modules/")) << "empty or excluded folders are not made";
    EXPECT_EQ(baseline.at("main.txt").bytes, "main.txt");
    EXPECT_EQ(outside.read("secret.txt"), "outside");
}

// A copy keeps each file's bytes, permission bits (special ones, and those the umask would
// take, included) and modification time, whether the file system clones the file or refuses
// to and the bytes are copied; the stamps it records are those of both files as it left them.
TEST(RunFilesSnapshot, copiesKeepBytesPermissionsAndTimesWhetherClonedOrCopied) {
    using RunFiles::detail::CopyStamps;
    using RunFiles::detail::FileStamp;
    Scratch scratch;
    const std::map<QString, int> modes = {{"notes.txt", 0644},
                                          {"read-only.txt", 0444},
                                          {"src/private.key", 0600},
                                          {"src/setuid", 04755},
                                          {"tool.sh", 0755}};
    for (const auto& [path, mode] : modes) {
        scratch.write("p/" + path, path.toUtf8().repeated(5000), mode);
    }
    const timespec past[2] = {{1'000'000'000, 123'456'789}, {1'000'000'000, 123'456'789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, scratch.path("p/notes.txt").toStdString().c_str(), past, 0), 0);
    const struct RestoredUmask {
        mode_t saved = ::umask(077);
        ~RestoredUmask() { ::umask(saved); }
    } restoredUmask;
    for (const int refusal : {0, EOPNOTSUPP}) {
        SCOPED_TRACE(refusal);
        const QString copy = scratch.path(QStringLiteral("copy%1").arg(refusal));
        {
            ScopedFaultHook hook([refusal](std::string_view operation, std::string_view) {
                return operation == "clone" ? refusal : 0;
            });
            RunFiles::snapshot(scratch.path("p"), copy);
        }
        const CopyStamps stamps = CopyStamps::load(scratch.path("p"), copy);
        ASSERT_EQ(stamps.files.size(), modes.size());
        for (const RunFiles::detail::StampedFile& file : stamps.files) {
            const QString path = QString::fromStdString(file.relative);
            SCOPED_TRACE(file.relative);
            struct stat source;
            struct stat copied;
            ASSERT_EQ(::stat(scratch.path("p/" + path).toStdString().c_str(), &source), 0);
            ASSERT_EQ(::stat((copy + u'/' + path).toStdString().c_str(), &copied), 0);
            EXPECT_EQ(testing_support::readFile(copy + u'/' + path), scratch.read("p/" + path));
            EXPECT_EQ(int(copied.st_mode & 07777), modes.at(path));
            EXPECT_EQ(copied.st_mtim.tv_sec, source.st_mtim.tv_sec);
            EXPECT_EQ(copied.st_mtim.tv_nsec, source.st_mtim.tv_nsec);
            EXPECT_EQ(file.source, FileStamp::of(source));
            EXPECT_EQ(file.copy, FileStamp::of(copied));
        }
    }
}

TEST(RunFilesListing, aMissingProjectFailsInsteadOfBecomingAnEmptySnapshot) {
    Scratch scratch;
    scratch.write("file.txt", "not a folder");
    for (const QString& root : {scratch.path("missing"), scratch.path("file.txt"), QString()}) {
        EXPECT_EQ(failure([&] { RunFiles::files(root); }),
                  QStringLiteral("This project folder no longer exists."));
        EXPECT_EQ(failure([&] { RunFiles::snapshot(root, scratch.path("baseline")); }),
                  QStringLiteral("This project folder no longer exists."));
    }
    EXPECT_FALSE(scratch.exists("baseline"));
}

TEST(RunFilesListing, theLimitsAre5000FilesAnd150MillionBytes) {
    Scratch scratch;
    for (int folder = 0; folder < 37; ++folder) {
        scratch.makeFolder(QStringLiteral("many/d%1").arg(folder));
    }
    for (int index = 0; index < 5000; ++index) {
        const QString file =
            scratch.path(QStringLiteral("many/d%1/f%2.txt").arg(index % 37).arg(index));
        const int fd = ::open(file.toStdString().c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "x", 1), 1);
        ::close(fd);
    }
    EXPECT_EQ(RunFiles::files(scratch.path("many")).size(), 5000u);
    scratch.write("many/one-more.txt", "x");
    EXPECT_EQ(failure([&] { RunFiles::files(scratch.path("many")); }), kTooLarge);
    scratch.write("many/node_modules/excluded.txt", "x");
    scratch.remove("many/one-more.txt");
    EXPECT_EQ(RunFiles::files(scratch.path("many")).size(), 5000u) << "excluded files do not count";

    scratch.makeFolder("big");
    makeSparse(scratch.path("big/exactly.bin"), 150'000'000);
    EXPECT_EQ(RunFiles::files(scratch.path("big")).size(), 1u);
    makeSparse(scratch.path("big/exactly.bin"), 150'000'001);
    EXPECT_EQ(failure([&] { RunFiles::files(scratch.path("big")); }), kTooLarge);
    makeSparse(scratch.path("big/exactly.bin"), 100'000'000);
    makeSparse(scratch.path("big/second.bin"), 50'000'001);
    EXPECT_EQ(failure([&] { RunFiles::snapshot(scratch.path("big"), scratch.path("copy")); }),
              kTooLarge);
    EXPECT_FALSE(scratch.exists("copy")) << "nothing is copied when the listing fails";
}

TEST(RunFilesListing, aNameThatIsNotUtf8StopsTheListingRatherThanBeingRenamed) {
    Scratch scratch;
    scratch.write("p/fine.txt", "x");
    const QByteArray badName = scratch.path("p").toUtf8() + "/caf\xe9.txt";
    const int fd = ::open(badName.constData(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_TRUE(failure([&] { RunFiles::files(scratch.path("p")); }).contains("not valid UTF-8"));
    ::unlink(badName.constData());  // QTemporaryDir cannot remove a name it cannot decode
}

TEST(RunFilesListing, folderChainsDeeperThan256LevelsAreRefusedByNameWithoutADescriptorPerLevel) {
    Scratch scratch;
    scratch.write("p/top.txt", "x");
    const QString bottom = chainPath("chain", 256) + "/bottom.txt";
    scratch.write("p/" + bottom, "x");
    {
        const testing_support::DescriptorLimit limit(32);
        EXPECT_EQ(listed(scratch.path("p")), (QStringList{bottom, "top.txt"}));
    }

    scratch.makeFolder("p/" + chainPath("chain", 257));
    const QString tooDeep = QStringLiteral(
        "The folder chain/a/…/a is nested more than 256 levels deep. Move it higher up or use "
        "the shared-folder mode.");
    EXPECT_EQ(failure([&] { RunFiles::files(scratch.path("p")); }), tooDeep);
    EXPECT_EQ(failure([&] { RunFiles::snapshot(scratch.path("p"), scratch.path("copy")); }),
              tooDeep);
}

TEST(RunFilesReview, entriesThatCannotBeComparedAreNamedWithTheirReasonAndTheRestIsReviewed) {
    Scratch scratch;
    for (const QString name : {"main.txt", "kept.txt", "locked.txt", "private/notes.txt"}) {
        scratch.write("base/" + name, name.toUtf8());
    }
    RunFiles::snapshot(scratch.path("base"), scratch.path("copy"));
    scratch.write("copy/main.txt", "edited");
    scratch.write("copy/added.txt", "new");
    const std::string copy = scratch.path("copy").toStdString();
    for (const std::string& made : {copy + "/caf\xe9.txt", copy + "/bad\xff/inner.txt"}) {
        ::mkdir((copy + "/bad\xff").c_str(), 0755);
        ASSERT_TRUE(UniqueFd(::open(made.c_str(), O_WRONLY | O_CREAT, 0644)).valid());
    }
    scratch.makeFolder("copy/" + chainPath("chain", 257));

    // locked.txt and the folder "private" cannot be opened in the copy; in the baseline they
    // can, so they would look removed if they were merely left out.
    const QString copyRoot = QDir(scratch.path("copy")).canonicalPath();
    const RunFiles::OpenBeneath failingInCopy = [copyRoot](int folder, const std::string& relative,
                                                           int flags) {
        const bool inCopy =
            QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(folder)) == copyRoot;
        if (inCopy && (relative == "locked.txt" || relative == "private")) {
            errno = EACCES;
            return UniqueFd();
        }
        return PosixFiles::openBeneath(folder, relative, flags);
    };
    const RunFiles::Review review =
        RunFiles::review(scratch.path("base"), scratch.path("copy"), failingInCopy);
    QStringList changes;
    for (const FileChange& change : review.changes) {
        changes.append(change.kind() + " " + change.path);
    }
    EXPECT_EQ(changes, (QStringList{"Added added.txt", "Changed main.txt"}));
    const QString notUtf8 = QStringLiteral("The name is not valid UTF-8.");
    const QString denied = QStringLiteral("Cannot be read: Permission denied.");
    EXPECT_EQ(review.skipped, (std::vector<RunFiles::SkippedEntry>{
                                  {"bad\uFFFD", notUtf8},
                                  {"caf\uFFFD.txt", notUtf8},
                                  {chainPath("chain", 257), "Nested more than 256 folders deep."},
                                  {"locked.txt", denied},
                                  {"private", denied}}));

    // Everything else still refuses such entries outright.
    EXPECT_NE(failure([&] { RunFiles::changes(scratch.path("base"), scratch.path("copy")); }),
              "(no failure)");
    // QTemporaryDir cannot remove names it cannot decode.
    ::unlink((copy + "/caf\xe9.txt").c_str());
    ::unlink((copy + "/bad\xff/inner.txt").c_str());
    ::rmdir((copy + "/bad\xff").c_str());
}

QStringList changedPaths(const QString& baseline, const QString& copy) {
    QStringList paths;
    for (const FileChange& change : RunFiles::changes(baseline, copy)) {
        paths.append(change.kind() + " " + change.path);
    }
    return paths;
}

// Both sides are listed in the byte order of their paths, in which '-' and '.' come before
// '/' and '0' after it: the file "a.c" lies between the folders "a-b" and "a", and "a0" after
// all that is below "a". Listed in another order, the two sides would be matched up wrongly.
TEST(RunFilesChanges, bothSidesListInPathOrderAroundAFoldersSlash) {
    Scratch scratch;
    for (const QString path : {"a/x", "a/y/z", "a-b/z", "a.c", "a0", "b"}) {
        scratch.write("base/" + path, path.toUtf8());
    }
    RunFiles::snapshot(scratch.path("base"), scratch.path("copy"));
    scratch.remove("copy/a/x");
    scratch.write("copy/a0", "edited");
    scratch.write("copy/a-a", "added");
    EXPECT_EQ(changedPaths(scratch.path("base"), scratch.path("copy")),
              QStringList({"Added a-a", "Removed a/x", "Changed a0"}));
}

// A copy records the stamps of its files and is compared without reading what still matches
// them; an edit that keeps the size and puts the modification time back is still found.
TEST(RunFilesChanges, anEditKeepingSizeAndModificationTimeIsFoundAlsoInTheStampsOwnTick) {
    using RunFiles::detail::CopyStamps;
    Scratch scratch;
    scratch.write("base/a.txt", "aaaa");
    scratch.write("base/b.txt", "bbbb");
    RunFiles::snapshot(scratch.path("base"), scratch.path("copy"));
    EXPECT_EQ(changedPaths(scratch.path("base"), scratch.path("copy")), QStringList());

    const std::string edited = scratch.path("copy/a.txt").toStdString();
    const std::string stampFile = CopyStamps::pathFor(scratch.path("copy")).toStdString();
    struct stat original;
    ASSERT_EQ(::stat(edited.c_str(), &original), 0);
    // The edit comes in a later tick of the file-system clock than the copy.
    for (struct stat probe = original; probe.st_ctim.tv_sec == original.st_ctim.tv_sec &&
                                       probe.st_ctim.tv_nsec == original.st_ctim.tv_nsec;) {
        ASSERT_EQ(::utimensat(AT_FDCWD, stampFile.c_str(), nullptr, 0), 0);
        ASSERT_EQ(::stat(stampFile.c_str(), &probe), 0);
    }
    {
        const UniqueFd file(::open(edited.c_str(), O_WRONLY));
        ASSERT_EQ(::pwrite(file.get(), "AAAA", 4, 0), 4);
    }
    const timespec times[2] = {original.st_atim, original.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, edited.c_str(), times, 0), 0);
    // Stamps written after the edit would trust every earlier time: the change time tells.
    const timespec later[2] = {{original.st_ctim.tv_sec + 3600, 0},
                               {original.st_ctim.tv_sec + 3600, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, stampFile.c_str(), later, 0), 0);
    EXPECT_EQ(changedPaths(scratch.path("base"), scratch.path("copy")),
              QStringList({"Changed a.txt"}));

    // Had the edit come in the same clock tick as the stamps, they would still match; the
    // stamps of that tick are not trusted.
    CopyStamps stamps = CopyStamps::load(scratch.path("base"), scratch.path("copy"));
    ASSERT_EQ(stamps.files.size(), 2u);
    struct stat now;
    ASSERT_EQ(::stat(edited.c_str(), &now), 0);
    stamps.files[0].copy = RunFiles::detail::FileStamp::of(now);
    ASSERT_TRUE(stamps.save());
    const timespec tick[2] = {now.st_ctim, now.st_ctim};
    ASSERT_EQ(::utimensat(AT_FDCWD, stampFile.c_str(), tick, 0), 0);
    EXPECT_EQ(changedPaths(scratch.path("base"), scratch.path("copy")),
              QStringList({"Changed a.txt"}));
}

// The listing limits guard the snapshot; a copy of a project at the limit is reviewed with
// what an assistant added, up to twice the limits.
TEST(RunFilesChanges, aCopyOfAFullProjectIsReviewedWithWhatWasAddedUpToTwiceTheLimits) {
    Scratch scratch;
    scratch.makeFolder("base");
    for (int index = 0; index < 5000; ++index) {
        const UniqueFd file(
            ::open(scratch.path(QStringLiteral("base/f%1").arg(index)).toStdString().c_str(),
                   O_WRONLY | O_CREAT, 0644));
        ASSERT_TRUE(file.valid());
    }
    RunFiles::snapshot(scratch.path("base"), scratch.path("copy"));
    scratch.write("copy/added.txt", "new");
    EXPECT_EQ(changedPaths(scratch.path("base"), scratch.path("copy")),
              QStringList({"Added added.txt"}));
    EXPECT_EQ(RunFiles::review(scratch.path("base"), scratch.path("copy")).changes.size(), 1u);

    makeSparse(scratch.path("copy/huge.bin"), 300'000'000);
    EXPECT_EQ(failure([&] { RunFiles::review(scratch.path("base"), scratch.path("copy")); }),
              "This copy holds more than 10,000 files or 300 MB, twice what a separate copy "
              "starts with. Review its changes outside VELK.");
}

// Limits other than the standard ones (the "Large projects" setting's) hold for every
// operation, and the messages name them.
TEST(RunFilesListing, limitsPassedInHoldForEveryOperationAndAreNamedInTheMessages) {
    Scratch scratch;
    scratch.makeFolder("big");
    makeSparse(scratch.path("big/large.bin"), 150'000'001);
    EXPECT_EQ(failure([&] { RunFiles::files(scratch.path("big")); }), kTooLarge);
    EXPECT_EQ(RunFiles::files(scratch.path("big"), RunLimits::largeProjects()).size(), 1u);
    EXPECT_EQ(RunLimits::largeProjects().projectTooLarge(),
              "Separate copies currently support up to 200,000 files and 20 GB. Choose a "
              "smaller project folder or use the shared-folder mode.");

    const RunLimits three{3, 1'000'000};
    for (int index = 0; index < 3; ++index) {
        scratch.write(QStringLiteral("base/f%1").arg(index), "x");
    }
    RunFiles::snapshot(scratch.path("base"), scratch.path("copy"), {}, three);
    for (int index = 3; index < 6; ++index) {
        scratch.write(QStringLiteral("copy/f%1").arg(index), "x");
    }
    const std::vector<FileChange> added =
        RunFiles::changes(scratch.path("base"), scratch.path("copy"), three);
    EXPECT_EQ(added.size(), 3u) << "a copy holds up to twice the limits";
    EXPECT_EQ(failure([&] {
                  RunFiles::apply(added, scratch.path("base"), scratch.path("copy"),
                                  scratch.path("backup"), nullptr, {}, RunLimits{2, 1'000'000});
              }),
              "Separate copies currently support up to 2 files and 1 MB. Nothing was applied; "
              "apply fewer files at a time.");
    scratch.write("copy/f6", "x");
    EXPECT_EQ(
        failure([&] { RunFiles::review(scratch.path("base"), scratch.path("copy"), {}, three); }),
        "This copy holds more than 6 files or 2 MB, twice what a separate copy starts "
        "with. Review its changes outside VELK.");
    scratch.write("base/f3", "x");
    EXPECT_EQ(failure([&] {
                  RunFiles::snapshot(scratch.path("base"), scratch.path("other"), {}, three);
              }),
              "Separate copies currently support up to 3 files and 1 MB. Choose a smaller "
              "project folder or use the shared-folder mode.");
    EXPECT_EQ(RunFiles::files(scratch.path("base")).size(), 4u);
}

// What the copying of a project for a run is estimated to take, and when it is worth saying.
TEST(CopyEstimate, isTheListingOverTheRateForEverySnapshotShownForLargeProjects) {
    // At the assumed rates: 6 s for the bytes and 6.25 s for the files, three times.
    const CopyEstimate large{50'000, 1'500'000'000, 3};
    EXPECT_EQ(large.seconds(), 37);
    EXPECT_TRUE(large.worthShowing());
    EXPECT_EQ(large.describe(),
              "Estimated copy time: about 37 s (50,000 files, 1.5 GB, copied 3 times).");
    EXPECT_EQ(CopyEstimate({200'000, 20'000'000'000, 9}).describe(),
              "Estimated copy time: about 16 min (200,000 files, 20 GB, copied 9 times).");
    EXPECT_FALSE(CopyEstimate({400, 2'000'000, 3}).worthShowing());
    EXPECT_EQ(CopyEstimate({400, 2'000'000, 3}).seconds(), 1);
    EXPECT_EQ(CopyEstimate({400, 20'000, 3}).describe(),
              "Estimated copy time: about 1 s (400 files, 20 KB, copied 3 times).");
    // Within the standard limits but slow to copy nine times; a slow disk measured.
    EXPECT_TRUE(CopyEstimate({5'000, 150'000'000, 9}).worthShowing());
    EXPECT_EQ(CopyEstimate({10, 600'000'000, 2, 10e6, 1e9}).describe(),
              "Estimated copy time: about 2 min (10 files, 600 MB, copied twice).");
}

TEST(RunFilesPaths, safeUrlRefusesEscapesAbsoluteAndEmptyPathsAndLinks) {
    Scratch scratch;
    scratch.write("root/main.txt", "x");
    scratch.write("elsewhere/target.txt", "x");
    scratch.link("root/link.txt", "main.txt");
    scratch.link("root/linked", scratch.path("elsewhere"));
    const QString root = scratch.path("root");
    for (const QString& path : {QStringLiteral("../escape"), QStringLiteral("a/../../escape"),
                                QStringLiteral("/etc/passwd"), QString(),
                                QString::fromUtf8("a\0b", 3), QStringLiteral("sub/..")}) {
        EXPECT_EQ(failure([&] { RunFiles::safeURL(path, root); }), kInvalidPath)
            << path.toStdString();
    }
    for (const QString path : {"link.txt", "linked/target.txt", "linked/new.txt", ".", "./"}) {
        EXPECT_EQ(failure([&] { RunFiles::safeURL(path, root); }), kLinkedPath)
            << path.toStdString();
    }
    EXPECT_EQ(RunFiles::safeURL("sub/new.txt", root), root + "/sub/new.txt");
    EXPECT_EQ(RunFiles::safeURL("./main.txt", root), root + "/main.txt");

    // The root itself may be reached through a link; the result is the resolved location.
    scratch.link("root-alias", root);
    EXPECT_EQ(RunFiles::safeURL("main.txt", scratch.path("root-alias")),
              QDir(root).canonicalPath() + "/main.txt");
}

TEST(RunFilesPaths, bothWaysOfOpeningBelowAFolderRefuseLinks) {
    Scratch scratch;
    scratch.write("root/sub/file.txt", "inside");
    scratch.write("outside.txt", "outside");
    scratch.link("root/sub/link.txt", scratch.path("outside.txt"));
    scratch.link("root/linked", scratch.path("root/sub"));
    const PosixFiles::UniqueFd root = PosixFiles::openFolder(scratch.path("root"));
    ASSERT_TRUE(root.valid());
    for (auto open : {&PosixFiles::openBeneath, &PosixFiles::openBeneathByWalking}) {
        EXPECT_TRUE(open(root.get(), "sub/file.txt", O_RDONLY, 0).valid());
        for (const char* path : {"sub/link.txt", "linked/file.txt"}) {
            errno = 0;
            EXPECT_FALSE(open(root.get(), path, O_RDONLY, 0).valid()) << path;
            EXPECT_EQ(errno, ELOOP) << path;
        }
        EXPECT_FALSE(open(root.get(), "../outside.txt", O_RDONLY, 0).valid());
        EXPECT_FALSE(open(root.get(), "sub/missing", O_RDONLY, 0).valid());
        EXPECT_EQ(errno, ENOENT);
    }
}

TEST(RunFilesHashing, hashesAreLowerCaseSha256OfTheWholeFile) {
    Scratch scratch;
    scratch.write("empty", "");
    scratch.write("abc", "abc");
    QByteArray large(3 * 1024 * 1024 + 17, '\0');
    for (qsizetype index = 0; index < large.size(); ++index) {
        large[index] = char(index * 7 + index / 4096);
    }
    scratch.write("large", large);
    EXPECT_EQ(RunFiles::hash(scratch.path("empty")),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(RunFiles::hash(scratch.path("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(
        RunFiles::hash(scratch.path("large")),
        QString::fromLatin1(QCryptographicHash::hash(large, QCryptographicHash::Sha256).toHex()));
    for (const QString missing : {"missing", ""}) {
        EXPECT_NE(failure([&] { RunFiles::hash(scratch.path(missing)); }), "(no failure)");
    }
}
