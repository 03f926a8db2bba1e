#pragma once

#include <QRegularExpression>
#include <QString>

#include <optional>
#include <vector>

/// What a session asks of the user, as far as its terminal shows.
enum class Attention {
    Starting,    ///< started, nothing shown yet
    Working,     ///< busy on a task
    NeedsInput,  ///< waits for the user: an approval, a question, a sign-in
    Idle,        ///< finished a turn, waits for the next task
    Waiting,     ///< quiet for a while; an unknown program may be waiting or thinking
    Stalled,     ///< no output and no progress for much longer than any step takes
    Exited,      ///< the process ended with status 0
    Failed,      ///< the process ended otherwise, or could not start
};

/// The word shown on chips and cards: "Working", "Needs you", "Done", "Exited 1"...
QString attentionLabel(Attention attention, std::optional<int> exitCode = std::nullopt);
/// The plain word tools print: "working", "needs input", "idle", "exited"...
QString attentionWord(Attention attention);

/// How one assistant's terminal shows what it does: patterns on its window title and on its
/// visible screen, and what its notifications mean. Read from a versioned JSON file per
/// assistant (resources/attention/<assistant>.json), so a changed screen is a data change.
struct AttentionPatterns {
    struct Rule {
        Attention attention = Attention::Working;
        QRegularExpression pattern;
    };
    int version = 0;
    std::vector<Rule> title;   ///< first match wins
    std::vector<Rule> screen;  ///< first match wins; checked once output has been quiet
    /// What a notification (OSC 9, 777, 99) from the program means, by its text ("title
    /// body"); first match wins, no match: ignored.
    std::vector<Rule> notification;
    /// What a bell means; none: ignored (shells ring on every failed completion).
    std::optional<Attention> bell;

    bool known() const { return version > 0; }

    /// Parses a pattern file; an error message (naming the bad entry) instead when it is not
    /// one.
    static std::optional<AttentionPatterns> parse(const QByteArray& json, QString* error);
    /// The built-in patterns of `assistant` (a provider id such as "claude"); empty patterns
    /// (known() false) for tools without a file.
    static AttentionPatterns forAssistant(const QString& assistant);
};

/// Derives a session's attention from what its terminal shows, strongest evidence first:
///  1. the process: exited (its code), or failed to start;
///  2. notifications and bells (where the assistant's patterns say what they mean), and a
///     progress state (OSC 9;4), which means working while it is set;
///  3. the window title, against the assistant's title patterns;
///  4. the visible screen, against its screen patterns, once output has been quiet for
///     kQuietMs (a screen mid-redraw says nothing reliable);
///  5. quiet alone: after kWaitingMs without output an unknown program is shown as
///     Waiting, never as needing input.
/// A running session without output or progress for stallAfterMs is Stalled.
///
/// Plain logic over a caller's monotonic clock in milliseconds: the caller reports what
/// happened and calls evaluate() at nextCheckMs() (see SessionAttention).
class AttentionTracker {
public:
    static constexpr qint64 kQuietMs = 700;
    static constexpr qint64 kWaitingMs = 5000;

    explicit AttentionTracker(AttentionPatterns patterns = {});

    /// 0 turns the stall check off (interactive sessions); team-run copies use minutes.
    void setStallAfterMs(qint64 milliseconds) { m_stallAfterMs = milliseconds; }

    void started(qint64 now);
    void output(qint64 now);
    void input(qint64 now);
    void titleChanged(const QString& title, qint64 now);
    void progressChanged(bool active, qint64 now);
    void notified(const QString& text, qint64 now);
    void bell(qint64 now);
    void exited(int code, qint64 now);
    void failedToStart(qint64 now);

    /// Re-derives the state at `now` from what was reported and `visibleScreen` (the screen's
    /// rows joined by newlines); returns true when the state changed.
    bool evaluate(qint64 now, const QString& visibleScreen);
    /// Whether evaluate() at `now` looks at the screen (output has gone quiet, or the title
    /// says the turn is over); callers may pass an empty screen otherwise.
    bool readsScreenAt(qint64 now) const {
        return !m_ended && m_lastOutput >= 0 &&
               (now - m_lastOutput >= kQuietMs || m_titleSays == Attention::Idle);
    }
    /// When evaluate() should run next for a quiet threshold to take effect; none while no
    /// threshold is ahead.
    std::optional<qint64> nextCheckMs() const;

    Attention state() const { return m_state; }
    std::optional<int> exitCode() const { return m_exitCode; }
    /// What set the state, for tools and logs ("screen: Do you want to proceed?").
    QString evidence() const { return m_evidence; }
    /// What the program asked when it started needing input: the notification's text or the
    /// matching screen line.
    QString question() const { return m_question; }

private:
    void set(Attention state, QString evidence, QString question = {});
    /// `screen` with an answered question that is still shown, and all above it, blanked.
    QString unansweredPart(const QString& screen);
    /// Sets the state by the first screen rule (for `only`, when given) that matches the
    /// unanswered part of `screen`; false when none does.
    bool readScreen(const QString& screen, std::optional<Attention> only = std::nullopt);

    AttentionPatterns m_patterns;
    Attention m_state = Attention::Starting;
    QString m_evidence;
    QString m_question;
    std::optional<int> m_exitCode;
    bool m_ended = false;
    qint64 m_stallAfterMs = 0;
    qint64 m_lastOutput = -1;
    qint64 m_lastInput = -1;
    qint64 m_lastActivity = -1;  // output or progress change, for the stall check
    bool m_progress = false;
    QString m_title;
    std::optional<Attention> m_titleSays;
    std::optional<Attention> m_signal;  // from a notification or bell, until the next input
    QString m_signalText;
    qint64 m_lastEvaluated = -1;
    qint64 m_askedAt = -1;     // when the state last turned to NeedsInput
    QString m_askedScreen;     // the screen down to the question that was read last
    QString m_answeredScreen;  // the same, once the user answered it
};
