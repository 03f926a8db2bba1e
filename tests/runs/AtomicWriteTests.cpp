#include "RunsTestSupport.h"
#include "core/runs/PosixFiles.h"

#include <QDir>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <sys/stat.h>

TEST(AtomicWrites, aReaderNeverSeesAHalfWrittenFile) {
    Scratch scratch;
    const qsizetype size = 2 * 1024 * 1024;
    scratch.write("file", QByteArray(size, 'a'));
    const PosixFiles::UniqueFd folder = PosixFiles::openFolder(scratch.path());
    std::atomic<bool> writing{true};
    std::atomic<int> badReads{0};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        while (writing.load()) {
            QFile in(scratch.path("file"));
            if (!in.open(QIODevice::ReadOnly)) {
                ++badReads;  // the name must always hold a file
                continue;
            }
            const QByteArray bytes = in.readAll();
            ++reads;
            if (bytes.size() != size || bytes.count(bytes.front()) != size) {
                ++badReads;
            }
        }
    });
    for (int round = 0; round < 40; ++round) {
        ASSERT_TRUE(PosixFiles::writeAtomically(folder.get(), "file",
                                                QByteArray(size, round % 2 ? 'a' : 'b'), 0644));
    }
    writing = false;
    reader.join();
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(badReads.load(), 0);
    EXPECT_EQ(entries(scratch.path()), QStringList{"file"});
}

TEST(AtomicWrites, theRequestedPermissionBitsAreTheOnesOnDiskWhateverTheUmask) {
    Scratch scratch;
    const PosixFiles::UniqueFd folder = PosixFiles::openFolder(scratch.path());
    const mode_t former = ::umask(077);
    EXPECT_TRUE(PosixFiles::writeAtomically(folder.get(), "tool", "#!/bin/sh\n", 0755));
    EXPECT_EQ(scratch.mode("tool"), 0755);
    ::umask(0);
    EXPECT_TRUE(PosixFiles::writeAtomically(folder.get(), "tool", "#!/bin/sh\nexit 0\n", 0640));
    ::umask(former);
    EXPECT_EQ(scratch.mode("tool"), 0640);
    EXPECT_EQ(scratch.read("tool"), "#!/bin/sh\nexit 0\n");
}

TEST(AtomicWrites, aFailedReplaceLeavesWhatWasThereAndNoTemporaryFile) {
    Scratch scratch;
    scratch.makeFolder("target/inner");
    const PosixFiles::UniqueFd folder = PosixFiles::openFolder(scratch.path());
    EXPECT_FALSE(PosixFiles::writeAtomically(folder.get(), "target", "bytes", 0644));
    EXPECT_TRUE(QFileInfo(scratch.path("target/inner")).isDir());
    EXPECT_EQ(entries(scratch.path()), QStringList{"target"});
}
