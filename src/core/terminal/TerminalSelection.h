#pragma once

#include <QString>

#include <compare>
#include <cstdint>
#include <utility>

class TerminalScreen;

/// A place in a terminal's text: a line, numbered as TerminalScreen::linesScrolledOff()
/// numbers them (so the number stays with the text as it scrolls into the scrollback), and
/// a column. As an end of a selection, the boundary just before that column.
struct TerminalTextPoint {
    qint64 line = 0;
    int column = 0;
    auto operator<=>(const TerminalTextPoint&) const = default;
};

/// The text the user selected in one terminal: a range between two cell boundaries of the
/// scrollback and screen, made by cell, by word or by whole lines, and its text to copy.
///
/// Text: lines the program's output continued by wrapping are joined; every other line end
/// becomes "\n" and the blanks after a line's last character are left out, so a long
/// address wrapped over several rows copies as the one line it was printed as.
///
/// The selection stays with its text while output scrolls it up and into the scrollback.
/// It ends when the text under it changes (output overwrites it, the screen is cleared or
/// reset, its lines leave the scrollback) or the width changes (lines re-wrap): see follow().
class TerminalSelection {
public:
    enum class Unit : std::uint8_t { Cell, Word, Line };

    /// Characters that belong to words besides letters, digits and marks: GNOME Terminal's.
    static constexpr char16_t kDefaultWordCharacters[] = u"-#%&+,./=?@\\_~\u00B7";

    TerminalSelection();

    QString wordCharacters() const { return m_wordCharacters; }
    void setWordCharacters(QString characters) { m_wordCharacters = std::move(characters); }

    /// Starts a selection at cell `cell`. By cell it is empty, at the boundary before the
    /// cell (after it when `rightHalf`) until extended; by word it holds the word at the cell
    /// (or the run of blanks, or the one other character); by line the whole line there,
    /// wrapped parts and line end included.
    void start(const TerminalScreen& screen, TerminalTextPoint cell, bool rightHalf, Unit unit);
    /// Moves the free end to cell `cell`: the selection covers everything from the start
    /// to there, in the unit it started with. A double-width character is never cut.
    void extend(const TerminalScreen& screen, TerminalTextPoint cell, bool rightHalf);
    /// Everything in the scrollback and on the screen, down to the last line with text.
    void selectAll(const TerminalScreen& screen);
    void clear();

    /// True when no selection was started (or it was cleared).
    bool isNone() const { return !m_active; }
    /// True when nothing is selected (also while a selection by cell was started but not
    /// yet dragged).
    bool isEmpty() const { return m_begin == m_end; }
    Unit unit() const { return m_unit; }
    /// The selected range: from the boundary `begin()` to the boundary `end()`.
    TerminalTextPoint begin() const { return m_begin; }
    TerminalTextPoint end() const { return m_end; }
    /// The columns [first, second) of line `line`, `width` cells wide, that are selected;
    /// first == second for none.
    std::pair<int, int> columnsOn(qint64 line, int width) const;

    /// The selected text as it is on the screen now.
    QString text(const TerminalScreen& screen) const;
    /// Ends the selection when the screen's width or the text under it changed since it was
    /// made; returns true when it did.
    bool follow(const TerminalScreen& screen);

private:
    /// The range selecting cell `cell` in the selection's unit.
    std::pair<TerminalTextPoint, TerminalTextPoint> rangeAt(const TerminalScreen& screen,
                                                            TerminalTextPoint cell,
                                                            bool rightHalf) const;
    void update(const TerminalScreen& screen, TerminalTextPoint begin, TerminalTextPoint end);

    QString m_wordCharacters;
    bool m_active = false;
    Unit m_unit = Unit::Cell;
    TerminalTextPoint m_anchorBegin;  // the range the selection started with
    TerminalTextPoint m_anchorEnd;
    TerminalTextPoint m_begin;
    TerminalTextPoint m_end;
    int m_columns = 0;  // the screen's width when it was made
    QString m_text;     // its text then
};
