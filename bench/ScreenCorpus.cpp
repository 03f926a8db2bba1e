#include "ScreenCorpus.h"

#include <cstdint>

namespace {

// A small fixed-seed generator (xorshift), so every run and every machine gets the same bytes.
class Random {
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}
    std::uint32_t next() {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return std::uint32_t(m_state >> 11);
    }
    int below(int limit) { return int(next() % std::uint32_t(limit)); }

private:
    std::uint64_t m_state;
};

const char* const kWords[] = {"the",    "screen", "buffer", "output",   "compile", "warning",
                              "error:", "src/",   "main",   "return",   "value",   "0x7ffe",
                              "test",   "passed", "failed", "[ OK ]",   "->",      "{",
                              "}",      "const",  "auto",   "#include", "1234",    "done."};

void appendWords(QByteArray& out, Random& random, int maxLength) {
    const int length = random.below(maxLength + 1);
    int written = 0;
    while (written < length) {
        const char* word = kWords[random.below(int(std::size(kWords)))];
        out += word;
        out += ' ';
        written += int(qstrlen(word)) + 1;
    }
}

QByteArray plainText(qsizetype size, Random& random) {
    QByteArray out;
    out.reserve(size + 256);
    while (out.size() < size) {
        appendWords(out, random, 100);
        out += "\r\n";
    }
    return out;
}

QByteArray colourText(qsizetype size, Random& random) {
    QByteArray out;
    out.reserve(size + 256);
    while (out.size() < size) {
        const int words = random.below(12);
        for (int i = 0; i < words; ++i) {
            switch (random.below(6)) {
                case 0:
                    out += "\x1b[" + QByteArray::number(30 + random.below(8)) + "m";
                    break;
                case 1:
                    out += "\x1b[1;" + QByteArray::number(90 + random.below(8)) + "m";
                    break;
                case 2:
                    out += "\x1b[38;5;" + QByteArray::number(random.below(256)) + "m";
                    break;
                case 3:
                    out += "\x1b[38;2;" + QByteArray::number(random.below(256)) + ";" +
                           QByteArray::number(random.below(256)) + ";" +
                           QByteArray::number(random.below(256)) + "m";
                    break;
                case 4:
                    out += "\x1b[7;" + QByteArray::number(40 + random.below(8)) + "m";
                    break;
                default:
                    out += "\x1b[0m";
                    break;
            }
            out += kWords[random.below(int(std::size(kWords)))];
            out += ' ';
        }
        out += "\x1b[m\r\n";
    }
    return out;
}

// Full-screen programs: positioned writes, erases, regions, line insertion, the alternate screen.
QByteArray cursorMovement(qsizetype size, Random& random) {
    QByteArray out;
    out.reserve(size + 512);
    while (out.size() < size) {
        out += "\x1b[?1049h\x1b[H\x1b[2J";
        for (int step = 0; step < 200; ++step) {
            switch (random.below(8)) {
                case 0:
                case 1:
                case 2:
                    out += "\x1b[" + QByteArray::number(1 + random.below(24)) + ";" +
                           QByteArray::number(1 + random.below(80)) + "H";
                    appendWords(out, random, 30);
                    break;
                case 3:
                    out += "\x1b[K";
                    break;
                case 4:
                    out += "\x1b[" + QByteArray::number(2 + random.below(5)) + ";" +
                           QByteArray::number(12 + random.below(12)) + "r\x1b[" +
                           QByteArray::number(1 + random.below(6)) + (random.below(2) ? "L" : "M") +
                           "\x1b[r";
                    break;
                case 5:
                    out += "\x1b[" + QByteArray::number(1 + random.below(24)) + "d\x1b[" +
                           QByteArray::number(1 + random.below(20)) + "X";
                    break;
                case 6:
                    out += "\x1b[" + QByteArray::number(1 + random.below(3)) + "A\x1b[" +
                           QByteArray::number(1 + random.below(3)) + "C\x1b[J";
                    break;
                default:
                    out += "\x1b[24;1H\r\n";
                    appendWords(out, random, 60);
                    break;
            }
        }
        out += "\x1b[?1049l";
    }
    return out;
}

QByteArray unicodeText(qsizetype size, Random& random) {
    static const char* const pieces[] = {
        "中文",
        "日本語のテキスト",
        "한국어",
        "naïve",
        "café",
        "e\u0301",
        "a\u0308\u0323",
        "✅",
        "⭐",
        "😀",
        "🚀 done",
        "→",
        "│",
        "…",
        "Ω≈ç√",
        "abc",
        " ",
        "ｆｕｌｌ",
    };
    QByteArray out;
    out.reserve(size + 256);
    while (out.size() < size) {
        const int count = random.below(30);
        for (int i = 0; i < count; ++i) {
            out += pieces[random.below(int(std::size(pieces)))];
        }
        out += "\r\n";
    }
    return out;
}

// Every cell a random printable character in a random 256-colour foreground.
QByteArray denseCells(qsizetype size, Random& random) {
    QByteArray out;
    out.reserve(size + 4096);
    while (out.size() < size) {
        out += "\x1b[H";
        for (int row = 0; row < 24; ++row) {
            for (int column = 0; column < 80; ++column) {
                out += "\x1b[38;5;" + QByteArray::number(random.below(256)) + "m";
                out += char(0x21 + random.below(94));
            }
            if (row < 23) {
                out += "\r\n";
            }
        }
    }
    return out;
}

}  // namespace

std::vector<ScreenCorpus> buildScreenCorpora(qsizetype size) {
    Random random(0x5EED5EED12345ULL);
    return {
        {QStringLiteral("plain"), plainText(size, random)},
        {QStringLiteral("sgr"), colourText(size, random)},
        {QStringLiteral("cursor"), cursorMovement(size, random)},
        {QStringLiteral("utf8"), unicodeText(size, random)},
        {QStringLiteral("dense"), denseCells(size, random)},
    };
}

std::vector<ScreenCorpus> buildFloodCorpora(qsizetype size) {
    auto flood = [size](const QByteArray& unit) {
        return unit.repeated(size / unit.size() + 1).first(size);
    };
    return {
        {QStringLiteral("rep-flood"), flood(QByteArrayLiteral("a\x1b[1000000b"))},
        {QStringLiteral("ed-flood"), flood(QByteArrayLiteral("\x1b[2J"))},
    };
}
