#include "core/terminal/TerminalCompactCells.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t kStyleMask = ~PackedCell::kCodeMask;

bool sameStyle(const PackedCell& a, const PackedCell& b) {
    return ((a.codeAndFlags ^ b.codeAndFlags) & kStyleMask) == 0 &&
           a.foregroundWord == b.foregroundWord && a.backgroundWord == b.backgroundWord;
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
    // One pass for the widest code point and the number of runs, one to write.
    std::uint32_t widest = 0;
    std::size_t runs = 1;
    for (std::size_t i = 0; i < count; ++i) {
        widest = std::max(widest, cells[i].codeAndFlags & PackedCell::kCodeMask);
        if (i > 0 && !sameStyle(cells[i], cells[i - 1])) {
            ++runs;
        }
    }
    const std::uint32_t unit = widest < 0x100 ? 1 : widest < 0x10000 ? 2 : 4;
    const std::size_t words =
        kHeaderWords + runs * kRunWords + (count * unit + sizeof(std::uint32_t) - 1) / 4;
    if (!m_words || m_words[kCapacity] < words) {
        m_words = std::make_unique_for_overwrite<std::uint32_t[]>(words);
        m_words[kCapacity] = std::uint32_t(words);
    }
    m_words[kCount] = std::uint32_t(count);
    m_words[kRuns] = std::uint32_t(runs);
    m_words[kUnit] = unit;

    std::uint32_t* run = m_words.get() + kHeaderWords;
    for (std::size_t i = 0; i < count; ++i) {
        if (i + 1 == count || !sameStyle(cells[i], cells[i + 1])) {
            run[0] = std::uint32_t(i + 1);
            run[1] = cells[i].codeAndFlags & kStyleMask;
            run[2] = cells[i].foregroundWord;
            run[3] = cells[i].backgroundWord;
            run += kRunWords;
        }
    }
    unsigned char* text = reinterpret_cast<unsigned char*>(run);
    switch (unit) {
        case 1:
            for (std::size_t i = 0; i < count; ++i) {
                text[i] = static_cast<unsigned char>(cells[i].codeAndFlags);
            }
            break;
        case 2:
            for (std::size_t i = 0; i < count; ++i) {
                const auto code = static_cast<std::uint16_t>(cells[i].codeAndFlags);
                std::memcpy(text + 2 * i, &code, 2);
            }
            break;
        default:
            for (std::size_t i = 0; i < count; ++i) {
                run[i] = cells[i].codeAndFlags & PackedCell::kCodeMask;
            }
            break;
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
