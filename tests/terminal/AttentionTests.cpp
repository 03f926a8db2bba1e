#include "core/attention/AttentionReplay.h"
#include "core/attention/SessionAttention.h"
#include "core/terminal/TerminalSession.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using testing_support::waitUntil;

namespace {

const QString kRecordings = QStringLiteral(VELK_SOURCE_DIR "/tests/terminal/recordings/");

QByteArray recording(const QString& name) {
    QFile file(kRecordings + name + QStringLiteral("-24x80.bytes"));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    return file.readAll();
}

AttentionPatterns rules(const char* json) {
    QString error;
    const std::optional<AttentionPatterns> patterns = AttentionPatterns::parse(json, &error);
    EXPECT_TRUE(patterns) << error.toStdString();
    return patterns.value_or(AttentionPatterns{});
}

const char* const kAssistantLike = R"({
  "version": 1,
  "notification": [{ "state": "needs input", "pattern": "approval" },
                   { "state": "idle", "pattern": "." }],
  "title": [{ "state": "working", "pattern": "^\\*" }],
  "screen": [{ "state": "needs input", "pattern": "Do you want to proceed\\?" },
             { "state": "working", "pattern": "esc to interrupt" },
             { "state": "idle", "pattern": "^> $" }]
})";

}  // namespace

TEST(Attention, recordedScreensOfTheRealAssistantsEndInTheirStateWholeOrInSmallChunks) {
    const struct {
        const char* file;
        const char* assistant;
        Attention expected;
    } cases[] = {
        // Turns of the real programs against the scripted model server: working, asking
        // for approval, done, and ended by a server error (the turn is over).
        {"claude-working", "claude", Attention::Working},
        {"claude-approval", "claude", Attention::NeedsInput},
        {"claude-done", "claude", Attention::Idle},
        {"claude-error", "claude", Attention::Idle},
        {"codex-working", "codex", Attention::Working},
        {"codex-approval", "codex", Attention::NeedsInput},
        {"codex-done", "codex", Attention::Idle},
        {"codex-error", "codex", Attention::Idle},
        {"gemini-working", "gemini", Attention::Working},
        {"gemini-approval", "gemini", Attention::NeedsInput},
        {"gemini-done", "gemini", Attention::Idle},
        // Gemini CLI asks whether to keep trying a server error, under its working title.
        {"gemini-keep-trying", "gemini", Attention::NeedsInput},
        // First-run, trust and sign-in screens all wait for the user.
        {"claude-start", "claude", Attention::NeedsInput},
        {"claude-sign-in", "claude", Attention::NeedsInput},
        {"codex-start", "codex", Attention::NeedsInput},
        {"codex-sign-in", "codex", Attention::NeedsInput},
        {"gemini-start", "gemini", Attention::NeedsInput},
        {"gemini-sign-in", "gemini", Attention::NeedsInput},
        // Programs without patterns are at most "waiting", never "needs input", even with a
        // dialog box or a prompt on screen.
        {"dialog", "dialog", Attention::Waiting},
        {"zsh", "zsh", Attention::Waiting},
        {"mc", "mc", Attention::Waiting},
    };
    for (const auto& c : cases) {
        const QByteArray bytes = recording(QLatin1String(c.file));
        const AttentionPatterns patterns = AttentionPatterns::forAssistant(c.assistant);
        for (const qsizetype chunk : {qsizetype(65536), qsizetype(7)}) {
            const AttentionTracker tracker = replayAttention(bytes, 24, 80, patterns, chunk);
            EXPECT_EQ(attentionWord(tracker.state()), attentionWord(c.expected))
                << c.file << " in chunks of " << chunk << ": " << tracker.evidence().toStdString();
        }
    }
}

TEST(Attention, aTurnWalksFromWorkingToNeedsYouToWorkingToDoneAndEndsWithTheExitCode) {
    AttentionTracker tracker(rules(kAssistantLike));
    qint64 now = 0;
    tracker.started(now);
    EXPECT_EQ(tracker.state(), Attention::Starting);

    tracker.output(now += 10);
    tracker.evaluate(now, {});
    EXPECT_EQ(tracker.state(), Attention::Working);

    // The approval box appears and output stops: read once the screen is quiet.
    const QString approval = QStringLiteral("Edit file?\nDo you want to proceed?\n> 1. Yes");
    tracker.output(now += 100);
    tracker.evaluate(now += AttentionTracker::kQuietMs, approval);
    EXPECT_EQ(tracker.state(), Attention::NeedsInput);
    EXPECT_EQ(tracker.question(), "Do you want to proceed?");
    // A redraw of the unanswered question is no work.
    tracker.output(now += 1000);
    tracker.evaluate(now + 10, {});
    EXPECT_EQ(tracker.state(), Attention::NeedsInput);

    // The user answers; the echo alone changes nothing, the work after it does.
    tracker.input(now += 1000);
    tracker.output(now + 5);
    tracker.evaluate(now + 5, {});
    EXPECT_EQ(tracker.state(), Attention::NeedsInput);
    tracker.output(now += 800);
    tracker.evaluate(now, {});
    EXPECT_EQ(tracker.state(), Attention::Working);

    tracker.evaluate(now += AttentionTracker::kQuietMs, QStringLiteral("done\n> "));
    EXPECT_EQ(tracker.state(), Attention::Idle);
    EXPECT_EQ(attentionLabel(tracker.state()), "Done");

    tracker.exited(1, now += 10);
    EXPECT_FALSE(tracker.evaluate(now + AttentionTracker::kWaitingMs, {}));
    EXPECT_EQ(attentionLabel(tracker.state(), tracker.exitCode()), "Exited 1");
    EXPECT_FALSE(tracker.nextCheckMs());
}

