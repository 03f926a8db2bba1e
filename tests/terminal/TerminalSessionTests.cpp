#include "terminal/TerminalSession.h"

#include "PtyTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>

#include <gtest/gtest.h>

#include <csignal>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace std::chrono_literals;
using testing_support::waitUntil;

namespace {

// A session started in the temporary folder, with its finish calls counted.
struct StartedSession {
    std::shared_ptr<TerminalSession> session;
    std::shared_ptr<int> finishes = std::make_shared<int>(0);

    explicit StartedSession(const QString& command, const QString& directory = QDir::tempPath())
        : session(TerminalSession::create(QStringLiteral("shell"), QStringLiteral("Test"), command,
                                          directory)) {
        session->setOnFinish([finishes = finishes](TerminalSession&) { ++*finishes; });
        session->start();
    }

    bool waitForFinish(std::chrono::milliseconds timeout = 15s) {
        return waitUntil([&] { return *finishes > 0; }, timeout);
    }
    bool waitForText(const QString& text, std::chrono::milliseconds timeout = 15s) {
        return waitUntil([&] { return session->screen().plainText().contains(text); }, timeout);
    }
    QString text() const { return session->screen().plainText(); }
};

TEST(TerminalSession, aCommandsExitCodeIsPublishedAndOnFinishIsCalledOnce) {
    StartedSession run(QStringLiteral("print SESSION_MARKER; exit 7"));
    EXPECT_TRUE(run.session->running());
    EXPECT_GE(run.session->pid(), 1);
    int runningChanges = 0;
    QObject::connect(run.session.get(), &TerminalSession::runningChanged,
                     [&] { ++runningChanges; });
    ASSERT_TRUE(run.waitForFinish());
    EXPECT_FALSE(run.session->running());
    EXPECT_EQ(run.session->exitCode(), 7);
    EXPECT_TRUE(run.text().contains(QStringLiteral("SESSION_MARKER")));
    EXPECT_GE(run.session->revision(), 1u);
    EXPECT_EQ(runningChanges, 1);
    // After the end, input, stop and a second start change nothing.
    const quint64 revision = run.session->revision();
    run.session->send(QStringLiteral("ignored\r"));
    run.session->stop();
    run.session->start();
    testing_support::processEventsFor(100ms);
    EXPECT_EQ(*run.finishes, 1);
    EXPECT_EQ(run.session->revision(), revision);
    EXPECT_EQ(run.session->exitCode(), 7);
}

TEST(TerminalSession, theSearchPathStartsWithTheUsersToolFolders) {
    auto session =
        TerminalSession::create(QStringLiteral("shell"), QStringLiteral("Test"),
                                QStringLiteral("print -r -- \"PATH=$PATH\""), QDir::tempPath());
    session->resize(24, 1000);  // one line for the whole path
    int finishes = 0;
    session->setOnFinish([&](TerminalSession&) { ++finishes; });
    session->start();
    ASSERT_TRUE(waitUntil([&] { return finishes > 0; }));
    const QString text = session->screen().plainText();
    const QString home = QDir::homePath();
    EXPECT_TRUE(text.contains(QStringLiteral("PATH=%1/.local/bin:%1/.kimi-code/bin:%1/.cargo/bin:"
                                             "/opt/homebrew/bin:/usr/local/bin:")
                                  .arg(home)))
        << text.toStdString();
    EXPECT_EQ(session->exitCode(), 0);
}

TEST(TerminalSession, inputSentBeforeStartIsDroppedAndInputWhileRunningRoundTrips) {
    auto session = TerminalSession::create(QStringLiteral("shell"), QStringLiteral("Test"),
                                           QStringLiteral("read line; print -r -- \"INPUT:$line\""),
                                           QDir::tempPath());
    int finishes = 0;
    session->setOnFinish([&](TerminalSession&) { ++finishes; });
    session->send(QStringLiteral("early\r"));
    EXPECT_EQ(session->revision(), 0u);
    session->start();
    session->send(QStringLiteral("hello\r"));
    ASSERT_TRUE(waitUntil([&] { return finishes > 0; }));
    EXPECT_EQ(session->exitCode(), 0);
    EXPECT_TRUE(session->screen().plainText().contains(QStringLiteral("INPUT:hello")));
    EXPECT_FALSE(session->screen().plainText().contains(QStringLiteral("early")));
}

TEST(TerminalSession, allOutputIsInTheScreenWhenOnFinishRuns) {
    auto session = TerminalSession::create(
        QStringLiteral("shell"), QStringLiteral("Test"),
        QStringLiteral("for i in {1..6000}; do print line; done; print FINAL_OUTPUT_MARKER"),
        QDir::tempPath());
    bool markerAtFinish = false;
    int finishes = 0;
    session->setOnFinish([&](TerminalSession& finished) {
        ++finishes;
        markerAtFinish =
            finished.screen().plainText().contains(QStringLiteral("FINAL_OUTPUT_MARKER"));
    });
    session->start();
    ASSERT_TRUE(waitUntil([&] { return finishes > 0; }, 30s));
    EXPECT_TRUE(markerAtFinish);
    EXPECT_EQ(session->exitCode(), 0);
}

TEST(TerminalSession, theCursorPositionQueryIsAnsweredWithoutUserAction) {
    StartedSession run(
        QStringLiteral("stty raw -echo; print -n $'\\e[6n'; read -r -d R reply; stty sane; "
                       "print -r -- \"CPR:${reply#*\\[}\""));
    ASSERT_TRUE(run.waitForFinish());
    EXPECT_TRUE(run.text().contains(QStringLiteral("CPR:1;1"))) << run.text().toStdString();
    EXPECT_EQ(run.session->exitCode(), 0);
}

TEST(TerminalSession, resizeReachesTheChildClampedToTheScreensMinimum) {
    StartedSession run(QStringLiteral("read go; print -r -- \"SIZE:$(stty size)\""));
    run.session->resize(1, 1);
    EXPECT_EQ(run.session->screen().rows(), 3);
    EXPECT_EQ(run.session->screen().columns(), 10);
    run.session->send(QStringLiteral("\r"));
    ASSERT_TRUE(run.waitForFinish());
    EXPECT_TRUE(run.text().contains(QStringLiteral("SIZE:3 10"))) << run.text().toStdString();
}

TEST(TerminalSession, stopEndsTheChildWithTheTerminateSignal) {
    StartedSession run(QStringLiteral("sleep 30"));
    run.session->stop();
    ASSERT_TRUE(run.waitForFinish());
    EXPECT_FALSE(run.session->running());
    EXPECT_EQ(run.session->exitCode(), 143);
    EXPECT_EQ(*run.finishes, 1);
}

TEST(TerminalSession, aChildIgnoringTheTerminateSignalIsKilledASecondAfterStop) {
    StartedSession run(QStringLiteral("trap '' TERM; print READY; sleep 30"));
    ASSERT_TRUE(run.waitForText(QStringLiteral("READY")));
    run.session->stop();
    testing_support::processEventsFor(500ms);
    EXPECT_TRUE(run.session->running());
    ASSERT_TRUE(run.waitForFinish());
    EXPECT_EQ(run.session->exitCode(), 137);
}

TEST(TerminalSession, aFailedStartShowsTheSystemsReasonAndCanBeRetried) {
    // With the descriptor limit at the lowest free descriptor, the pseudo-terminal cannot
    // be opened.
    const int lowestFree = ::fcntl(0, F_DUPFD, 0);
    ASSERT_GE(lowestFree, 0);
    ::close(lowestFree);
    rlimit original{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &original), 0);
    rlimit lowered = original;
    lowered.rlim_cur = rlim_t(lowestFree);

