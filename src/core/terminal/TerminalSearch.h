#pragma once

#include "core/terminal/TerminalText.h"

#include <QString>
#include <QtGlobal>

#include <optional>
#include <vector>

class TerminalScreen;

/// Finds text in a screen's scrollback and grid: a search for what the find bar holds, its
/// matches in TerminalTextPosition numbering, and which one is current.
///
/// Lines joined by a wrap are searched as one, so a match can run over the wrap. The text
/// is captured by search() and kept: stepping through the matches costs nothing, and a
/// search for another pattern in a screen that has not changed (the same `revision`) does
/// not capture it again. A screen that changed needs a new search(). Plain patterns are
/// matched literally, regular expressions with QRegularExpression; both ignore case unless
/// asked not to.
class TerminalSearch {
public:
    struct Options {
        bool regularExpression = false;
        bool caseSensitive = false;
        bool operator==(const Options&) const = default;
    };
    /// Matches kept; a search with more reports capped().
    static constexpr int kMaxMatches = 10'000;

    /// Searches the screen's lines for `pattern`. An empty pattern finds nothing; an invalid
    /// regular expression finds nothing and sets error(). The current match becomes the last
    /// one that starts at or before `near` (the first when none does): searching from where
    /// the user is looking finds the newest match above it. `revision` names the screen's
    /// content (a session's revision); without one the text is always captured afresh.
    void search(const TerminalScreen& screen, const QString& pattern, Options options,
                TerminalTextPosition near, std::optional<quint64> revision = std::nullopt);
    /// Forgets the matches and the captured text.
    void clear();

    const QString& pattern() const { return m_pattern; }
    Options options() const { return m_options; }
    /// Why the pattern could not be used (an invalid regular expression); empty otherwise.
    const QString& error() const { return m_error; }
    const std::vector<TerminalTextRange>& matches() const { return m_matches; }
    /// True when the search stopped at kMaxMatches.
    bool capped() const { return m_capped; }
    /// Index of the current match, -1 when there is none.
    int current() const { return m_current; }
    /// Moves to the next match (the first after the last) or the previous (the last before
    /// the first).
    void next();
    void previous();
    /// "3 of 17", "No matches", or the error.
    QString summary() const;

    /// The scroll offset (lines back from the live screen, as TerminalView counts them) that
    /// shows `line` of a screen with `rows` rows and `history` scrollback lines: `offset`
    /// itself when the line shows already, else one that puts it near the middle.
    static int offsetShowing(int line, int rows, int history, int offset);

private:
    /// What the captured text was taken from.
    struct TextSource {
        const TerminalScreen* screen = nullptr;
        quint64 revision = 0;
        int scrollback = 0;
        int rows = 0;
        int columns = 0;
        bool operator==(const TextSource&) const = default;
    };

    void forgetMatches();

    TerminalText m_text;
    std::optional<TextSource> m_textSource;
    QString m_pattern;
    Options m_options;
    QString m_error;
    std::vector<TerminalTextRange> m_matches;
    bool m_capped = false;
    int m_current = -1;
};