TEST(Attention, notificationsHoldUntilTheUserActsProgressMeansWorkAndSilenceStallsOnlyWork) {
    AttentionTracker tracker(rules(kAssistantLike));
    tracker.setStallAfterMs(60'000);
    tracker.started(0);
    tracker.output(10);
    tracker.notified(QStringLiteral("Claude needs your approval"), 20);
    tracker.evaluate(30, {});
    EXPECT_EQ(tracker.state(), Attention::NeedsInput);
    EXPECT_EQ(tracker.question(), "Claude needs your approval");
    tracker.evaluate(120'000, QStringLiteral("something else entirely"));
    EXPECT_EQ(tracker.state(), Attention::NeedsInput) << "not stalled while it asks";

    tracker.input(120'010);
    tracker.progressChanged(true, 120'020);
    tracker.evaluate(200'000, {});
    EXPECT_EQ(tracker.state(), Attention::Working) << "a progress state counts as work";
    tracker.progressChanged(false, 200'010);
    tracker.titleChanged(QStringLiteral("* thinking"), 200'020);
    tracker.evaluate(260'020, QStringLiteral("no prompt here"));
    EXPECT_EQ(tracker.state(), Attention::Stalled);

    // Bells and notifications of programs without patterns mean nothing.
    AttentionTracker unknown;
    unknown.started(0);
    unknown.output(1);
    unknown.bell(2);
    unknown.notified(QStringLiteral("approval"), 3);
    unknown.evaluate(3 + AttentionTracker::kWaitingMs, QStringLiteral("Do you want to proceed?"));
    EXPECT_EQ(unknown.state(), Attention::Waiting);
}

TEST(Attention, patternFilesAreCheckedAndABrokenOneNamesItsEntry) {
    for (const char* assistant : {"claude", "codex", "gemini"}) {
        EXPECT_TRUE(AttentionPatterns::forAssistant(assistant).known()) << assistant;
    }
    EXPECT_FALSE(AttentionPatterns::forAssistant(QStringLiteral("kimi")).known());
    QString error;
    EXPECT_FALSE(AttentionPatterns::parse(
        R"({"version": 1, "screen": [{"state": "busy", "pattern": "x"}]})", &error));
    EXPECT_EQ(error, "screen[0] needs a known \"state\" and a valid \"pattern\"");
    EXPECT_FALSE(AttentionPatterns::parse(
        R"({"version": 1, "title": [{"state": "idle", "pattern": "(unclosed"}]})", &error));
    EXPECT_TRUE(error.startsWith("title[0]"));
}

TEST(Attention, aRealSessionAskingAQuestionTurnsToNeedsYouAndToExitedWhenItEnds) {
    SpawnRequest request;
    request.program = QStringLiteral("/bin/sh");
    request.directory = QDir::tempPath();
    request.arguments = {QStringLiteral("sh"), QStringLiteral("-c"),
                         QStringLiteral("printf 'Do you want to proceed?\\n'; read answer; "
                                        "printf 'working\\n'; exit 3")};
    const std::shared_ptr<TerminalSession> session =
        TerminalSession::create(QStringLiteral("test"), QStringLiteral("t"), QString(), request);
    SessionAttention attention(session, rules(kAssistantLike));
    std::vector<Attention> seen;
    QObject::connect(&attention, &SessionAttention::stateChanged,
                     [&](Attention state) { seen.push_back(state); });
    session->start();
    ASSERT_TRUE(waitUntil([&] { return attention.state() == Attention::NeedsInput; }))
        << attention.evidence().toStdString();
    session->send(QStringLiteral("y\r"));
    ASSERT_TRUE(waitUntil([&] { return attention.state() == Attention::Failed; }));
    EXPECT_EQ(attention.label(), "Exited 3");
    EXPECT_EQ(seen.front(), Attention::Working);
}

// A title that says a program is not working is believed once its output goes quiet (it
// also shows between spinner frames), but a question on screen is read at once: a program
// may keep redrawing a mark of the question it shows (Claude Code blinks its tool's bullet
// every 0.6 s), so its output never goes quiet.
TEST(Attention, aTitleThatSaysNotWorkingWaitsForQuietButAQuestionIsReadWhileItsMarkBlinks) {
    AttentionTracker tracker(rules(R"({
      "version": 1,
      "title": [{ "state": "working", "pattern": "^\\*" }, { "state": "idle", "pattern": "^=" }],
      "screen": [{ "state": "needs input", "pattern": "Do you want to proceed\\?" }]
    })"));
    const auto blink = [&](qint64& now, const QString& screen) {
        for (int times = 0; times < 4; ++times) {
            tracker.output(now += 600);
            tracker.evaluate(now, tracker.readsScreenAt(now) ? screen : QString());
        }
        return tracker.state();
    };
    const QString done = QStringLiteral("Ran echo\n> ");
    qint64 now = 0;
    tracker.started(now);
    tracker.titleChanged(QStringLiteral("* working"), now);
    tracker.output(now += 10);
    tracker.evaluate(now, {});
    EXPECT_EQ(tracker.state(), Attention::Working);

    tracker.titleChanged(QStringLiteral("= project"), now += 100);
    EXPECT_EQ(blink(now, done), Attention::Working);
    tracker.evaluate(now += AttentionTracker::kQuietMs, done);
    EXPECT_EQ(tracker.state(), Attention::Idle);

    EXPECT_EQ(blink(now, QStringLiteral("Run echo?\nDo you want to proceed?\n> 1. Yes")),
              Attention::NeedsInput);
    EXPECT_EQ(tracker.question(), "Do you want to proceed?");
}