    auto session = TerminalSession::create(QStringLiteral("shell"), QStringLiteral("Test"),
                                           QStringLiteral("exit 5"), QDir::tempPath());
    int finishes = 0;
    session->setOnFinish([&](TerminalSession&) { ++finishes; });
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    session->start();
    ::setrlimit(RLIMIT_NOFILE, &original);

    EXPECT_EQ(finishes, 1);
    EXPECT_FALSE(session->running());
    EXPECT_EQ(session->exitCode(), -1);
    EXPECT_EQ(session->revision(), 1u);
    EXPECT_EQ(session->screen().plainText(),
              QStringLiteral("Could not start the terminal: Too many open files"));

    session->start();
    EXPECT_TRUE(session->running());
    ASSERT_TRUE(waitUntil([&] { return finishes == 2; }));
    EXPECT_EQ(session->exitCode(), 5);
}

TEST(TerminalSession, letGoOfWhileRunningEndsTheChildsGroup) {
    auto session = TerminalSession::create(QStringLiteral("shell"), QStringLiteral("Test"),
                                           QStringLiteral("sleep 30 & print -r -- CHILD:$!; wait"),
                                           QDir::tempPath());
    session->start();
    ASSERT_TRUE(waitUntil([&] {
        return session->screen().plainText().contains(QStringLiteral("CHILD:")) &&
               session->screen().plainText().back().isDigit();
    }));
    const int shell = session->pid();
    const int grandchild =
        pty_testing::numberAfter(session->screen().plainText().toUtf8(), "CHILD:");
    ASSERT_GT(grandchild, 1);
    session.reset();
    EXPECT_TRUE(waitUntil([&] {
        return !pty_testing::processAlive(shell) && !pty_testing::processAlive(grandchild) &&
               pty_testing::children().empty();
    }));
}

