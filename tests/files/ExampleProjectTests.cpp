// Preparing the example project and the atomic writer underneath the editor.

#include "core/files/ExampleProject.h"
#include "core/services/AtomicFile.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <cerrno>

using namespace testing_support;

namespace {

const QString kShippedExample = QStringLiteral(VELK_SOURCE_DIR "/resources/Example Project");

}  // namespace

TEST(ExampleProject, preparingAgainKeepsTheUsersEditsAndAddsNewFiles) {
    QTemporaryDir scratch;
    const QString source = scratch.path() + "/source";
    const QString destination = scratch.path() + "/destination";
    ASSERT_TRUE(writeFile(source + "/hello.py", "print('shipped')\n"));
    ASSERT_TRUE(writeFile(source + "/lib/util.py", "X = 1\n"));
    ASSERT_TRUE(QFile::setPermissions(source + "/hello.py", QFile::ReadOwner | QFile::ReadGroup));
    ASSERT_EQ(ExampleProject::prepare(source, destination).valueOr({}), destination);
    EXPECT_EQ(readFile(destination + "/lib/util.py"), QByteArray("X = 1\n"));
    // A read-only shipped file still becomes the user's to edit.
    EXPECT_TRUE(QFileInfo(destination + "/hello.py").isWritable());

    ASSERT_TRUE(writeFile(destination + "/hello.py", "print('mine')\n"));
    ASSERT_TRUE(QFile::remove(destination + "/lib/util.py"));
    ASSERT_TRUE(writeFile(source + "/.hidden-new", "new\n"));
    ASSERT_EQ(ExampleProject::prepare(source, destination).valueOr({}), destination);
    EXPECT_EQ(readFile(destination + "/hello.py"), QByteArray("print('mine')\n"));
    EXPECT_EQ(readFile(destination + "/.hidden-new"), QByteArray("new\n"));
    // An existing folder is left alone as a whole.
    EXPECT_FALSE(QFileInfo::exists(destination + "/lib/util.py"));
}

TEST(ExampleProject, aMissingSourceOrAnUncreatableDestinationIsAnError) {
    ASSERT_TRUE(QFileInfo(kShippedExample + "/hello.py").isFile());
    QTemporaryDir scratch;
    const Result<QString> missing =
        ExampleProject::prepare(scratch.path() + "/nothing", scratch.path() + "/out");
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error().message.contains("nothing"));
    ASSERT_TRUE(writeFile(scratch.path() + "/file", "x"));
    EXPECT_FALSE(ExampleProject::prepare(kShippedExample, scratch.path() + "/file/sub"));
}

TEST(AtomicFile, aLinkStaysALinkAndANewFileFollowsTheUmask) {
    QTemporaryDir scratch;
    const QString target = scratch.path() + "/target.txt";
    const QString link = scratch.path() + "/link.txt";
    ASSERT_TRUE(writeFile(target, "old"));
    ASSERT_TRUE(QFile::link(target, link));
    ASSERT_TRUE(AtomicFile::write(link, "new"));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(readFile(target), QByteArray("new"));

    const mode_t previous = ::umask(022);
    const QString fresh = scratch.path() + "/fresh.txt";
    ASSERT_TRUE(AtomicFile::write(fresh, "x"));
    ::umask(previous);
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(fresh).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0644u);
}

TEST(AtomicFile, aFailedWriteLeavesNothingBehind) {
    QTemporaryDir scratch;
    const Result<void> written = AtomicFile::write(scratch.path() + "/missing/file.txt", "x");
    ASSERT_FALSE(written);
    EXPECT_TRUE(written.error().message.contains("file.txt"));
    EXPECT_EQ(written.error().systemError, ENOENT);
    ASSERT_TRUE(QDir().mkpath(scratch.path() + "/folder"));
    EXPECT_FALSE(AtomicFile::write(scratch.path() + "/folder", "x"));
    EXPECT_EQ(QDir(scratch.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}
