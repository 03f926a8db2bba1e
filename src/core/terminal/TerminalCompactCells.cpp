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

}  // namespace

void TerminalCompactCells::assign(std::span<const PackedCell> cells) {
    const std::size_t count = cells.size();
    if (count == 0) {
        if (m_words) {
            m_words[kCount] = 0;
            m_words[kRuns] = 0;
        }
        return;
    }
    const PackedCell* cell = cells.data();
    const std::uint32_t flags = cell[0].codeAndFlags & kStyleMask;
    const std::uint32_t foreground = cell[0].foregroundWord;
    const std::uint32_t background = cell[0].backgroundWord;
    // First, four cells (twelve words) at a time: whether every cell has the first one's
    // style, and the cell bits of all of them together.
    std::uint32_t differs = 0;
    std::uint32_t codes = 0;
    std::size_t i = 0;
    {
        constexpr std::uint32_t kAll = ~0u;
        constexpr std::uint32_t kCode = kCellBits;
        const Words style[3] = {{flags, foreground, background, flags},
                                {foreground, background, flags, foreground},
                                {background, flags, foreground, background}};
        const Words styleMask[3] = {{kStyleMask, kAll, kAll, kStyleMask},
                                    {kAll, kAll, kStyleMask, kAll},
                                    {kAll, kStyleMask, kAll, kAll}};
        const Words codeMask[3] = {{kCode, 0, 0, kCode}, {0, 0, kCode, 0}, {0, kCode, 0, 0}};
        Words differing{};
        Words codeBits{};
        const auto* words = reinterpret_cast<const std::uint32_t*>(cell);
        for (; i + 4 <= count; i += 4) {
            for (int part = 0; part < 3; ++part) {
                const Words loaded = loadWords(words + 3 * i + 4 * std::size_t(part));
                differing |= (loaded ^ style[part]) & styleMask[part];
                codeBits |= loaded & codeMask[part];
            }
        }
        differs = differing[0] | differing[1] | differing[2] | differing[3];
        codes = codeBits[0] | codeBits[1] | codeBits[2] | codeBits[3];
    }
    for (; i < count; ++i) {
        differs |= ((cell[i].codeAndFlags & kStyleMask) ^ flags) |
                   (cell[i].foregroundWord ^ foreground) | (cell[i].backgroundWord ^ background);
        codes |= cell[i].codeAndFlags & kCellBits;
    }
    // Where each run starts, kept here while they are few (lines are mostly a handful).
    constexpr std::size_t kKeptStarts = 32;
    std::array<std::uint32_t, kKeptStarts> starts{};
    std::size_t runs = 1;
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
    const std::size_t words =
        kHeaderWords + runs * kRunWords + (count * unit + sizeof(std::uint32_t) - 1) / 4;
    if (!m_words || m_words[kCapacity] < words) {
        m_words = std::make_unique_for_overwrite<std::uint32_t[]>(words);
        m_words[kCapacity] = std::uint32_t(words);
    }
    m_words[kCount] = std::uint32_t(count);
    m_words[kRuns] = std::uint32_t(runs);
    m_words[kUnit] = unit;

    std::uint32_t* out = m_words.get() + kHeaderWords;
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
    switch (unit) {
        case 1:
            for (std::size_t at = 0; at < count; ++at) {
                text[at] = static_cast<unsigned char>(cell[at].codeAndFlags);
            }
            break;
        case 2:
            for (std::size_t at = 0; at < count; ++at) {
                const auto code = static_cast<std::uint16_t>(cell[at].codeAndFlags);
                std::memcpy(text + 2 * at, &code, 2);
            }
            break;
        default: {
            std::size_t at = 0;
#ifdef __SSE2__
            // Four cells (twelve words) at a time: their first words, gathered.
            const auto* words = reinterpret_cast<const __m128i*>(cell);
            const __m128i cellBits = _mm_set1_epi32(int(kCellBits));
            for (; at + 4 <= count; at += 4, words += 3) {
                const __m128i a = _mm_loadu_si128(words);      // c0 f0 b0 c1
                const __m128i b = _mm_loadu_si128(words + 1);  // f1 b1 c2 f2
                const __m128i c = _mm_loadu_si128(words + 2);  // b2 c3 f3 b3
                const __m128i low = _mm_shuffle_epi32(a, _MM_SHUFFLE(3, 3, 3, 0));
                const __m128i high =
                    _mm_unpacklo_epi32(_mm_shuffle_epi32(b, _MM_SHUFFLE(2, 2, 2, 2)),
                                       _mm_shuffle_epi32(c, _MM_SHUFFLE(1, 1, 1, 1)));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at),
                                 _mm_and_si128(_mm_unpacklo_epi64(low, high), cellBits));
            }
#endif
            for (; at < count; ++at) {
                out[at] = cell[at].codeAndFlags & kCellBits;
            }
            break;
        }
    }
}

void TerminalCompactCells::expandInto(PackedCell* out) const {
    if (!m_words) {
        return;
    }
    const std::uint32_t* runs = m_words.get() + kHeaderWords;
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

std::uint32_t TerminalCompactCells::linkSlotsUsed() const {
    std::uint32_t used = 0;
    if (!m_words) {
        return used;
    }
    const std::uint32_t* run = m_words.get() + kHeaderWords;
    for (std::uint32_t i = 0; i < m_words[kRuns]; ++i, run += kRunWords) {
        PackedCell cell{run[1], run[2], run[3]};
        used |= 1u << cell.linkSlot();
    }
    return used;
}