TEST(TerminalSession, twoHundredSessionsLeaveNoDescriptorsAndNoZombiesBehind) {
    {
        StartedSession warmUp(QStringLiteral("exit 0"));  // one-time descriptors of the loop
        ASSERT_TRUE(warmUp.waitForFinish());
    }
    testing_support::processEventsFor(100ms);
    const std::set<int> before = pty_testing::openDescriptors();

    constexpr int kSessions = 200;
    constexpr int kBatch = 8;  // a multiple of the four kinds below
    int finished = 0;
    for (int first = 0; first < kSessions; first += kBatch) {
        std::vector<std::shared_ptr<TerminalSession>> batch;
        for (int index = first; index < first + kBatch; ++index) {
            const int kind = index % 4;
            const QString command = kind == 0   ? QStringLiteral("print done; exit 3")
                                    : kind == 1 ? QStringLiteral("sleep 30")
                                    : kind == 2 ? QStringLiteral("read line; print $line")
                                                : QStringLiteral("sleep 30 & sleep 30");
            auto session = TerminalSession::create(QStringLiteral("shell"), QString::number(index),
                                                   command, QDir::tempPath());
            session->setOnFinish([&](TerminalSession&) { ++finished; });
            session->start();
            batch.push_back(session);
        }
        for (int index = 0; index < kBatch; ++index) {
            if (index % 4 == 1) {
                batch[index]->stop();  // stopped mid-way
            } else if (index % 4 == 2) {
                batch[index]->send(QStringLiteral("hello\r"));
            }
        }
        // The last kind is let go of while running, with a grandchild in its group.
        batch[3].reset();
        batch[7].reset();
        ASSERT_TRUE(waitUntil(
            [&] {
                return std::all_of(batch.begin(), batch.end(), [](const auto& session) {
                    return !session || !session->running();
                });
            },
            30s));
    }
    EXPECT_EQ(finished, kSessions - 2 * (kSessions / kBatch));
    EXPECT_TRUE(waitUntil(
        [&] { return pty_testing::openDescriptors() == before && pty_testing::children().empty(); },
        30s))
        << "descriptors before " << before.size() << ", after "
        << pty_testing::openDescriptors().size() << ", children " << pty_testing::children().size();
    EXPECT_TRUE(pty_testing::zombieChildren().empty());
}

}  // namespace
