// Deterministic file contents for the generated projects of the runs benchmarks.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>
#include <cstring>

namespace bench {

// xorshift64*: fast, deterministic content.
struct Random {
    uint64_t state = 0x9E3779B97F4A7C15ull;
    uint64_t next() {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1Dull;
    }
    int below(int bound) { return int(next() % uint64_t(bound)); }
};

// Source-like text, or binary bytes, eight at a time from one random word.
inline QByteArray content(Random& random, qint64 size, bool text) {
    QByteArray bytes(size, Qt::Uninitialized);
    static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz_(){};=+-*/ \n\t0123456789";
    qint64 index = 0;
    for (; index + 8 <= size; index += 8) {
        uint64_t word = random.next();
        if (text) {
            for (int byte = 0; byte < 8; ++byte, word >>= 8) {
                bytes[index + byte] = kAlphabet[(word & 0xFF) % (sizeof kAlphabet - 1)];
            }
        } else {
            std::memcpy(bytes.data() + index, &word, 8);
        }
    }
    for (; index < size; ++index) {
        bytes[index] = text ? 'x' : char(random.next());
    }
    return bytes;
}

inline bool writeFile(const QString& path, const QByteArray& bytes, bool executable) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size()) {
        return false;
    }
    if (executable) {
        file.setPermissions(file.permissions() | QFile::ExeOwner | QFile::ExeGroup |
                            QFile::ExeOther);
    }
    return true;
}

}  // namespace bench
