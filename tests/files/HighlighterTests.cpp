#include "core/appearance/HexColor.h"
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

TEST(Highlighter, theShortBoundaryBeforeAWordCharacterAgreesWithTheGeneralOne) {
    // "\\bif" takes the look-behind-only form; the look-ahead forces the general form.
    const Highlighter shortForm(std::vector<HighlightRule>{{R"(\bif\b)", "FF0000"}});
    const Highlighter generalForm(std::vector<HighlightRule>{{R"(\b(?=i)if\b)", "FF0000"}});
    for (const char* text : {"if", " if ", "éif", "e\u0301if", "\u200Bif", "a\u0301\u0301if",
                             "(if)", "_if", "if_", "²if", "if\u0301"}) {
        const QString string = QString::fromUtf8(text);
        EXPECT_EQ(shortForm.styles(string), generalForm.styles(string)) << text;
    }
    // A class that can match a dash is not a word character: the general form applies.
    const Highlighter dash(std::vector<HighlightRule>{{R"(\b[a-]+)", "FF0000"}});
    EXPECT_EQ(dash.styles("a -a"), (std::vector<Highlighter::Style>{1, 0, 0, 1}));
}

TEST(Highlighter, aRuleThatDoesNotCompileIsSkippedAndTheOthersStillColour) {
    const Highlighter highlighter(
        std::vector<HighlightRule>{{"(unclosed", "FF0000"}, {"b+", "00FF00"}});
    const auto styles = highlighter.styles("abba(");
    ASSERT_TRUE(styles);
    EXPECT_EQ(*styles, (std::vector<Highlighter::Style>{0, 2, 2, 0, 0}));
    EXPECT_EQ(highlighter.color(2), colorFromHex(u"00FF00"));
    EXPECT_EQ(highlighter.color(0), colorFromHex(u"D0DEEB"));
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

TEST(Highlighter, boundaryEscapesInsideACharacterClassOrAQuoteAreLeftAlone) {
    EXPECT_FALSE(Highlighter::translateIcuPattern(R"([\b])").contains("Alphabetic"));
    EXPECT_FALSE(Highlighter::translateIcuPattern(R"(\Q\b\E)").contains("Alphabetic"));
    EXPECT_TRUE(Highlighter::translateIcuPattern(R"([]]\b)").contains("Alphabetic"));
    const Highlighter highlighter(std::vector<HighlightRule>{{R"(\Bb\B)", "FF0000"}});
    const auto styles = highlighter.styles("abc b");
    ASSERT_TRUE(styles);
    EXPECT_EQ(*styles, (std::vector<Highlighter::Style>{0, 1, 0, 0, 0}));
}

}  // namespace
