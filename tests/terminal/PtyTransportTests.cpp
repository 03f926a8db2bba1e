#include "core/assistants/Provider.h"
#include "core/terminal/PTYTransport.h"
#include "core/terminal/Pty.h"

#include "PtyTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <limits>
#include <memory>
#include <optional>
#include <thread>
#include <tuple>

#include <fcntl.h>
#include <unistd.h>

using namespace std::chrono_literals;
using testing_support::processEventsFor;
using testing_support::waitUntil;

namespace {

// One child on a pseudo-terminal behind a transport, wired the way a session wires it:
// output and completion collected on the main thread, the child watched and reaped by the
// transport.
class ChildRun {
public:
    struct Observed {
        QByteArray output;
        int completions = 0;
        std::optional<int> status;
        bool outputAfterCompletion = false;
        std::function<void()> onChunk;
        qsizetype takeAtMost = std::numeric_limits<qsizetype>::max();  // bytes per offer
        int offers = 0;
    };

    ~ChildRun() {
        if (m_pid > 1 && !m_observed->status) {
            ::kill(-m_pid, SIGKILL);
        }
    }

    bool start(const QString& command, const QString& directory = QDir::tempPath(), int rows = 24,
               int columns = 80, const QStringList& environment = {}) {
        SpawnRequest request = shellSpawnRequest(command, directory);
        request.rows = rows;
        request.columns = columns;
        request.environment = environment;
        int master = -1;
        m_pid = pty_spawn(request, &master);
        if (m_pid < 1) {
            return false;
        }
        auto observed = m_observed;
        // With the descriptor limit just above the lowest free descriptor, the transport gets
        // its wake-up descriptor but no process descriptor for the child.
        std::optional<testing_support::DescriptorLimit> limit;
        if (withoutProcessDescriptor) {
            limit.emplace(rlim_t(testing_support::lowestFreeDescriptor() + 1));
        }
        m_transport = std::make_shared<PTYTransport>(
            master, m_pid,
            [observed](QByteArrayView chunk) -> qsizetype {
                observed->outputAfterCompletion |= observed->completions > 0;
                const qsizetype taken = std::min(chunk.size(), observed->takeAtMost);
                observed->output += chunk.first(taken);
                ++observed->offers;
                if (observed->onChunk) {
                    observed->onChunk();
                }
                return taken;
            },
            [observed](int status) {
                ++observed->completions;
                observed->status = status;
            });
        return true;
    }

    bool waitForOutput(const QByteArray& text) {
        return waitUntil([&] { return m_observed->output.contains(text); });
    }
    bool waitForCompletion(std::chrono::milliseconds timeout = 10s) {
        return waitUntil([&] { return m_observed->completions > 0; }, timeout);
    }

    Observed& observed() { return *m_observed; }
    const QByteArray& output() const { return m_observed->output; }
    PTYTransport& transport() { return *m_transport; }
    int pid() const { return m_pid; }

