#pragma once

#include <QColor>
#include <QRegularExpression>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

// One colouring rule: a regular expression written in ICU syntax and the colour (six
// hexadecimal digits) given to every match.
struct HighlightRule {
    QString pattern;
    QString colorHex;

    bool operator==(const HighlightRule&) const = default;
};

// The source colouring of the code editor, on plain text: every rule is matched over the
// whole text in order and a later rule's colour wins where matches overlap, so a keyword
// inside a string literal is string-coloured and a comment swallows whatever it covers.
//
// Patterns are written for ICU and run on PCRE2 (QRegularExpression). The translation keeps
// the ICU meanings the rules rely on: `\b` is ICU's Unicode word boundary (letters, marks,
// decimal digits and connector punctuation are word characters; combining marks and format
// characters never split a word), `.` and `$` know every Unicode line terminator, and `\w`,
// `\d`, `\s` are Unicode-aware. A pattern that does not compile is skipped.
class Highlighter {
public:
    // Texts this long or longer are not coloured at all (their earlier colours stay).
    static constexpr qsizetype kMaxTextLength = 200000;
    // Style 0 is the default text colour; style i + 1 is the colour of rules()[i].
    using Style = std::uint8_t;
    static constexpr Style kDefaultStyle = 0;

    // Colour of text no rule matches.
    static QString defaultColorHex() { return QStringLiteral("D0DEEB"); }

    // The four rules of the code editor: keywords, numbers, string literals, line comments.
    static std::vector<HighlightRule> codeRules();

    explicit Highlighter(std::vector<HighlightRule> rules = codeRules());

    const std::vector<HighlightRule>& rules() const { return m_rules; }
    QColor color(Style style) const;

    // The style of every UTF-16 unit of the text, or nothing when the text has
    // kMaxTextLength units or more.
    std::optional<std::vector<Style>> styles(const QString& text) const;

    // The pattern QRegularExpression runs for an ICU pattern (exposed for tests).
    static QString translateIcuPattern(const QString& icuPattern);

private:
    std::vector<HighlightRule> m_rules;
    std::vector<QRegularExpression> m_compiled;
    std::vector<QColor> m_colors;  // indexed by style
};
