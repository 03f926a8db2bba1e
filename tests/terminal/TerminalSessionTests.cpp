#include "core/terminal/TerminalSession.h"

#include "core/assistants/Provider.h"

#include "PtyTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testing_support::processEventsFor;
using testing_support::waitUntil;
using testing_support::writeFile;

namespace {

// A session in the temporary folder, with its finish calls counted and its screen's text
// taken at the last one.
struct SessionRun {
    std::shared_ptr<TerminalSession> session;
    int finishes = 0;
    QString textAtFinish;

    explicit SessionRun(const QString& command, bool start = true)
        : session(TerminalSession::create(QStringLiteral("shell"), QStringLiteral("Test"), command,
                                          shellSpawnRequest(command, QDir::tempPath()))) {
        session->setOnFinish([this](TerminalSession& finished) {
            ++finishes;
            textAtFinish = finished.screen().plainText();
        });
        if (start) {
            session->start();
        }
    }
    SessionRun(const SessionRun&) = delete;
    SessionRun& operator=(const SessionRun&) = delete;

    bool waitForFinish(std::chrono::milliseconds timeout = 15s) {
        return waitUntil([&] { return finishes > 0; }, timeout);
    }
    QString text() const { return session->screen().plainText(); }
};

TEST(TerminalSession, inputRoundTripsAllOutputIsInTheScreenAtTheOneFinishAndTheExitCodeIsKept) {
    SessionRun run(QStringLiteral("read line; for i in {1..6000}; do print line; done; "
                                  "print -r -- \"INPUT:$line FINAL_OUTPUT_MARKER\"; exit 7"),
                   false);
    run.session->send(QStringLiteral("early\r"));  // before the start: dropped
    EXPECT_EQ(run.session->revision(), 0u);
    run.session->start();
    EXPECT_TRUE(run.session->running());
    EXPECT_GE(run.session->pid(), 1);
    int runningChanges = 0;
    QObject::connect(run.session.get(), &TerminalSession::runningChanged,
                     [&] { ++runningChanges; });
    run.session->send(QStringLiteral("hello\r"));
    ASSERT_TRUE(run.waitForFinish(30s));
    EXPECT_FALSE(run.session->running());
    EXPECT_EQ(run.session->exitCode(), 7);
    EXPECT_TRUE(run.textAtFinish.contains(QStringLiteral("INPUT:hello FINAL_OUTPUT_MARKER")));
    EXPECT_EQ(runningChanges, 1);
    // After the end, input, stop and a second start change nothing.
    const quint64 revision = run.session->revision();
    run.session->send(QStringLiteral("ignored\r"));
    run.session->stop();
    run.session->start();
    processEventsFor(100ms);
    EXPECT_EQ(run.finishes, 1);
    EXPECT_EQ(run.session->revision(), revision);
    EXPECT_EQ(run.session->exitCode(), 7);
}

TEST(TerminalSession, theChildSeesTheToolFoldersOnItsPathItsQueriesAnsweredAndTheClampedSize) {
    SessionRun run(
        QStringLiteral("print -r -- \"PATH=$PATH\"; stty raw -echo; print -n $'\\e[6n'; "
                       "read -r -d R reply; stty sane; print READY; read go; "
                       "print -r -- \"CPR:${reply#*\\[}\"; print -r -- \"SIZE:$(stty size)\""),
        false);
    run.session->resize(24, 1000);  // one line for the whole path
    run.session->start();
    const QString path = QStringLiteral(
                             "PATH=%1/.local/bin:%1/.npm-global/bin:%1/.kimi-code/bin:"
                             "%1/.cargo/bin:/usr/local/bin:")
                             .arg(QDir::homePath());
    // The cursor position query is answered with no user action.
    ASSERT_TRUE(waitUntil([&] { return run.text().contains(QStringLiteral("READY")); }));
    EXPECT_TRUE(run.text().contains(path)) << run.text().toStdString();

    // A size below the screen's minimum reaches the child raised to it.
    run.session->resize(1, 1);
    EXPECT_EQ(run.session->screen().rows(), 3);
    EXPECT_EQ(run.session->screen().columns(), 10);
    run.session->send(QStringLiteral("\r"));
    ASSERT_TRUE(run.waitForFinish());
    EXPECT_TRUE(run.text().contains(QStringLiteral("CPR:2;1\nSIZE:3 10")))
        << run.text().toStdString();
    EXPECT_EQ(run.session->exitCode(), 0);
}

TEST(TerminalSession, aFloodIsFedInTurnsWithTheEventLoopRunningBetweenThem) {
    // 100,000 repeats of a screenful: 1.1 MB that each rewrite the whole screen.
    SessionRun run(
        QStringLiteral("stty raw -echo; repeat 100000 print -rn -- $'a\\e[1000000b'; "
                       "print -rn -- $'\\e[HFLOOD_END'"));
    // A zero-interval timer ticks once per pass of the event loop.
    QTimer ticker;
    int ticks = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(0);
    std::vector<int> ticksAtTurn;
    QObject::connect(run.session.get(), &TerminalSession::revisionChanged,
                     [&] { ticksAtTurn.push_back(ticks); });
    ASSERT_TRUE(run.waitForFinish(60s));
    ticker.stop();
    // No turn feeds more than the limit, so there are at least as many turns as limits in the
    // flood, and the event loop ran in between.
    EXPECT_GE(qsizetype(ticksAtTurn.size()), 1'100'000 / TerminalSession::kFeedLimit);
    EXPECT_GT(ticksAtTurn.back(), ticksAtTurn.front());
    // All of it arrived, in order, before the one finish.
    EXPECT_EQ(run.session->screen().rowText(0), QStringLiteral("FLOOD_END") + QString(71, u'a'));
    EXPECT_EQ(run.session->screen().rowText(23), QString(80, u'a'));
    EXPECT_EQ(run.finishes, 1);
}

TEST(TerminalSession, theProgramsTitleColoursNotificationsAndCopiesTravelThroughTheSession) {
    SessionRun run(
        QStringLiteral("stty raw -echo; print -n $'\\e]2;from child\\a\\e]11;?\\e\\\\'; "
                       "read -r -d '\\' reply; stty sane; print -r -- \"BG:${reply#*;}\"; "
                       "print -n $'\\e]777;notify;Done;all good\\a\\a\\e]52;c;aGk=\\a'"),
        false);
    int titleChanges = 0;
    int eventsAdded = 0;
    QStringList copied;
    QObject::connect(run.session.get(), &TerminalSession::programTitleChanged,
                     [&] { ++titleChanges; });
    QObject::connect(run.session.get(), &TerminalSession::eventAdded, [&] { ++eventsAdded; });
    QObject::connect(run.session.get(), &TerminalSession::clipboardWriteRequested,
                     [&](const QString& text) { copied.append(text); });
    run.session->setColors(0xE6E6E6, 0x101418, 0x00E5D0);
    EXPECT_FALSE(run.session->clipboardWritesAllowed());
    run.session->setClipboardWritesAllowed(true);
    run.session->start();
    ASSERT_TRUE(run.waitForFinish());
    EXPECT_TRUE(run.text().contains(QStringLiteral("BG:rgb:1010/1414/1818")))
        << run.text().toStdString();
    EXPECT_EQ(run.session->title(), QStringLiteral("Test"));
    EXPECT_EQ(run.session->programTitle(), QStringLiteral("from child"));
    EXPECT_EQ(titleChanges, 1);
    ASSERT_EQ(eventsAdded, 2);
    const auto& events = run.session->events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, TerminalEvent::Kind::Notification);
    EXPECT_EQ(events[0].title, QStringLiteral("Done"));
    EXPECT_EQ(events[0].body, QStringLiteral("all good"));
    EXPECT_TRUE(events[0].timestamp.isValid());
    EXPECT_EQ(events[1].kind, TerminalEvent::Kind::Bell);
    EXPECT_EQ(copied, QStringList{QStringLiteral("hi")});
}