    bool withoutProcessDescriptor = false;

private:
    std::shared_ptr<Observed> m_observed = std::make_shared<Observed>();
    std::shared_ptr<PTYTransport> m_transport;
    int m_pid = -1;
};

TEST(PtyTransport, exitStatusesFollowTheConventionAndCompleteOnce) {
    // Command, working folder, status.
    const std::tuple<const char*, const char*, int> cases[] = {
        {"exit 7", "/", 7},
        {"exit 0", "/", 0},
        {"kill -TERM $$", "/", 143},
        {"kill -KILL $$", "/", 137},
        {"velk-no-such-command-anywhere", "/", 127},
        {"print never", "/velk/no/such/folder", 126}};
    for (const auto& [command, directory, status] : cases) {
        SCOPED_TRACE(command);
        ChildRun run;
        ASSERT_TRUE(run.start(QString::fromUtf8(command), QString::fromUtf8(directory)));
        ASSERT_TRUE(run.waitForCompletion());
        EXPECT_EQ(run.observed().status, status);
        processEventsFor(50ms);
        EXPECT_EQ(run.observed().completions, 1);
        if (status == 126) {
            // The missing folder is reported in the terminal, whose own output processing
            // turns the message's "\n" into "\r\n".
            EXPECT_EQ(run.output().toStdString(),
                      "VELK: cannot open the selected working folder.\r\r\n");
        }
    }
}

// A background process keeps the terminal open after the child's end: the end is found
// from the child itself, through its process descriptor or, without one, by the transport's
// own watch, and nothing is delivered or left open after it.
TEST(PtyTransport, aBackgroundProcessHoldingTheTerminalDoesNotDelayOrOutliveCompletion) {
    ChildRun warmUp;  // opens the main thread's queue and its descriptor
    ASSERT_TRUE(warmUp.start(QStringLiteral("exit 0")));
    ASSERT_TRUE(warmUp.waitForCompletion());
    const std::set<int> before = pty_testing::openDescriptors();
    for (const bool withoutProcessDescriptor : {false, true}) {
        SCOPED_TRACE(withoutProcessDescriptor ? "without a process descriptor" : "with one");
        {
            ChildRun run;
            run.withoutProcessDescriptor = withoutProcessDescriptor;
            ASSERT_TRUE(run.start(QStringLiteral(
                "(trap '' HUP; exec sleep 30) & print -r -- \"LAST|$!|\"; sleep 0.2; exit 4")));
            ASSERT_TRUE(run.waitForCompletion(20s));
            EXPECT_EQ(run.observed().status, 4);
            EXPECT_TRUE(run.output().contains("LAST|"));
            EXPECT_FALSE(run.observed().outputAfterCompletion);
            ::kill(pty_testing::numberAfter(run.output(), "LAST|"), SIGKILL);
        }
        EXPECT_TRUE(waitUntil([&] { return pty_testing::openDescriptors() == before; }));
    }
}

TEST(PtyTransport, theMasterIsCloseOnExecAndNonBlockingRightAfterSpawn) {
    int master = -1;
    const int pid =
        pty_spawn(shellSpawnRequest(QStringLiteral("exit 0"), QStringLiteral("/")), &master);
    ASSERT_GE(pid, 1);
    EXPECT_TRUE(::fcntl(master, F_GETFD) & FD_CLOEXEC);
    EXPECT_TRUE(::fcntl(master, F_GETFL) & O_NONBLOCK);
    EXPECT_EQ(pty_wait(pid), 0);
    ::close(master);
    EXPECT_EQ(pty_wait(pid), -1);  // nothing left to wait for
}

TEST(PtyTransport, theChildGetsItsFolderSizeVariablesInputInOrderAndResizesFromItsOwnThread) {
    QTemporaryDir folder;
    ChildRun run;
    // The request's variables are added, or replace an inherited one of the same name.
    qputenv("VELK_SPAWN_REPLACED", "inherited");
    ASSERT_TRUE(run.start(
        QStringLiteral("print -r -- \"START:$PWD|$(stty size)|$TERM|$COLORTERM|"
                       "$VELK_SPAWN_TEST|$(env | grep -c "
                       "'^VELK_SPAWN_REPLACED=')|$VELK_SPAWN_REPLACED|STARTED\"; "
                       "read first; read second; "
                       "print -r -- \"END:$(stty size)|$first+$second\""),
        folder.path(), 33, 111,
        {QStringLiteral("VELK_SPAWN_TEST=given"), QStringLiteral("VELK_SPAWN_REPLACED=replaced")}));
    ASSERT_TRUE(run.waitForOutput("|STARTED"));
    EXPECT_TRUE(run.output().contains("START:" + QDir(folder.path()).canonicalPath().toUtf8() +
                                      "|33 111|xterm-256color|truecolor|given|1|replaced|STARTED"))
        << run.output().constData();
    // The reads and writes happen on the transport's own thread, named after its queue.
    const QStringList tasks =
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    EXPECT_TRUE(std::any_of(tasks.begin(), tasks.end(), [](const QString& task) {
        return testing_support::readFile(QStringLiteral("/proc/self/task/%1/comm").arg(task))
                   .trimmed() == "kelo.pty";
    }));

    run.transport().resize(40, 100);
    for (const char* input : {"hel", "lo\r", "", "world\r"}) {
        run.transport().send(input);
    }
    ASSERT_TRUE(run.waitForCompletion());
    EXPECT_TRUE(run.output().contains("END:40 100|hello+world")) << run.output().constData();
    EXPECT_EQ(run.observed().status, 0);
}

TEST(PtyTransport, aFloodIsDeliveredCompleteAndInOrderWhileTheMainThreadLagsBehind) {
    // The receiver takes at most 100,000 bytes of each offer, so every chunk comes in pieces,
    // and it sleeps in its first offers, so reading pauses at the backlog limit and must
    // resume; the child has long ended by then, so the end of the output is drained after
    // its status is known.
    ChildRun run;
    run.observed().takeAtMost = 100'000;
    // A zero-interval timer ticks once per pass of the event loop.
    QTimer ticker;
    int ticks = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(0);
    std::vector<int> ticksAtSlowOffers;
    run.observed().onChunk = [&] {
        if (ticksAtSlowOffers.size() < 8) {
            ticksAtSlowOffers.push_back(ticks);
            QThread::msleep(100);
        }
    };
    ASSERT_TRUE(run.start(
        QStringLiteral("stty raw -echo; for i in {1..40}; do head -c 262144 /dev/zero | tr '\\0' "
                       "$(printf \"\\\\$(printf %o $((96 + i % 26)))\"); done; print -n END")));
    ASSERT_TRUE(run.waitForCompletion(60s));
    const QByteArray& output = run.output();
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
    EXPECT_GE(run.observed().offers, output.size() / 100'000);
    // A slow offer ends its pass of the event loop: the timer ran before the next one.
    for (std::size_t i = 1; i < ticksAtSlowOffers.size(); ++i) {
        EXPECT_GT(ticksAtSlowOffers[i], ticksAtSlowOffers[i - 1]) << i;
    }
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
    EXPECT_TRUE(run.output().contains("PASTE_DONE"));
    const QByteArray received = testing_support::readFile(folder.filePath("received"));
    EXPECT_EQ(received.size(), paste.size()) << run.output().constData();
    EXPECT_TRUE(received == paste);
}

TEST(PtyTransport, stopEndsTheChildAndEverythingItStartedInItsGroupEvenRightAfterTheStart) {
    ChildRun run;
    ASSERT_TRUE(
        run.start(QStringLiteral("sleep 30 & print -r -- \"GRANDCHILD:${!}|end\"; sleep 30")));
    ASSERT_TRUE(run.waitForOutput("|end"));
    const int grandchild = pty_testing::numberAfter(run.output(), "GRANDCHILD:");
    ASSERT_GT(grandchild, 1);
    EXPECT_TRUE(pty_testing::processAlive(grandchild));
    run.transport().stop(run.pid());
    ASSERT_TRUE(run.waitForCompletion());
    EXPECT_EQ(run.observed().status, 143);
    EXPECT_TRUE(waitUntil([&] { return !pty_testing::processAlive(grandchild); }));

    for (int attempt = 0; attempt < 10; ++attempt) {
        ChildRun early;
        ASSERT_TRUE(early.start(QStringLiteral("sleep 30")));
        early.transport().stop(early.pid());
        ASSERT_TRUE(early.waitForCompletion());
        EXPECT_EQ(early.observed().status, 143);
    }
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
    processEventsFor(100ms);
    EXPECT_EQ(run.observed().completions, 0);  // the status is not known yet
    run.transport().stop(run.pid());
    ASSERT_TRUE(run.waitForCompletion());
    EXPECT_EQ(run.observed().status, 143);
    // Everything after the end is harmless too.
    run.transport().send("late");
    run.transport().close();
    run.transport().stop(run.pid());
    processEventsFor(100ms);
    EXPECT_EQ(run.observed().completions, 1);
}

}  // namespace
