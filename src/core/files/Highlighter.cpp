#include "core/files/Highlighter.h"

#include "core/appearance/HexColor.h"

#include <algorithm>

namespace {

// ICU's word characters: \p{Alphabetic}, marks, decimal digits, connector punctuation and
// the two zero-width joiners.
const QString kWordChar = QStringLiteral(R"([\p{Alphabetic}\p{M}\p{Nd}\p{Pc}\x{200C}\x{200D}])");
// Characters ICU looks through when it decides whether a boundary falls before a position:
// combining (grapheme-extending) characters and format characters.
const QString kExtendChar = QStringLiteral(R"([\p{Grapheme_Extend}\p{Cf}])");

// Whether the nearest character before the position that is not extending/format is a word
// character. PCRE2 has no unbounded look-behind, so the look-back passes over at most three
// such characters, which covers every real combining sequence.
QString previousIsWord() {
    const QString base = QStringLiteral("(?!%1)%2").arg(kExtendChar, kWordChar);
    QStringList branches;
    QString trail;
    for (int extendCount = 0; extendCount <= 3; ++extendCount) {
        branches << base + trail;
        trail += kExtendChar;
    }
    return branches.join(u'|');
}

// ICU's \b: no boundary just before an extending or format character; otherwise a boundary
// where "the position holds a word character" differs from "the nearest character before
// it that is not extending/format is a word character".
QString icuWordBoundary() {
    return QStringLiteral("(?:(?!%1)(?:(?=%2)(?<!%3)|(?!%2)(?<=%3)))")
        .arg(kExtendChar, kWordChar, previousIsWord());
}

bool isAsciiWordChar(QChar ch) {
    return (ch >= u'a' && ch <= u'z') || (ch >= u'A' && ch <= u'Z') || (ch >= u'0' && ch <= u'9') ||
           ch == u'_';
}

// Whether a quantifier that allows zero repetitions follows position `at`.
bool mayRepeatZeroTimes(QStringView pattern, qsizetype at) {
    if (at >= pattern.size()) {
        return false;
    }
    const QChar ch = pattern.at(at);
    return ch == u'?' || ch == u'*' || pattern.mid(at).startsWith(u"{0");
}

// Whether every match of the pattern text starting here begins with an ASCII word character
// (letters, digits, underscore): a literal, a plain class of such characters, or a group
// whose every alternative does. Conservative: anything else answers false.
bool startsWithAsciiWordChar(QStringView pattern) {
    if (pattern.isEmpty()) {
        return false;
    }
    const QChar first = pattern.at(0);
    if (isAsciiWordChar(first)) {
        return !mayRepeatZeroTimes(pattern, 1);
    }
    if (first == u'[') {
        qsizetype i = 1;
        for (; i < pattern.size() && pattern.at(i) != u']'; ++i) {
            // A '-' must join two members (a range); first or last it is a literal dash.
            const bool range = pattern.at(i) == u'-' && i > 1 && i + 1 < pattern.size() &&
                               pattern.at(i + 1) != u']';
            if (!isAsciiWordChar(pattern.at(i)) && !range) {
                return false;
            }
        }
        return i > 1 && i < pattern.size() && !mayRepeatZeroTimes(pattern, i + 1);
    }
    if (first == u'(') {
        qsizetype i = 1;
        if (pattern.mid(1).startsWith(u"?:")) {
            i = 3;
        } else if (i < pattern.size() && pattern.at(i) == u'?') {
            return false;  // look-arounds, named groups, options
        }
        qsizetype alternativeStart = i;
        int depth = 0;
        bool inClass = false;
        for (; i < pattern.size(); ++i) {
            const QChar ch = pattern.at(i);
            if (ch == u'\\') {
                ++i;
            } else if (inClass) {
                inClass = ch != u']';
            } else if (ch == u'[') {
                inClass = true;
            } else if (ch == u'(') {
                ++depth;
            } else if (ch == u')' && depth > 0) {
                --depth;
            } else if ((ch == u'|' || ch == u')') && depth == 0) {
                if (!startsWithAsciiWordChar(pattern.mid(alternativeStart, i - alternativeStart))) {
                    return false;
                }
                if (ch == u')') {
                    return !mayRepeatZeroTimes(pattern, i + 1);
                }
                alternativeStart = i + 1;
            }
        }
    }
    return false;
}

}  // namespace

