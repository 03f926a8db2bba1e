// Preparing the example project and the atomic writer underneath the editor.

#include "files/ExampleProject.h"
#include "platform/AtomicFile.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace testing_support;

namespace {

const QString kShippedExample = QStringLiteral(VELK_SOURCE_DIR "/resources/Example Project");

}  // namespace

TEST(ExampleProject, theShippedProjectHasARunnableHelloPy) {
    QTemporaryDir data;
    const QString destination = data.path() + QStringLiteral("/Kelo AI/Example Project");
    ASSERT_EQ(ExampleProject::prepare(kShippedExample, destination), destination);
    ASSERT_TRUE(QFileInfo(destination + QStringLiteral("/hello.py")).isFile());
    EXPECT_TRUE(readFile(destination + QStringLiteral("/hello.py")).contains("print("));
}

TEST(ExampleProject, preparingAgainKeepsTheUsersEditsAndAddsNewFiles) {
    QTemporaryDir scratch;
    const QString source = scratch.path() + QStringLiteral("/source");
    const QString destination = scratch.path() + QStringLiteral("/destination");
    ASSERT_TRUE(writeFile(source + QStringLiteral("/hello.py"), "print('shipped')\n"));
    ASSERT_TRUE(writeFile(source + QStringLiteral("/lib/util.py"), "X = 1\n"));
    ASSERT_TRUE(QFile::setPermissions(source + QStringLiteral("/hello.py"),
                                      QFile::ReadOwner | QFile::ReadGroup));
    ASSERT_EQ(ExampleProject::prepare(source, destination), destination);
    EXPECT_EQ(readFile(destination + QStringLiteral("/lib/util.py")), QByteArray("X = 1\n"));
    // A read-only shipped file still becomes the user's to edit.
    EXPECT_TRUE(QFileInfo(destination + QStringLiteral("/hello.py")).isWritable());

    ASSERT_TRUE(writeFile(destination + QStringLiteral("/hello.py"), "print('mine')\n"));
    ASSERT_TRUE(QFile::remove(destination + QStringLiteral("/lib/util.py")));
    ASSERT_TRUE(writeFile(source + QStringLiteral("/.hidden-new"), "new\n"));
    ASSERT_EQ(ExampleProject::prepare(source, destination), destination);
    EXPECT_EQ(readFile(destination + QStringLiteral("/hello.py")), QByteArray("print('mine')\n"));
    EXPECT_EQ(readFile(destination + QStringLiteral("/.hidden-new")), QByteArray("new\n"));
    // An existing folder is left alone as a whole.
    EXPECT_FALSE(QFileInfo::exists(destination + QStringLiteral("/lib/util.py")));
}

TEST(ExampleProject, aMissingSourceOrAnUncreatableDestinationIsAnError) {
    QTemporaryDir scratch;
    QString error;
    EXPECT_EQ(ExampleProject::prepare(scratch.path() + QStringLiteral("/nothing"),
                                      scratch.path() + QStringLiteral("/out"), &error),
              std::nullopt);
    EXPECT_TRUE(error.contains(QStringLiteral("nothing")));
    ASSERT_TRUE(writeFile(scratch.path() + QStringLiteral("/file"), "x"));
    EXPECT_EQ(
        ExampleProject::prepare(kShippedExample, scratch.path() + QStringLiteral("/file/sub")),
        std::nullopt);
}

TEST(AtomicFile, aLinkStaysALinkAndANewFileFollowsTheUmask) {
    QTemporaryDir scratch;
    const QString target = scratch.path() + QStringLiteral("/target.txt");
    const QString link = scratch.path() + QStringLiteral("/link.txt");
    ASSERT_TRUE(writeFile(target, "old"));
    ASSERT_TRUE(QFile::link(target, link));
    ASSERT_EQ(AtomicFile::write(link, "new"), std::nullopt);
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(readFile(target), QByteArray("new"));

    const mode_t previous = ::umask(022);
    const QString fresh = scratch.path() + QStringLiteral("/fresh.txt");
    ASSERT_EQ(AtomicFile::write(fresh, "x"), std::nullopt);
    ::umask(previous);
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(fresh).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0644u);
}

TEST(AtomicFile, aFailedWriteLeavesNothingBehind) {
    QTemporaryDir scratch;
    const auto error = AtomicFile::write(scratch.path() + QStringLiteral("/missing/file.txt"), "x");
    ASSERT_NE(error, std::nullopt);
    EXPECT_TRUE(error->contains(QStringLiteral("file.txt")));
    ASSERT_TRUE(QDir().mkpath(scratch.path() + QStringLiteral("/folder")));
    EXPECT_NE(AtomicFile::write(scratch.path() + QStringLiteral("/folder"), "x"), std::nullopt);
    EXPECT_EQ(QDir(scratch.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}