TEST(TerminalEventLog, keepsTheNewest32AndAtMostTenWithinAnySecond) {
    TerminalEventLog log;
    auto add = [&log](int number, qint64 nowMs) {
        return log.add({TerminalEvent::Kind::Bell, QString::number(number), {}, {}}, nowMs);
    };
    // A burst: ten recorded, the rest dropped until the first has left the window.
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(add(i, 1000 + i), i < 10) << i;
    }
    EXPECT_FALSE(add(15, 1999));
    EXPECT_TRUE(add(16, 2000));
    EXPECT_FALSE(add(17, 2000));
    EXPECT_EQ(log.events().size(), 11u);
    // A steady ten per second is never limited; only the newest 32 are kept.
    for (int i = 0; i < 40; ++i) {
        EXPECT_TRUE(add(100 + i, 3000 + i * 100)) << i;
    }
    ASSERT_EQ(log.events().size(), 32u);
    EXPECT_EQ(log.events().front().title, QStringLiteral("108"));
    EXPECT_EQ(log.events().back().title, QStringLiteral("139"));
}

TEST(TerminalSession, outputFedInManyTurnsKeepsEveryByteInOrder) {
    // 2,100 numbered lines, each with a two-byte and a three-byte character, colours and a
    // REP, so turns end inside characters, sequences and gathered repeats. Every 50 lines a
    // burst of screenful repeats (of two characters in turn, so none add up) on the alternate
    // screen makes turns end on the work limit too; leaving it restores the main screen.
    QByteArray output;
    QStringList lines;
    for (int i = 1; i <= 2100; ++i) {
        const QByteArray number = QByteArray::number(i).rightJustified(5, '0');
        output += "L" + number + " \xC3\xA9\xE4\xB8\xAD\x1b[31m=\x1b[60b\x1b[0m end\r\n";
        lines.append(QStringLiteral("L%1 \u00E9\u4E2D%2 end")
                         .arg(QString::fromLatin1(number), QString(61, u'=')));
        if (i % 50 == 0) {
            output += "\x1b[?1049h" + QByteArray("a\x1b[1000000bb\x1b[1000000b").repeated(1000) +
                      "\x1b[?1049l";
        }
    }
    const QTemporaryDir folder;
    ASSERT_TRUE(writeFile(folder.filePath("output"), output));
    SessionRun run(QStringLiteral("stty raw -echo; cat '%1'").arg(folder.filePath("output")));
    int turns = 0;
    QObject::connect(run.session.get(), &TerminalSession::revisionChanged, [&] { ++turns; });
    // A bound against a hang only: under ThreadSanitizer on a loaded machine this takes a minute.
    ASSERT_TRUE(run.waitForFinish(180s));
    EXPECT_GE(turns, output.size() / TerminalSession::kFeedLimit);
    // The scrollback's 2,000 lines and the screen's hold the last 2,023 lines and the empty
    // line the cursor is on.
    const int kept = TerminalScreen::kScrollbackLimit + run.session->screen().rows() - 1;
    EXPECT_EQ(run.textAtFinish, lines.mid(lines.size() - kept).join(u'\n'));
    EXPECT_EQ(run.finishes, 1);
}

