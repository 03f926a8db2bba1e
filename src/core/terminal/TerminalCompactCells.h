#pragma once

#include "core/terminal/TerminalCell.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

/// The cells of a scrollback line in a compact form: the code points at one, two or four
/// bytes each (the narrowest that holds them all; four when the line has double-width
/// characters or combining marks), and everything else of a cell (flags, colours,
/// underline, link slot) as runs of cells that share it. A line of plain text in
/// one style costs about a byte a cell instead of sizeof(PackedCell). One allocation per
/// line, kept when a smaller line is stored in it again; storing reads a line four cells at
/// a time when it is all one style, as most are.
///
/// Storing and expanding give back exactly the cells stored, bit for bit. The owner may
/// attach words of its own to the cells (the line's combining marks), kept in the same
/// allocation.
class TerminalCompactCells {
public:
    TerminalCompactCells() = default;
    TerminalCompactCells(TerminalCompactCells&&) noexcept = default;
    TerminalCompactCells& operator=(TerminalCompactCells&&) noexcept = default;

    /// Stores `cells`, and `attached` with them, in place of what was stored.
    void assign(std::span<const PackedCell> cells, std::span<const std::uint32_t> attached = {});
    /// Cells stored.
    int size() const { return m_words ? int(m_words[kCount]) : 0; }
    /// Writes the size() cells to `out`.
    void expandInto(PackedCell* out) const;
    /// The words attached to the cells when they were stored.
    std::span<const std::uint32_t> attached() const;
    /// Bit s is set when a cell has link slot s (PackedCell::linkSlot()).
    std::uint32_t linkSlotsUsed() const;
    /// Frees the allocation.
    void clear() { m_words.reset(); }

private:
    // Layout of m_words: a header of kHeaderWords words, kRunWords words per run, then
    // each cell's own bits, `unit` bytes each: its code point and the flags that set one
    // cell apart from the next in a run of text (PackedCell::kContinuation and
    // kHasCombining), so that double-width characters and marks do not cut runs; then, from
    // the next whole word, the attached words.
    enum : std::size_t { kCount, kRuns, kCapacity, kUnit, kAttached, kHeaderWords };
    // A run: the end column (exclusive), then the cell's words without those bits.
    static constexpr std::size_t kRunWords = 4;

    std::unique_ptr<std::uint32_t[]> m_words;
};
