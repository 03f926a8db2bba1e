#include "terminal/PTYTransport.h"
#include "terminal/Pty.h"

#include "PtyTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

using namespace std::chrono_literals;
using testing_support::waitUntil;

namespace {

// One child on a pseudo-terminal behind a transport, wired the way a session wires it:
// output and completion collected on the main thread, the child reaped on a thread of its
// own that holds the transport.
class ChildRun {
public:
    struct Observed {
        QByteArray output;
        int chunks = 0;
        int completions = 0;
        std::optional<int> status;
        bool outputAfterCompletion = false;
        std::function<void(const QByteArray&)> onChunk;
    };

    ~ChildRun() {
        if (m_pid > 1 && !m_observed->status) {
            ::kill(-m_pid, SIGKILL);
        }
        if (m_reaper.joinable()) {
            m_reaper.join();
        }
    }

    bool start(const QString& command, const QString& directory = QDir::tempPath(), int rows = 24,
               int columns = 80) {
        int master = -1;
        m_pid = vira_spawn(command.toUtf8().constData(), directory.toUtf8().constData(), rows,
                           columns, &master);
        if (m_pid < 1) {
            return false;
        }
        m_master = master;
        auto observed = m_observed;
        m_transport = std::make_shared<PTYTransport>(
            master,
            [observed](const QByteArray& chunk) {
                observed->outputAfterCompletion |= observed->completions > 0;
                observed->output += chunk;
                ++observed->chunks;
                if (observed->onChunk) {
                    observed->onChunk(chunk);
                }
            },
            [observed](int status) {
                ++observed->completions;
                observed->status = status;
            });
        m_reaper = std::thread(
            [transport = m_transport, pid = m_pid] { transport->childExited(vira_wait(pid)); });
        return true;
    }

    bool waitForOutput(const QByteArray& text, std::chrono::milliseconds timeout = 10s) {
        return waitUntil([&] { return m_observed->output.contains(text); }, timeout);
    }
    bool waitForCompletion(std::chrono::milliseconds timeout = 10s) {
        return waitUntil([&] { return m_observed->completions > 0; }, timeout);
    }