std::vector<HighlightRule> Highlighter::codeRules() {
    return {
        {QStringLiteral(R"(\b(?:func|let|var|class|struct|import|return|if|else|for|while|def|)"
                        R"(from|as|async|await|const|function|try|catch|throw|public|private|)"
                        R"(guard|in|true|false|nil|None|True|False)\b)"),
         QStringLiteral("C0AAF9")},
        {QStringLiteral(R"(\b[0-9]+(?:\.[0-9]+)?\b)"), QStringLiteral("E3AF94")},
        {QStringLiteral(R"("(?:[^"\\]|\\.)*"|'(?:[^'\\]|\\.)*')"), QStringLiteral("83DFC0")},
        {QStringLiteral(R"((?m)(?://|#).*?$)"), QStringLiteral("6E869E")},
    };
}

QString Highlighter::translateIcuPattern(const QString& icuPattern) {
    // (*ANY): every Unicode line terminator (and CR LF as one) ends a line for `.`, `^` and
    // `$`, as in ICU.
    QString out = QStringLiteral("(*ANY)");
    out.reserve(icuPattern.size() + 64);
    const QString boundary = icuWordBoundary();
    const QString lookBack = previousIsWord();
    int classDepth = 0;
    bool quoting = false;  // inside \Q … \E
    for (qsizetype i = 0; i < icuPattern.size(); ++i) {
        const QChar ch = icuPattern.at(i);
        const QChar next = i + 1 < icuPattern.size() ? icuPattern.at(i + 1) : QChar();
        if (quoting) {
            out += ch;
            if (ch == u'\\' && next == u'E') {
                out += next;
                ++i;
                quoting = false;
            }
            continue;
        }
        if (ch == u'\\') {
            if (next == u'Q') {
                quoting = true;
            } else if (classDepth == 0 && (next == u'b' || next == u'B')) {
                // Before an ASCII word character only the look-back decides, and a pattern
                // that starts with a plain look-behind still lets PCRE2 skip ahead to the
                // possible first characters: far faster than the general form.
                const bool wordFollows =
                    startsWithAsciiWordChar(QStringView(icuPattern).mid(i + 2));
                if (wordFollows) {
                    out += QString::fromLatin1(next == u'b' ? "(?<!%1)" : "(?<=%1)").arg(lookBack);
                } else {
                    out += next == u'b' ? boundary : QStringLiteral("(?!%1)").arg(boundary);
                }
                ++i;
                continue;
            }
            out += ch;
            if (!next.isNull()) {
                out += next;
                ++i;
            }
            continue;
        }
        if (ch == u'[') {
            ++classDepth;
            out += ch;
            // A ']' right after the opening (or after '^') is a literal member.
            if (next == u'^') {
                out += next;
                ++i;
            }
            if (i + 1 < icuPattern.size() && icuPattern.at(i + 1) == u']') {
                out += u']';
                ++i;
            }
            continue;
        }
        if (ch == u']' && classDepth > 0) {
            --classDepth;
        }
        out += ch;
    }
    return out;
}

Highlighter::Highlighter(std::vector<HighlightRule> rules) : m_rules(std::move(rules)) {
    // Style values are one byte: 0 is the default colour, so at most 255 rules.
    if (m_rules.size() > 255) {
        m_rules.resize(255);
    }
    m_colors.push_back(colorFromHex(defaultColorHex()));
    for (const HighlightRule& rule : m_rules) {
        QRegularExpression expression(translateIcuPattern(rule.pattern),
                                      QRegularExpression::UseUnicodePropertiesOption);
        expression.optimize();
        m_compiled.push_back(std::move(expression));
        m_colors.push_back(colorFromHex(rule.colorHex));
    }
}

QColor Highlighter::color(Style style) const {
    return style < m_colors.size() ? m_colors[style] : m_colors.front();
}

std::optional<std::vector<Highlighter::Style>> Highlighter::styles(const QString& text) const {
    if (text.size() >= kMaxTextLength) {
        return std::nullopt;
    }
    std::vector<Style> result(static_cast<size_t>(text.size()), kDefaultStyle);
    for (size_t index = 0; index < m_compiled.size(); ++index) {
        const QRegularExpression& expression = m_compiled[index];
        if (!expression.isValid()) {
            continue;
        }
        const auto style = static_cast<Style>(index + 1);
        QRegularExpressionMatchIterator matches = expression.globalMatch(text);
        while (matches.hasNext()) {
            const QRegularExpressionMatch match = matches.next();
            std::fill(result.begin() + match.capturedStart(), result.begin() + match.capturedEnd(),
                      style);
        }
    }
    return result;
}
