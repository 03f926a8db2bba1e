#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <vector>

// Patterns in gitignore syntax, matched against relative paths ("src/a.txt"): blank lines and
// "#" comments are ignored, "!" negates, a trailing "/" matches folders only, a "/" at the
// start or inside anchors the pattern at the root (else it matches a name at any depth), and
// "*", "?", "[…]" and "**" work as git has them. A path matches when the last pattern that
// matches it or one of its folders is not negated.
class IgnorePatterns {
public:
    explicit IgnorePatterns(const QStringList& lines);

    bool isEmpty() const { return m_patterns.empty(); }
    bool matches(const QString& path) const;

private:
    struct Pattern {
        QRegularExpression expression;
        bool negated = false;
        bool folderOnly = false;
        bool anchored = false;
    };
    std::vector<Pattern> m_patterns;
};