    Observed& observed() { return *m_observed; }
    PTYTransport& transport() { return *m_transport; }
    int pid() const { return m_pid; }
    int master() const { return m_master; }
    // Drops this run's hold on the transport (the reaper may still hold it).
    void releaseTransport() { m_transport.reset(); }

private:
    std::shared_ptr<Observed> m_observed = std::make_shared<Observed>();
    std::shared_ptr<PTYTransport> m_transport;
    std::thread m_reaper;
    int m_pid = -1;
    int m_master = -1;
};

TEST(PtyTransport, exitStatusesFollowTheConventionAndCompleteOnce) {
    const std::pair<const char*, int> cases[] = {
        {"exit 7", 7},
        {"exit 0", 0},
        {"kill -TERM $$", 143},
        {"kill -KILL $$", 137},
        {"velk-no-such-command-anywhere", 127},
    };
    for (const auto& [command, expected] : cases) {
        SCOPED_TRACE(command);
        ChildRun run;
        ASSERT_TRUE(run.start(QString::fromUtf8(command)));
        ASSERT_TRUE(run.waitForCompletion());
        EXPECT_EQ(run.observed().status, expected);
        testing_support::processEventsFor(50ms);
        EXPECT_EQ(run.observed().completions, 1);
    }
}

TEST(PtyTransport, theMasterIsCloseOnExecAndNonBlockingRightAfterSpawn) {
    int master = -1;
    const int pid = vira_spawn("exit 0", "/", 24, 80, &master);
    ASSERT_GE(pid, 1);
    EXPECT_TRUE(::fcntl(master, F_GETFD) & FD_CLOEXEC);
    EXPECT_TRUE(::fcntl(master, F_GETFL) & O_NONBLOCK);
    EXPECT_EQ(vira_wait(pid), 0);
    ::close(master);
    EXPECT_EQ(vira_wait(pid), -1);  // nothing left to wait for
}

TEST(PtyTransport, theChildStartsInTheFolderWithTheTerminalSizeAndVariables) {
    QTemporaryDir folder;
    ChildRun run;
    ASSERT_TRUE(
        run.start(QStringLiteral("print -r -- \"PWD:$PWD|SIZE:$(stty size)|$TERM|$COLORTERM\""),
                  folder.path(), 33, 111));
    ASSERT_TRUE(run.waitForCompletion());
    const QByteArray expected = "PWD:" + QDir(folder.path()).canonicalPath().toUtf8() +
                                "|SIZE:33 111|xterm-256color|truecolor";
    EXPECT_TRUE(run.observed().output.contains(expected)) << run.observed().output.constData();
    EXPECT_EQ(run.observed().status, 0);
}

TEST(PtyTransport, aMissingFolderIsReportedInTheTerminalWithStatus126) {
    ChildRun run;
    ASSERT_TRUE(run.start(QStringLiteral("print never"), QStringLiteral("/velk/no/such/folder")));
    ASSERT_TRUE(run.waitForCompletion());
    EXPECT_EQ(run.observed().status, 126);
    // The terminal's own output processing turns the message's "\n" into "\r\n".
    EXPECT_EQ(run.observed().output.toStdString(),
              "VELK: cannot open the selected working folder.\r\r\n");
}

TEST(PtyTransport, allOutputIsDeliveredBeforeCompletion) {
    ChildRun run;
    ASSERT_TRUE(run.start(
        QStringLiteral("for i in {1..6000}; do print line; done; print FINAL_OUTPUT_MARKER")));
    ASSERT_TRUE(run.waitForCompletion(30s));
    EXPECT_FALSE(run.observed().outputAfterCompletion);
    EXPECT_EQ(run.observed().output.count("line\r\n"), 6000);
    EXPECT_TRUE(run.observed().output.endsWith("FINAL_OUTPUT_MARKER\r\n"));
}

TEST(PtyTransport, aFloodIsDeliveredCompleteAndInOrderWhileTheMainThreadLagsBehind) {
    // The main thread sleeps in its first chunks, so reading pauses at the backlog limit and
    // must resume; the child has long ended by then, so the end of the output is drained
    // after its status is known.
    ChildRun run;
    int slowChunks = 8;
    run.observed().onChunk = [&](const QByteArray&) {
        if (slowChunks-- > 0) {
            QThread::msleep(100);
        }
    };
    ASSERT_TRUE(run.start(
        QStringLiteral("stty raw -echo; for i in {1..40}; do head -c 262144 /dev/zero | tr '\\0' "
                       "$(printf \"\\\\$(printf %o $((96 + i % 26)))\"); done; print -n END")));
    ASSERT_TRUE(run.waitForCompletion(60s));
    const QByteArray& output = run.observed().output;
    ASSERT_EQ(output.size(), 40 * 262144 + 3);
    for (int i = 1; i <= 40; ++i) {
        const char expected = char(96 + i % 26);
        const qsizetype offset = qsizetype(i - 1) * 262144;
        ASSERT_EQ(output.at(offset), expected) << i;
        ASSERT_EQ(output.at(offset + 262143), expected) << i;
    }
    EXPECT_TRUE(output.endsWith("END"));
    EXPECT_FALSE(run.observed().outputAfterCompletion);
    EXPECT_EQ(run.observed().status, 0);
}

TEST(PtyTransport, aLargePasteReachesARawModeReaderIntactAndInOrder) {
    QTemporaryDir folder;
    ChildRun run;
    ASSERT_TRUE(
        run.start(QStringLiteral("stty raw -echo; print -n PASTE_READY; "
                                 "dd of=received bs=16384 count=300000 iflag=count_bytes,fullblock "
                                 "2>/dev/null; print -n PASTE_DONE"),
                  folder.path()));
    ASSERT_TRUE(run.waitForOutput("PASTE_READY"));
    const QByteArray paste = QByteArray("abc123").repeated(50000);
    run.transport().send(paste);
    ASSERT_TRUE(run.waitForCompletion(30s));
    EXPECT_TRUE(run.observed().output.contains("PASTE_DONE"));
    const QByteArray received =
        testing_support::readFile(folder.filePath(QStringLiteral("received")));
    EXPECT_EQ(received.size(), paste.size()) << run.observed().output.constData();
    EXPECT_TRUE(received == paste);
}

TEST(PtyTransport, inputReachesTheChildInTheOrderSent) {
    ChildRun run;
    ASSERT_TRUE(
        run.start(QStringLiteral("read first; read second; print -r -- \"INPUT:$first+$second\"")));
    run.transport().send("hel");
    run.transport().send("lo\r");
    run.transport().send("");
    run.transport().send("world\r");
    ASSERT_TRUE(run.waitForCompletion());
    EXPECT_TRUE(run.observed().output.contains("INPUT:hello+world"))
        << run.observed().output.constData();
    EXPECT_EQ(run.observed().status, 0);
}

TEST(PtyTransport, resizeReachesTheChild) {
    ChildRun run;
    ASSERT_TRUE(run.start(QStringLiteral("read go; print -r -- \"SIZE:$(stty size)\"")));
    run.transport().resize(40, 100);
    run.transport().send("\r");
    ASSERT_TRUE(run.waitForCompletion());
    EXPECT_TRUE(run.observed().output.contains("SIZE:40 100")) << run.observed().output.constData();
}

TEST(PtyTransport, stopEndsTheChildAndEverythingItStartedInItsGroup) {
    ChildRun run;
    ASSERT_TRUE(run.start(QStringLiteral("sleep 30 & print -r -- GRANDCHILD:$!; sleep 30")));
    ASSERT_TRUE(run.waitForOutput("GRANDCHILD:"));
    ASSERT_TRUE(waitUntil([&] { return run.observed().output.contains("\n"); }));
    const int grandchild = pty_testing::numberAfter(run.observed().output, "GRANDCHILD:");
    ASSERT_GT(grandchild, 1);
    EXPECT_TRUE(pty_testing::processAlive(grandchild));
    run.transport().stop(run.pid());
    ASSERT_TRUE(run.waitForCompletion());
    EXPECT_EQ(run.observed().status, 143);
    EXPECT_TRUE(waitUntil([&] { return !pty_testing::processAlive(grandchild); }));
}

TEST(PtyTransport, aStopRightAfterTheStartStillEndsTheChild) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        ChildRun run;
        ASSERT_TRUE(run.start(QStringLiteral("sleep 30")));
        run.transport().stop(run.pid());
        ASSERT_TRUE(run.waitForCompletion());
        EXPECT_EQ(run.observed().status, 143);
    }
}

