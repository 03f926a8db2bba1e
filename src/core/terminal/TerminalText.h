#pragma once

#include <QString>

#include <cstdint>
#include <vector>

class TerminalScreen;

/// A cell of a screen counted from the oldest kept line: lines 0 … scrollbackSize() - 1 are
/// the scrollback, the grid's rows follow. Output that pushes lines out of a full scrollback
/// shifts every number, so positions hold only until the screen changes.
struct TerminalTextPosition {
    int line = 0;
    int column = 0;
    bool operator==(const TerminalTextPosition&) const = default;
    auto operator<=>(const TerminalTextPosition&) const = default;
};

/// Cells start … end of a screen, `end` excluded: the cells from `start` on along its line,
/// through any lines between, up to `end` on its own line.
struct TerminalTextRange {
    TerminalTextPosition start;
    TerminalTextPosition end;
    bool operator==(const TerminalTextRange&) const = default;
};

/// Line number of a screen's first grid row in TerminalTextPosition terms.
int terminalGridStartLine(const TerminalScreen& screen);
/// Lines of a screen: scrollback and grid.
int terminalLineCount(const TerminalScreen& screen);
/// Whether line `line` (scrollback or grid) wrapped into the next one.
bool terminalLineWrapped(const TerminalScreen& screen, int line);

/// The text of a range of a screen's lines as one string, with the cell each character came
/// from. A line that wrapped runs straight on into the next one, so text cut by the wrap
/// reads as one; other lines end with '\n' and lose their trailing blanks. A double-width
/// character is one character of its first cell; combining marks follow their character.
class TerminalText {
public:
    /// The text of lines first … last (clamped to the screen's lines).
    static TerminalText capture(const TerminalScreen& screen, int first, int last);
    /// The whole run of lines joined by wraps that holds line `line`, at most
    /// kMaxJoinedLines of it around `line`.
    static TerminalText logicalLine(const TerminalScreen& screen, int line);
    static constexpr int kMaxJoinedLines = 64;

    const QString& text() const { return m_text; }
    int firstLine() const { return m_firstLine; }
    int lastLine() const { return m_firstLine + int(m_lines.size()) - 1; }
    /// The cell of character `offset` (0 … text().size() - 1); the line break ending a line
    /// maps to the cell after its text.
    TerminalTextPosition positionOf(qsizetype offset) const;
    /// The cells of characters offset … offset + length - 1 (length >= 1); the range ends
    /// after the last one's cells (both of a double-width character).
    TerminalTextRange rangeOf(qsizetype offset, qsizetype length) const;
    /// The character that holds the cell at `position`, or -1 when it has none (past a line's
    /// text, outside the lines captured).
    qsizetype offsetOf(TerminalTextPosition position) const;

private:
    struct LineStart {
        qsizetype offset = 0;  // of the line's first character in m_text
        int length = 0;        // characters, the line break not counted
        int endColumn = 0;     // the cell after the line's text
        // -1 when character i is cell i; else an entry in m_columns: the cell of each
        // character of the line.
        int columns = -1;
    };
    void appendLine(const TerminalScreen& screen, int line, bool last);
    std::size_t lineIndexOf(qsizetype offset) const;
    /// The cell of character `index` of line entry `line` (index < length).
    int columnOf(const LineStart& line, qsizetype index) const {
        return line.columns < 0 ? int(index)
                                : m_columns[std::size_t(line.columns)][std::size_t(index)];
    }

    QString m_text;
    int m_firstLine = 0;
    std::vector<LineStart> m_lines;
    std::vector<std::vector<int>> m_columns;
};
