#include "core/attention/AttentionTracker.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>
#include <utility>

namespace {

constexpr std::array kWords{
    std::pair{Attention::Starting, "starting"},      std::pair{Attention::Working, "working"},
    std::pair{Attention::NeedsInput, "needs input"}, std::pair{Attention::Idle, "idle"},
    std::pair{Attention::Waiting, "waiting"},        std::pair{Attention::Stalled, "stalled"},
    std::pair{Attention::Exited, "exited"},          std::pair{Attention::Failed, "failed"},
};

std::optional<Attention> attentionFromWord(const QString& word) {
    for (const auto& [attention, text] : kWords) {
        if (word == QLatin1String(text)) {
            return attention;
        }
    }
    return std::nullopt;
}

// The first rule matching `text` (of those for `only`, when given), and the line it matched
// on.
const AttentionPatterns::Rule* firstMatch(const std::vector<AttentionPatterns::Rule>& rules,
                                          const QString& text, QString* line,
                                          qsizetype* lineEnd = nullptr,
                                          std::optional<Attention> only = std::nullopt) {
    for (const AttentionPatterns::Rule& rule : rules) {
        if (only && rule.attention != *only) {
            continue;
        }
        const QRegularExpressionMatch match = rule.pattern.match(text);
        if (match.hasMatch()) {
            const qsizetype start = text.lastIndexOf(u'\n', match.capturedStart()) + 1;
            qsizetype end = text.indexOf(u'\n', match.capturedStart());
            *line = text.mid(start, end < 0 ? -1 : end - start).trimmed();
            if (lineEnd) {
                *lineEnd = end;
            }
            return &rule;
        }
    }
    return nullptr;
}

}  // namespace

QString attentionWord(Attention attention) {
    for (const auto& [value, text] : kWords) {
        if (value == attention) {
            return QLatin1String(text);
        }
    }
    return QStringLiteral("unknown");
}

QString attentionLabel(Attention attention, std::optional<int> exitCode) {
    switch (attention) {
        case Attention::Starting:
            return QStringLiteral("Starting");
        case Attention::Working:
            return QStringLiteral("Working");
        case Attention::NeedsInput:
            return QStringLiteral("Needs you");
        case Attention::Idle:
            return QStringLiteral("Done");
        case Attention::Waiting:
            return QStringLiteral("Waiting");
        case Attention::Stalled:
            return QStringLiteral("Stalled");
        case Attention::Exited:
        case Attention::Failed:
            return exitCode && *exitCode >= 0 ? QStringLiteral("Exited %1").arg(*exitCode)
                                              : QStringLiteral("Failed");
    }
    return {};
}

std::optional<AttentionPatterns> AttentionPatterns::parse(const QByteArray& json, QString* error) {
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (!document.isObject()) {
        *error = QStringLiteral("not a JSON object: %1").arg(parseError.errorString());
        return std::nullopt;
    }
    const QJsonObject root = document.object();
    AttentionPatterns patterns;
    patterns.version = root.value(QStringLiteral("version")).toInt();
    if (patterns.version < 1) {
        *error = QStringLiteral("\"version\" must be a positive number");
        return std::nullopt;
    }
    const auto rules = [&](const QString& key, std::vector<Rule>& into) {
        const QJsonArray entries = root.value(key).toArray();
        for (qsizetype i = 0; i < entries.size(); ++i) {
            const QJsonObject entry = entries.at(i).toObject();
            const std::optional<Attention> state =
                attentionFromWord(entry.value(QStringLiteral("state")).toString());
            QRegularExpression pattern(entry.value(QStringLiteral("pattern")).toString(),
                                       QRegularExpression::MultilineOption);
            if (!state || !pattern.isValid() || pattern.pattern().isEmpty()) {
                *error = QStringLiteral("%1[%2] needs a known \"state\" and a valid \"pattern\"")
                             .arg(key)
                             .arg(i);
                return false;
            }
            into.push_back({*state, std::move(pattern)});
        }
        return true;
    };
    if (!rules(QStringLiteral("title"), patterns.title) ||
        !rules(QStringLiteral("screen"), patterns.screen) ||
        !rules(QStringLiteral("notification"), patterns.notification)) {
        return std::nullopt;
    }
    if (root.contains(QStringLiteral("bell"))) {
        patterns.bell = attentionFromWord(root.value(QStringLiteral("bell")).toString());
        if (!patterns.bell) {
            *error = QStringLiteral("\"bell\" must name a known state");
            return std::nullopt;
        }
    }
    return patterns;
}

AttentionPatterns AttentionPatterns::forAssistant(const QString& assistant) {
    QFile file(QStringLiteral(":/attention/%1.json").arg(assistant));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QString error;
    const std::optional<AttentionPatterns> patterns = parse(file.readAll(), &error);
    // The built-in files are checked by the tests; a broken one reads as unknown.
    return patterns ? *patterns : AttentionPatterns{};
}

AttentionTracker::AttentionTracker(AttentionPatterns patterns) : m_patterns(std::move(patterns)) {}

void AttentionTracker::started(qint64 now) {
    m_lastActivity = now;
    set(Attention::Starting, QStringLiteral("process started"));
}

void AttentionTracker::output(qint64 now) {
    m_lastOutput = now;
    m_lastActivity = now;
}

void AttentionTracker::input(qint64 now) {
    m_lastInput = now;
    m_signal.reset();
    if (m_state == Attention::NeedsInput && !m_askedScreen.isEmpty()) {
        m_answeredScreen = m_askedScreen;
    }
}