TEST(TerminalSession, stopTerminatesAndKillsAChildIgnoringThatASecondLater) {
    SessionRun sleeper(QStringLiteral("sleep 30"));
    SessionRun stubborn(QStringLiteral("trap '' TERM; print READY; sleep 30"));
    ASSERT_TRUE(waitUntil([&] { return stubborn.text().contains(QStringLiteral("READY")); }));
    sleeper.session->stop();
    stubborn.session->stop();
    processEventsFor(500ms);
    EXPECT_TRUE(stubborn.session->running());
    ASSERT_TRUE(sleeper.waitForFinish());
    EXPECT_EQ(sleeper.session->exitCode(), 143);
    ASSERT_TRUE(stubborn.waitForFinish());
    EXPECT_EQ(stubborn.session->exitCode(), 137);
    EXPECT_EQ(sleeper.finishes + stubborn.finishes, 2);
}

TEST(TerminalSession, aFailedStartShowsTheSystemsReasonAndCanBeRetried) {
    SessionRun run(QStringLiteral("exit 5"), false);
    {
        // With the descriptor limit at the lowest free descriptor, the pseudo-terminal cannot
        // be opened.
        const testing_support::DescriptorLimit limit(
            rlim_t(testing_support::lowestFreeDescriptor()));
        run.session->start();
    }

    EXPECT_EQ(run.finishes, 1);
    EXPECT_FALSE(run.session->running());
    EXPECT_EQ(run.session->exitCode(), -1);
    EXPECT_EQ(run.session->revision(), 1u);
    EXPECT_EQ(run.text(), QStringLiteral("Could not start the terminal: Too many open files"));

    run.session->start();
    EXPECT_TRUE(run.session->running());
    ASSERT_TRUE(waitUntil([&] { return run.finishes == 2; }));
    EXPECT_EQ(run.session->exitCode(), 5);
}

