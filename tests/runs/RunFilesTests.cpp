#include "RunsTestSupport.h"
#include "runs/PosixFiles.h"
#include "runs/RunFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

TEST(RunFilesHashing, hashesAreLowerCaseSha256OfTheWholeFileAndModesThoseOfTheItemItself) {
    Scratch scratch;
    scratch.write("empty", "", 0755);
    scratch.write("abc", "abc");
    scratch.link("link", "empty");
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
    EXPECT_EQ(RunFiles::mode(scratch.path("empty")), 493);
    EXPECT_EQ(RunFiles::mode(scratch.path("abc")), 420);
    EXPECT_EQ(RunFiles::mode(scratch.path("link")), 0777) << "the link's own bits";
    for (const QString missing : {"missing", ""}) {
        EXPECT_NE(failure([&] { RunFiles::hash(scratch.path(missing)); }), "(no failure)");
    }
    EXPECT_NE(failure([&] { RunFiles::mode(scratch.path("missing")); }), "(no failure)");
}
