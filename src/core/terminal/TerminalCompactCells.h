#pragma once

#include "core/terminal/TerminalCell.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

/// Where a screen's compact lines keep their words: blocks cut from large chunks, so that
/// filling a scrollback and dropping it cost a chunk per many lines rather than a heap
/// allocation and a free per line. A released block waits, by size, for the next line of
/// that size. Dropping the pool frees everything it handed out.
class TerminalCompactPool {
public:
    /// A block of at least `words` words (2 or more); `words` becomes its real size.
    std::uint32_t* allocate(std::size_t& words);
    /// Gives back a block `allocate()` handed out with that size.
    void release(std::uint32_t* block, std::size_t words);
    /// Bytes taken from the heap.
    std::size_t bytes() const { return m_bytes; }
    /// Bytes released and not handed out again.
    std::size_t releasedBytes() const { return m_releasedWords * sizeof(std::uint32_t); }

private:
    // Block sizes are multiples of kGranule words; a released block keeps the address of
    // the next one of its size in its first words.
    static constexpr std::size_t kGranule = 4;
    static constexpr std::size_t kFirstChunkWords = 1024;
    static constexpr std::size_t kLargestChunkWords = 16 * 1024;

    std::vector<std::unique_ptr<std::uint32_t[]>> m_chunks;
    std::uint32_t* m_next = nullptr;  // the rest of the newest chunk
    std::size_t m_left = 0;
    std::vector<std::uint32_t*> m_released;  // by size / kGranule: the first released block
    std::size_t m_bytes = 0;
    std::size_t m_releasedWords = 0;
};

/// The cells of a scrollback line in a compact form: the code points at one, two or four
/// bytes each (the narrowest that holds them all; four when the line has double-width
/// characters or combining marks), and everything else of a cell (flags, colours,
/// underline, link slot) as runs of cells that share it. A line of plain text in
/// one style costs about a byte a cell instead of sizeof(PackedCell). One block of a
/// TerminalCompactPool per line, kept when a smaller line is stored in it again; storing
/// reads a line four cells at a time.
///
/// Storing and expanding give back exactly the cells stored, bit for bit. The owner may
/// attach words of its own to the cells (the line's combining marks), kept in the same
/// allocation.
class TerminalCompactCells {
public:
    // The block belongs to the pool: moving hands it on, and destroying leaves it to the
    // pool (whose owner drops the pool with its lines, or releases them with clear()).
    TerminalCompactCells() = default;
    TerminalCompactCells(TerminalCompactCells&& other) noexcept
        : m_words(std::exchange(other.m_words, nullptr)) {}
    TerminalCompactCells& operator=(TerminalCompactCells&& other) noexcept {
        m_words = std::exchange(other.m_words, nullptr);
        return *this;
    }

    /// Stores `cells`, and `attached` with them, in place of what was stored, in a block
    /// of `pool` (the one every store of this line uses).
    void assign(TerminalCompactPool& pool, std::span<const PackedCell> cells,
                std::span<const std::uint32_t> attached = {});
    /// Copies what is stored into a block of `pool` (the old block stays with its pool).
    void copyInto(TerminalCompactPool& pool);
    /// Cells stored.
    int size() const { return m_words ? int(m_words[kCount]) : 0; }
    /// Writes the size() cells to `out`.
    void expandInto(PackedCell* out) const;
    /// The words attached to the cells when they were stored.
    std::span<const std::uint32_t> attached() const;
    /// Bit s is set when a cell has link slot s (PackedCell::linkSlot()).
    std::uint32_t linkSlotsUsed() const;
    /// Gives the block back to `pool`.
    void clear(TerminalCompactPool& pool);

private:
    // Layout of m_words: a header of kHeaderWords words, kRunWords words per run, then
    // each cell's own bits, `unit` bytes each: its code point and the flags that set one
    // cell apart from the next in a run of text (PackedCell::kContinuation and
    // kHasCombining), so that double-width characters and marks do not cut runs; then, from
    // the next whole word, the attached words.
    enum : std::size_t { kCount, kRuns, kCapacity, kUnit, kAttached, kHeaderWords };
    // A run: the end column (exclusive), then the cell's words without those bits.
    static constexpr std::size_t kRunWords = 4;

    /// Words in use: the header, the runs, the code points and the attached words.
    std::size_t usedWords() const;

    std::uint32_t* m_words = nullptr;
};