TEST(PtyTransport, aBackgroundProcessHoldingTheTerminalDoesNotDelayCompletion) {
    ChildRun run;
    ASSERT_TRUE(run.start(QStringLiteral("sleep 30 & print -r -- BACKGROUND:$!; exit 3")));
    ASSERT_TRUE(run.waitForCompletion(20s));
    EXPECT_EQ(run.observed().status, 3);
    const int background = pty_testing::numberAfter(run.observed().output, "BACKGROUND:");
    ASSERT_GT(background, 1);
    ::kill(background, SIGKILL);
}

TEST(PtyTransport, sendResizeAndCloseAfterCloseDoNothingAndCompletionStillArrives) {
    ChildRun run;
    // Closing hangs up the terminal; this child ignores that, so its status comes later.
    ASSERT_TRUE(run.start(QStringLiteral("trap '' HUP; print READY; sleep 30")));
    ASSERT_TRUE(run.waitForOutput("READY"));
    run.transport().close();
    run.transport().close();
    run.transport().send("ignored\r");
    run.transport().resize(10, 10);
    testing_support::processEventsFor(100ms);
    EXPECT_EQ(run.observed().completions, 0);  // the status is not known yet
    run.transport().stop(run.pid());
    ASSERT_TRUE(run.waitForCompletion());
    EXPECT_EQ(run.observed().status, 143);
    // Everything after the end is harmless too.
    run.transport().send("late");
    run.transport().close();
    run.transport().stop(run.pid());
    testing_support::processEventsFor(100ms);
    EXPECT_EQ(run.observed().completions, 1);
}

TEST(PtyTransport, theIoThreadIsNamedAfterItsQueue) {
    ChildRun run;
    ASSERT_TRUE(run.start(QStringLiteral("sleep 30")));
    const auto ioThreadNamed = [] {
        for (const QString& task :
             QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
            if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "kelo.pty") {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(waitUntil(ioThreadNamed));
    run.transport().stop(run.pid());
    ASSERT_TRUE(run.waitForCompletion());
}

TEST(PtyTransport, aReleasedTransportLeavesNoDescriptorBehind) {
    const std::set<int> before = pty_testing::openDescriptors();
    {
        ChildRun run;
        ASSERT_TRUE(run.start(QStringLiteral("print started; sleep 30")));
        ASSERT_TRUE(run.waitForOutput("started"));
        // Released while the child runs: the reaper's hold keeps it until the child ends.
        run.releaseTransport();
        ::kill(-run.pid(), SIGTERM);
    }
    EXPECT_TRUE(waitUntil([&] { return pty_testing::openDescriptors() == before; }));
    EXPECT_TRUE(pty_testing::zombieChildren().empty());
}

}  // namespace