TEST(TerminalSession, letGoOfWhileRunningEndsTheChildsGroup) {
    auto run = std::make_unique<SessionRun>(
        QStringLiteral("sleep 30 & print -r -- \"CHILD:${!}|\"; wait"));
    ASSERT_TRUE(waitUntil([&] { return run->text().contains(QLatin1Char('|')); }));
    const int shell = run->session->pid();
    const int grandchild = pty_testing::numberAfter(run->text().toUtf8(), "CHILD:");
    ASSERT_GT(grandchild, 1);
    run.reset();
    EXPECT_TRUE(waitUntil([&] {
        return !pty_testing::processAlive(shell) && !pty_testing::processAlive(grandchild) &&
               pty_testing::children().empty();
    }));
}

TEST(TerminalSession, twentyRunningSessionsCostOneThreadEachWaitingForTheirChildrenIncluded) {
    const auto threads = [] {
        return QDir(QStringLiteral("/proc/self/task"))
            .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
            .size();
    };
    const qsizetype before = threads();
    std::vector<std::unique_ptr<SessionRun>> runs;
    for (int index = 0; index < 20; ++index) {
        runs.push_back(std::make_unique<SessionRun>(QStringLiteral("print READY; exec sleep 30")));
    }
    ASSERT_TRUE(waitUntil([&] {
        return std::all_of(runs.begin(), runs.end(), [](const auto& run) {
            return run->text().contains(QStringLiteral("READY"));
        });
    }));
    // Each transport's I/O thread also watches its child's end.
    EXPECT_LE(threads() - before, 20);
    for (const auto& run : runs) {
        run->session->stop();
    }
    for (const auto& run : runs) {
        ASSERT_TRUE(run->waitForFinish());
        EXPECT_EQ(run->session->exitCode(), 143);
    }
}

TEST(TerminalSession, twoHundredSessionsLeaveNoDescriptorsAndNoZombiesBehind) {
    {
        SessionRun warmUp(QStringLiteral("exit 0"));  // one-time descriptors of the loop
        ASSERT_TRUE(warmUp.waitForFinish());
    }
    processEventsFor(100ms);
    const std::set<int> before = pty_testing::openDescriptors();

    constexpr int kSessions = 200;
    constexpr int kBatch = 8;  // a multiple of the four kinds below
    int finished = 0;
    for (int first = 0; first < kSessions; first += kBatch) {
        std::vector<std::shared_ptr<TerminalSession>> batch;
        for (int index = first; index < first + kBatch; ++index) {
            const char* const kinds[] = {"print done; exit 3", "sleep 30", "read line; print $line",
                                         "sleep 30 & sleep 30"};
            const QString command = QString::fromUtf8(kinds[index % 4]);
            auto session =
                TerminalSession::create(QStringLiteral("shell"), QString::number(index), command,
                                        shellSpawnRequest(command, QDir::tempPath()));
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
    EXPECT_TRUE(pty_testing::children(true).empty());
}

}  // namespace
