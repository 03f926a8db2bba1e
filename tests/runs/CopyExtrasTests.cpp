// What a copy gets besides the listing: extra files chosen by gitignore patterns, and a block
// of free ports of its own.

#include "RunsTestSupport.h"

#include "core/runs/IgnorePatterns.h"
#include "core/runs/PortBlocks.h"
#include "core/runs/RunFiles.h"
#include "core/runs/TeamRunSettings.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <future>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

TEST(IgnorePatterns, matchPathsAsGitDoes) {
    struct Row {
        QStringList patterns;
        QString path;
        bool matches;
    };
    const Row rows[] = {
        {{".env"}, ".env", true},
        {{".env"}, "web/.env", true},    // a name matches at any depth
        {{"/.env"}, "web/.env", false},  // a leading slash anchors it
        {{".env.*"}, ".env.local", true},
        {{"*.local"}, "config/app.local", true},
        {{"config/*.json"}, "config/a.json", true},
        {{"config/*.json"}, "config/deep/a.json", false},  // "*" stops at a slash
        {{"config/**/*.json"}, "config/deep/er/a.json", true},
        {{"**/secrets.txt"}, "a/b/secrets.txt", true},
        {{"build/"}, "build/out.txt", true},  // a folder brings the files below it
        {{"build/"}, "build", false},         // …but is not a file itself
        {{".env*", "!.env.example"}, ".env.example", false},
        {{"# .env", ""}, ".env", false},
        {{"file[0-9].txt"}, "file7.txt", true},
        {{"file?.txt"}, "file10.txt", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(IgnorePatterns(row.patterns).matches(row.path), row.matches)
            << row.patterns.join(u',').toStdString() << " / " << row.path.toStdString();
    }
}

TEST(ExtraFiles, patternsBringSkippedFilesButNeverDependencyOrKeyFoldersOrLinks) {
    Scratch scratch;
    scratch.write("project/.env", "SECRET=1");
    scratch.write("project/web/.env.local", "LOCAL=1");
    scratch.write("project/build/config.json", "{}");
    scratch.write("project/src/app.txt", "listed anyway");
    scratch.write("project/node_modules/pkg/.env", "dependency");
    scratch.write("project/.venv/.env", "dependency");
    scratch.write("project/.ssh/id_rsa", "key");
    scratch.write("project/.git/config", "repo");
    scratch.write("outside/.env", "outside");
    scratch.link("project/linked/.env", "../../outside/.env");
    scratch.link("project/other", "../outside");
    const QStringList patterns{".env", ".env.*", "config.json", "*.txt", "id_rsa", "config"};

    const QStringList extras = RunFiles::extraFiles(scratch.path("project"), patterns);
    EXPECT_EQ(extras, QStringList({".env", "build/config.json", "web/.env.local"}));

    EXPECT_EQ(RunFiles::copyExtraFiles(scratch.path("project"), scratch.path("copy"), extras),
              extras);
    EXPECT_EQ(scratch.read("copy/web/.env.local"), "LOCAL=1");
    EXPECT_EQ(scratch.read("copy/build/config.json"), "{}");
    EXPECT_TRUE(RunFiles::extraFiles(scratch.path("project"), {}).isEmpty());
}

TEST(ExtraFiles, theWorktreeIncludeFileAddsItsPatternsToTheSettings) {
    Scratch scratch;
    scratch.write("project/.worktreeinclude", "# local files\n.env.local\n");
    TeamRunSettings settings;
    settings.extraFiles = {".env"};
    EXPECT_EQ(TeamRunSettings::includePatterns(scratch.path("project"), settings),
              QStringList({".env", "# local files", ".env.local", ""}));
}

TEST(PortBlocks, blocksAreFreeDistinctAndSkipABlockWithAPortInUse) {
    // A listener on the middle port of the first block the search looks at.
    const int start = PortBlocks::kLowest + 4870;
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(start + 5));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(listener, 1), 0);

    // Two runs prepared at the same time, searching from the same place.
    auto one = std::async(std::launch::async, [&] { return PortBlocks::reserve(3, start); });
    auto two = std::async(std::launch::async, [&] { return PortBlocks::reserve(3, start); });
    std::vector<int> blocks;
    for (auto* run : {&one, &two}) {
        const Result<std::vector<int>> reserved = run->get();
        ASSERT_TRUE(reserved);
        ASSERT_EQ(reserved->size(), 3U);
        blocks.insert(blocks.end(), reserved->begin(), reserved->end());
    }
    ::close(listener);
    for (std::size_t index = 0; index < blocks.size(); ++index) {
        const int first = blocks.at(index);
        EXPECT_FALSE(first <= start + 5 && start + 5 < first + PortBlocks::kBlockSize);
        for (std::size_t other = 0; other < index; ++other) {
            EXPECT_GE(std::abs(first - blocks.at(other)), PortBlocks::kBlockSize);
        }
    }
}
