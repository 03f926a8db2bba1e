#include "core/files/Highlighter.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

// One letter per UTF-16 unit: '.' default, 'k' keyword, 'n' number, 's' string, 'c' comment.
QString styleMap(const QString& text) {
    const std::optional<std::vector<Highlighter::Style>> styles = Highlighter().styles(text);
    if (!styles) {
        return "<none>";
    }
    static constexpr char16_t kLetters[] = u".knsc";
    QString map;
    for (const Highlighter::Style style : *styles) {
        map += QChar(kLetters[style]);
    }
    return map;
}

TEST(Highlighter, colourClassesFollowTheRulesInOrderWithUnicodeWordBoundaries) {
    const std::pair<QString, QString> rows[] = {
        // A comment takes everything after it, keywords too.
        {"let name = 42 // let", "kkk........nn.cccccc"},
        // A string is coloured whole; a "#" inside one starts a comment; escaped quotes.
        {R"(x = "if 3")", "....ssssss"},
        {R"(s = "a # b" + 1)", "....sss" + QString(8, u'c')},
        {R"(q = 'it\'s' if)", "....sssssss.kk"},
        // A digit inside a name is no number, a decimal is one.
        {"x1 + 3.14", ".....nnnn"},
        {"3.14x 7.a", "n.....n.."},
        // Precomposed and decomposed é, Cyrillic and Arabic-Indic digits continue a word.
        {QString::fromUtf8("éif"), "..."},
        {QString::fromUtf8("e\u0301if"), "...."},
        {QString::fromUtf8("яif ٣in"), "......."},
        // A combining mark after a keyword makes it part of a longer word.
        {QString::fromUtf8("if\u0301 (in)"), ".....kk."},
        // Punctuation and spaces, a non-breaking one included, end words.
        {QString::fromUtf8("\u00A0for(x)"), ".kkk..."},
        // Every Unicode line terminator ends a comment.
        {QString::fromUtf8("# a\u2028if"), "ccc.kk"},
        {"// a\r\nif", "cccc..kk"},
        {"#\n#", "c.c"},
    };
    for (const auto& [text, map] : rows) {
        EXPECT_EQ(styleMap(text), map) << text.toStdString();
    }
}

TEST(Highlighter, textsOfTwoHundredThousandUnitsOrMoreAreNotColoured) {
    const Highlighter highlighter;
    QString text = QString(Highlighter::kMaxTextLength - 1, u'x');
    text.replace(0, 4, "let ");
    const auto below = highlighter.styles(text);
    ASSERT_TRUE(below);
    EXPECT_EQ((*below)[0], 1);
    EXPECT_FALSE(highlighter.styles(text + u'x'));
}

}  // namespace