QString AttentionTracker::unansweredPart(const QString& screen) {
    // A question the user answered may stay on screen above what follows it (programs that
    // print rather than redraw). While the screen down to that question is unchanged, that
    // part is not read again; once it changes, the question counts as new.
    if (m_answeredScreen.isEmpty()) {
        return screen;
    }
    if (!screen.startsWith(m_answeredScreen)) {
        m_answeredScreen.clear();
        return screen;
    }
    return QString(m_answeredScreen.count(u'\n'), u'\n') + screen.mid(m_answeredScreen.size());
}

void AttentionTracker::titleChanged(const QString& title, qint64) {
    m_title = title;
    QString line;
    const AttentionPatterns::Rule* rule = firstMatch(m_patterns.title, title, &line);
    m_titleSays = rule ? std::optional(rule->attention) : std::nullopt;
}

void AttentionTracker::progressChanged(bool active, qint64 now) {
    m_progress = active;
    m_lastActivity = now;
}

void AttentionTracker::notified(const QString& text, qint64) {
    QString line;
    if (const AttentionPatterns::Rule* rule = firstMatch(m_patterns.notification, text, &line)) {
        m_signal = rule->attention;
        m_signalText = QStringLiteral("notification: ") + text;
        m_question = text;
    }
}

void AttentionTracker::bell(qint64) {
    if (m_patterns.bell) {
        m_signal = m_patterns.bell;
        m_signalText = QStringLiteral("bell");
    }
}

void AttentionTracker::exited(int code, qint64) {
    m_ended = true;
    m_exitCode = code;
    set(code == 0 ? Attention::Exited : Attention::Failed,
        QStringLiteral("process exited with %1").arg(code));
}

void AttentionTracker::failedToStart(qint64) {
    m_ended = true;
    m_exitCode = -1;
    set(Attention::Failed, QStringLiteral("could not start"));
}

void AttentionTracker::set(Attention state, QString evidence, QString question) {
    if (state == Attention::NeedsInput && m_state != Attention::NeedsInput) {
        m_question = question.isEmpty() ? m_question : question;
        m_askedAt = m_lastEvaluated;
    }
    m_state = state;
    m_evidence = std::move(evidence);
}

bool AttentionTracker::evaluate(qint64 now, const QString& visibleScreen) {
    m_lastEvaluated = now;
    const Attention before = m_state;
    if (m_ended) {
        return false;
    }
    const bool waitsOnUser = m_state == Attention::NeedsInput || m_state == Attention::Idle;
    if (m_stallAfterMs > 0 && m_lastActivity >= 0 && now - m_lastActivity >= m_stallAfterMs &&
        !m_signal && !waitsOnUser) {
        set(Attention::Stalled,
            QStringLiteral("no output for %1 s").arg((now - m_lastActivity) / 1000));
    } else if (m_progress) {
        set(Attention::Working, QStringLiteral("progress state set"));
    } else if (m_signal) {
        set(*m_signal, m_signalText, m_question);
    } else if (m_lastOutput < 0) {
        // Nothing shown yet: still starting.
    } else if (now - m_lastOutput < kQuietMs) {
        // Output is flowing: the title tells, or the flow itself, unless it is the echo of
        // what the user types or a redraw of a question nobody has answered yet.
        // A title that says the turn is over is believed only once output has gone quiet:
        // programs drop their working title between spinner frames, before they draw a
        // question and before they start on an answer. Nor does it rule out a question: a
        // program may keep redrawing a mark of the question it shows (Claude Code blinks its
        // tool's bullet every 0.6 s), so that its output never goes quiet. The question on
        // screen decides.
        const bool echo = m_lastInput >= 0 && now - m_lastInput < kQuietMs;
        const bool unanswered = m_state == Attention::NeedsInput && m_lastInput < m_askedAt;
        if (m_titleSays == Attention::Idle) {
            readScreen(visibleScreen, Attention::NeedsInput);
        } else if (m_titleSays) {
            set(*m_titleSays, QStringLiteral("title: ") + m_title);
        } else if (!echo && !unanswered) {
            set(Attention::Working, QStringLiteral("output"));
        }
    } else {
        if (readScreen(visibleScreen)) {
        } else if (m_titleSays) {
            set(*m_titleSays, QStringLiteral("title: ") + m_title);
        } else if (now - m_lastOutput >= kWaitingMs) {
            set(Attention::Waiting,
                QStringLiteral("quiet for %1 s").arg((now - m_lastOutput) / 1000));
        }
    }
    return m_state != before;
}

bool AttentionTracker::readScreen(const QString& screen, std::optional<Attention> only) {
    QString line;
    qsizetype lineEnd = -1;
    const AttentionPatterns::Rule* rule =
        firstMatch(m_patterns.screen, unansweredPart(screen), &line, &lineEnd, only);
    if (!rule) {
        return false;
    }
    set(rule->attention, QStringLiteral("screen: ") + line, line);
    m_askedScreen = rule->attention == Attention::NeedsInput
                        ? screen.left(lineEnd < 0 ? screen.size() : lineEnd)
                        : QString();
    return true;
}

std::optional<qint64> AttentionTracker::nextCheckMs() const {
    if (m_ended) {
        return std::nullopt;
    }
    std::optional<qint64> next;
    const auto consider = [&](qint64 at) {
        if (at > m_lastEvaluated && (!next || at < *next)) {
            next = at;
        }
    };
    if (m_lastOutput >= 0) {
        consider(m_lastOutput + kQuietMs);
        consider(m_lastOutput + kWaitingMs);
    }
    if (m_lastInput >= 0) {
        consider(m_lastInput + kQuietMs);
    }
    if (m_stallAfterMs > 0 && m_lastActivity >= 0) {
        consider(m_lastActivity + m_stallAfterMs);
    }
    return next;
}
