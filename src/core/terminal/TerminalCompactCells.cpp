#include "core/terminal/TerminalCompactCells.h"

#include <algorithm>
#include <array>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// The bits of a cell's own: its code point and whether it is the right half of a
// double-width character or has combining marks. The rest is what runs share.
constexpr std::uint32_t kCellBits =
    PackedCell::kCodeMask | PackedCell::kContinuation | PackedCell::kHasCombining;
constexpr std::uint32_t kStyleMask = ~kCellBits;

using Words = std::uint32_t __attribute__((vector_size(16)));

bool sameStyle(const PackedCell& a, const PackedCell& b) {
    return ((a.codeAndFlags ^ b.codeAndFlags) & kStyleMask) == 0 &&
           a.foregroundWord == b.foregroundWord && a.backgroundWord == b.backgroundWord;
}

Words loadWords(const std::uint32_t* words) {
    Words loaded;
    std::memcpy(&loaded, words, sizeof loaded);
    return loaded;
}

std::uint32_t orOfLanes(Words words) {
    words |= __builtin_shufflevector(words, words, 2, 3, 0, 1);
    words |= __builtin_shufflevector(words, words, 1, 0, 3, 2);
    return words[0];
}

#ifdef __SSE2__
// The first words of four cells (twelve words: c0 f0 b0 c1 | f1 b1 c2 f2 | b2 c3 f3 b3), each
// ANDed with `mask`, in cell order: the three loads masked down to their first words and
// ORed give c0 c3 c2 c1, which one shuffle puts in order.
[[gnu::always_inline]] inline __m128i firstWords(const PackedCell* cells, std::uint32_t mask) {
    const auto* words = reinterpret_cast<const __m128i*>(cells);
    const int m = int(mask);
    const __m128i gathered = _mm_or_si128(
        _mm_and_si128(_mm_loadu_si128(words), _mm_setr_epi32(m, 0, 0, m)),
        _mm_or_si128(_mm_and_si128(_mm_loadu_si128(words + 1), _mm_setr_epi32(0, 0, m, 0)),
                     _mm_and_si128(_mm_loadu_si128(words + 2), _mm_setr_epi32(0, m, 0, 0))));
    return _mm_shuffle_epi32(gathered, _MM_SHUFFLE(1, 2, 3, 0));
}
#endif

}  // namespace

std::uint32_t* TerminalCompactPool::allocate(std::size_t& words) {
    words = (words + kGranule - 1) / kGranule * kGranule;
    const std::size_t size = words / kGranule;
    if (size < m_released.size() && m_released[size]) {
        std::uint32_t* block = m_released[size];
        std::memcpy(&m_released[size], block, sizeof(std::uint32_t*));
        m_releasedWords -= words;
        return block;
    }
    if (m_left < words) {
        // What is left of the chunk is too small for this block: it goes to the blocks
        // released, in the largest size it holds.
        if (m_left >= kGranule) {
            release(m_next, m_left / kGranule * kGranule);
        }
        const std::size_t chunkWords =
            std::max(words, std::min(kLargestChunkWords, kFirstChunkWords << m_chunks.size()));
        m_chunks.push_back(std::make_unique_for_overwrite<std::uint32_t[]>(chunkWords));
        m_bytes += chunkWords * sizeof(std::uint32_t);
        m_next = m_chunks.back().get();
        m_left = chunkWords;
    }
    std::uint32_t* block = m_next;
    m_next += words;
    m_left -= words;
    return block;
}

void TerminalCompactPool::release(std::uint32_t* block, std::size_t words) {
    const std::size_t size = words / kGranule;
    if (size >= m_released.size()) {
        m_released.resize(size + 1, nullptr);
    }
    std::memcpy(block, &m_released[size], sizeof(std::uint32_t*));
    m_released[size] = block;
    m_releasedWords += words;
}

void TerminalCompactCells::clear(TerminalCompactPool& pool) {
    if (m_words) {
        pool.release(m_words, m_words[kCapacity]);
        m_words = nullptr;
    }
}

std::size_t TerminalCompactCells::usedWords() const {
    const std::size_t textWords = (std::size_t(m_words[kCount]) * m_words[kUnit] + 3) / 4;
    return kHeaderWords + m_words[kRuns] * kRunWords + textWords + m_words[kAttached];
}

void TerminalCompactCells::copyInto(TerminalCompactPool& pool) {
    if (!m_words) {
        return;
    }
    std::size_t words = usedWords();
    std::uint32_t* copy = pool.allocate(words);
    std::copy_n(m_words, usedWords(), copy);
    copy[kCapacity] = std::uint32_t(words);
    m_words = copy;
}

