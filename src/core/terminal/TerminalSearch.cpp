#include "core/terminal/TerminalSearch.h"

#include "core/terminal/TerminalScreen.h"

#include <QRegularExpression>

#include <algorithm>

void TerminalSearch::search(const TerminalScreen& screen, const QString& pattern, Options options,
                            TerminalTextPosition near, std::optional<quint64> revision) {
    std::optional<TextSource> source;
    if (revision) {
        source = TextSource{&screen, *revision, screen.scrollbackSize(), screen.rows(),
                            screen.columns()};
    }
    if (!source || source != m_textSource) {
        m_text = TerminalText();
        m_textSource.reset();
    }
    forgetMatches();
    m_pattern = pattern;
    m_options = options;
    if (pattern.isEmpty()) {
        return;
    }
    // ^ and $ stand for the ends of each line, as in grep.
    QRegularExpression::PatternOptions flags =
        QRegularExpression::UseUnicodePropertiesOption | QRegularExpression::MultilineOption;
    if (!options.caseSensitive) {
        flags |= QRegularExpression::CaseInsensitiveOption;
    }
    const QRegularExpression expression(
        options.regularExpression ? pattern : QRegularExpression::escape(pattern), flags);
    if (!expression.isValid()) {
        m_error = QStringLiteral("Invalid pattern: %1").arg(expression.errorString());
        return;
    }
    if (!m_textSource || !source) {
        m_text = TerminalText::capture(screen, 0, terminalLineCount(screen) - 1);
        m_textSource = source;
    }
    const TerminalText& text = m_text;
    QRegularExpressionMatchIterator found = expression.globalMatch(text.text());
    while (found.hasNext()) {
        const QRegularExpressionMatch match = found.next();
        if (match.capturedLength() == 0) {
            continue;  // "^", "x*": nothing to show
        }
        if (int(m_matches.size()) == kMaxMatches) {
            m_capped = true;
            break;
        }
        m_matches.push_back(text.rangeOf(match.capturedStart(), match.capturedLength()));
    }
    if (m_matches.empty()) {
        return;
    }
    const auto after =
        std::upper_bound(m_matches.begin(), m_matches.end(), near,
                         [](TerminalTextPosition position, const TerminalTextRange& match) {
                             return position < match.start;
                         });
    m_current = after == m_matches.begin() ? 0 : int(after - m_matches.begin()) - 1;
}

void TerminalSearch::clear() {
    m_text = TerminalText();
    m_textSource.reset();
    forgetMatches();
}

void TerminalSearch::forgetMatches() {
    m_pattern.clear();
    m_error.clear();
    m_matches.clear();
    m_capped = false;
    m_current = -1;
}

void TerminalSearch::next() {
    if (!m_matches.empty()) {
        m_current = (m_current + 1) % int(m_matches.size());
    }
}

void TerminalSearch::previous() {
    if (!m_matches.empty()) {
        m_current = (m_current + int(m_matches.size()) - 1) % int(m_matches.size());
    }
}

QString TerminalSearch::summary() const {
    if (!m_error.isEmpty()) {
        return m_error;
    }
    if (m_matches.empty()) {
        return m_pattern.isEmpty() ? QString() : QStringLiteral("No matches");
    }
    return QStringLiteral("%1 of %2%3")
        .arg(m_current + 1)
        .arg(m_matches.size())
        .arg(m_capped ? QStringLiteral("+") : QString());
}

int TerminalSearch::offsetShowing(int line, int rows, int history, int offset) {
    // Shown now: lines history - offset … history - offset + rows - 1.
    const int top = history - offset;
    if (line >= top && line < top + rows) {
        return offset;
    }
    return std::clamp(history - (line - rows / 2), 0, history);
}
