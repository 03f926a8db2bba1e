#include "core/terminal/TerminalUrlDetector.h"

#include <QRegularExpression>

namespace {

const QRegularExpression& addressPattern() {
    // The scheme may not continue a word or another scheme ("xhttp://", "git+https://").
    static const QRegularExpression pattern(
        QStringLiteral(R"((?<![\w+.\-])(?:https?://|file://|mailto:)[^\s<>"`]+)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    return pattern;
}

// The length of `address` without the punctuation that ends the sentence around it.
qsizetype trimmedLength(QStringView address) {
    static const QString kTrailing = QStringLiteral(".,;:!?'\">");
    qsizetype length = address.size();
    while (length > 0) {
        const QChar last = address[length - 1];
        if (kTrailing.contains(last)) {
            --length;
            continue;
        }
        QChar opening;
        if (last == u')') {
            opening = u'(';
        } else if (last == u']') {
            opening = u'[';
        } else if (last == u'}') {
            opening = u'{';
        } else {
            break;
        }
        const QStringView kept = address.first(length);
        if (kept.count(opening) >= kept.count(last)) {
            break;  // it closes a bracket the address opened
        }
        --length;
    }
    return length;
}

}  // namespace

std::vector<TerminalUrlDetector::Found> TerminalUrlDetector::find(QStringView text) {
    std::vector<Found> found;
    QRegularExpressionMatchIterator matches = addressPattern().globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        const QStringView address = match.capturedView();
        const qsizetype length = trimmedLength(address);
        // Only the scheme is left: nothing to open.
        const qsizetype scheme = address.indexOf(u':') + 1;
        qsizetype rest = scheme;
        while (rest < length && address[rest] == u'/') {
            ++rest;
        }
        if (length > rest) {
            found.push_back({match.capturedStart(), length});
        }
    }
    return found;
}

std::optional<TerminalUrl> TerminalUrlDetector::urlAt(const TerminalScreen& screen,
                                                      TerminalTextPosition position) {
    const TerminalText text = TerminalText::logicalLine(screen, position.line);
    const qsizetype offset = text.offsetOf(position);
    if (offset < 0) {
        return std::nullopt;
    }
    for (const Found& address : find(text.text())) {
        if (offset >= address.offset && offset < address.offset + address.length) {
            return TerminalUrl{text.text().mid(address.offset, address.length),
                               text.rangeOf(address.offset, address.length)};
        }
    }
    return std::nullopt;
}