void TerminalCompactCells::assign(TerminalCompactPool& pool, std::span<const PackedCell> cells,
                                  std::span<const std::uint32_t> attached) {
    const std::size_t count = cells.size();
    const PackedCell* cell = cells.data();
    const PackedCell first = count > 0 ? cell[0] : PackedCell{};
    const std::uint32_t flags = first.codeAndFlags & kStyleMask;
    const std::uint32_t foreground = first.foregroundWord;
    const std::uint32_t background = first.backgroundWord;
    // First, four cells (twelve words) at a time: each word against the first cell's style,
    // whose cell bits are 0, so that the differences hold both the style bits that differ
    // and the cell bits of every cell, told apart by lane once at the end.
    std::uint32_t differs = 0;
    std::uint32_t codes = 0;
    std::size_t i = 0;
    if (count >= 4) {
        constexpr std::uint32_t kAll = ~0u;
        constexpr std::uint32_t kCode = kCellBits;
        const auto* words = reinterpret_cast<const std::uint32_t*>(cell);
        const Words firstStyle = loadWords(words) & Words{kStyleMask, kAll, kAll, 0};
        const Words style[3] = {__builtin_shufflevector(firstStyle, firstStyle, 0, 1, 2, 0),
                                __builtin_shufflevector(firstStyle, firstStyle, 1, 2, 0, 1),
                                __builtin_shufflevector(firstStyle, firstStyle, 2, 0, 1, 2)};
        Words differences[3] = {};
        for (; i + 4 <= count; i += 4, words += 12) {
            differences[0] |= loadWords(words) ^ style[0];
            differences[1] |= loadWords(words + 4) ^ style[1];
            differences[2] |= loadWords(words + 8) ^ style[2];
        }
        const Words differing = (differences[0] & Words{kStyleMask, kAll, kAll, kStyleMask}) |
                                (differences[1] & Words{kAll, kAll, kStyleMask, kAll}) |
                                (differences[2] & Words{kAll, kStyleMask, kAll, kAll});
        const Words codeBits = (differences[0] & Words{kCode, 0, 0, kCode}) |
                               (differences[1] & Words{0, 0, kCode, 0}) |
                               (differences[2] & Words{0, kCode, 0, 0});
        differs = orOfLanes(differing);
        codes = orOfLanes(codeBits);
    }
    for (; i < count; ++i) {
        differs |= ((cell[i].codeAndFlags & kStyleMask) ^ flags) |
                   (cell[i].foregroundWord ^ foreground) | (cell[i].backgroundWord ^ background);
        codes |= cell[i].codeAndFlags & kCellBits;
    }
    // Where each run starts, kept here while they are few (lines are mostly a handful).
    constexpr std::size_t kKeptStarts = 32;
    std::array<std::uint32_t, kKeptStarts> starts;
    starts[0] = 0;
    std::size_t runs = count > 0 ? 1 : 0;
    if (differs != 0) {
        for (std::size_t at = 1; at < count; ++at) {
            if (!sameStyle(cell[at], cell[at - 1])) {
                if (runs < kKeptStarts) {
                    starts[runs] = std::uint32_t(at);
                }
                ++runs;
            }
        }
    }
    // Below 0x100 together when every cell is a code point below 0x100 and nothing else.
    const std::uint32_t unit = codes < 0x100 ? 1 : codes < 0x10000 ? 2 : 4;
    const std::size_t textWords = (count * unit + sizeof(std::uint32_t) - 1) / 4;
    const std::size_t words = kHeaderWords + runs * kRunWords + textWords + attached.size();
    if (!m_words || m_words[kCapacity] < words) {
        if (words == kHeaderWords && !m_words) {
            return;  // nothing to store, and nothing stored
        }
        clear(pool);
        std::size_t granted = words;
        m_words = pool.allocate(granted);
        m_words[kCapacity] = std::uint32_t(granted);
    }
    m_words[kCount] = std::uint32_t(count);
    m_words[kRuns] = std::uint32_t(runs);
    m_words[kUnit] = unit;
    m_words[kAttached] = std::uint32_t(attached.size());
    std::copy(attached.begin(), attached.end(),
              m_words + kHeaderWords + runs * kRunWords + textWords);

    std::uint32_t* out = m_words + kHeaderWords;
    auto writeRun = [&out, cell](std::size_t first, std::size_t end) {
        out[0] = std::uint32_t(end);
        out[1] = cell[first].codeAndFlags & kStyleMask;
        out[2] = cell[first].foregroundWord;
        out[3] = cell[first].backgroundWord;
        out += kRunWords;
    };
    if (runs <= kKeptStarts) {
        for (std::size_t r = 0; r < runs; ++r) {
            writeRun(starts[r], r + 1 < runs ? starts[r + 1] : count);
        }
    } else {
        std::size_t first = 0;
        for (std::size_t at = 1; at <= count; ++at) {
            if (at == count || !sameStyle(cell[at], cell[first])) {
                writeRun(first, at);
                first = at;
            }
        }
    }
    unsigned char* text = reinterpret_cast<unsigned char*>(out);
    std::size_t at = 0;
    switch (unit) {
        case 1:
#ifdef __SSE2__
            for (; at + 16 <= count; at += 16) {
                const __m128i low =
                    _mm_packs_epi32(firstWords(cell + at, 0xFF), firstWords(cell + at + 4, 0xFF));
                const __m128i high = _mm_packs_epi32(firstWords(cell + at + 8, 0xFF),
                                                     firstWords(cell + at + 12, 0xFF));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(text + at),
                                 _mm_packus_epi16(low, high));
            }
            for (; at + 4 <= count; at += 4) {
                const __m128i packed =
                    _mm_packs_epi32(firstWords(cell + at, 0xFF), _mm_setzero_si128());
                const int four = _mm_cvtsi128_si32(_mm_packus_epi16(packed, packed));
                std::memcpy(text + at, &four, sizeof four);
            }
#endif
            for (; at < count; ++at) {
                text[at] = static_cast<unsigned char>(cell[at].codeAndFlags);
            }
            break;
        case 2: {
#ifdef __SSE2__
            // The pack saturates signed: the codes are moved into its range and back.
            const __m128i bias = _mm_set1_epi32(0x8000);
            const __m128i unbias = _mm_set1_epi16(std::int16_t(-0x8000));
            for (; at + 8 <= count; at += 8) {
                const __m128i packed =
                    _mm_packs_epi32(_mm_sub_epi32(firstWords(cell + at, 0xFFFF), bias),
                                    _mm_sub_epi32(firstWords(cell + at + 4, 0xFFFF), bias));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(text + 2 * at),
                                 _mm_xor_si128(packed, unbias));
            }
#endif
            for (; at < count; ++at) {
                const auto code = static_cast<std::uint16_t>(cell[at].codeAndFlags);
                std::memcpy(text + 2 * at, &code, 2);
            }
            break;
        }
        default:
#ifdef __SSE2__
            for (; at + 4 <= count; at += 4) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at),
                                 firstWords(cell + at, kCellBits));
            }
#endif
            for (; at < count; ++at) {
                out[at] = cell[at].codeAndFlags & kCellBits;
            }
            break;
    }
}

void TerminalCompactCells::expandInto(PackedCell* out) const {
    if (!m_words) {
        return;
    }
    const std::uint32_t* runs = m_words + kHeaderWords;
    const std::uint32_t* runsEnd = runs + std::size_t(m_words[kRuns]) * kRunWords;
    auto expand = [&](auto codeAt) {
        std::uint32_t column = 0;
        for (const std::uint32_t* run = runs; run != runsEnd; run += kRunWords) {
            const std::uint32_t flags = run[1];
            for (; column < run[0]; ++column) {
                out[column] = {codeAt(column) | flags, run[2], run[3]};
            }
        }
    };
    const unsigned char* text = reinterpret_cast<const unsigned char*>(runsEnd);
    switch (m_words[kUnit]) {
        case 1:
            expand([text](std::uint32_t i) { return std::uint32_t(text[i]); });
            break;
        case 2:
            expand([text](std::uint32_t i) {
                std::uint16_t code;
                std::memcpy(&code, text + 2 * i, 2);
                return std::uint32_t(code);
            });
            break;
        default:
            expand([runsEnd](std::uint32_t i) { return runsEnd[i]; });
            break;
    }
}

std::span<const std::uint32_t> TerminalCompactCells::attached() const {
    if (!m_words) {
        return {};
    }
    const std::size_t attached = m_words[kAttached];
    return {m_words + usedWords() - attached, attached};
}

std::uint32_t TerminalCompactCells::linkSlotsUsed() const {
    std::uint32_t used = 0;
    if (!m_words) {
        return used;
    }
    const std::uint32_t* run = m_words + kHeaderWords;
    for (std::uint32_t i = 0; i < m_words[kRuns]; ++i, run += kRunWords) {
        PackedCell cell{run[1], run[2], run[3]};
        used |= 1u << cell.linkSlot();
    }
    return used;
}
