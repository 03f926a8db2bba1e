#include "core/appearance/HexColor.h"
#include "core/appearance/Theme.h"
#include "core/services/Preferences.h"
#include "support/TestSupport.h"
#include "ui/files/CodeEditor.h"
#include "ui/files/LineRuler.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QImage>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>

#include <gtest/gtest.h>

namespace {

using testing_support::processEventsFor;

class CodeEditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        editor.resize(420, 300);
        editor.show();
        QApplication::processEvents();
        QObject::connect(&editor, &CodeEditor::textEdited,
                         [this](const QString& text) { edits << text; });
    }

    // The colour the layout gives the character at a document position (invalid if none).
    QColor colorAt(int position) const {
        const QTextBlock block = editor.document()->findBlock(position);
        const int offset = position - block.position();
        for (const QTextLayout::FormatRange& range : block.layout()->formats()) {
            if (offset >= range.start && offset < range.start + range.length) {
                return range.format.foreground().color();
            }
        }
        return {};
    }

    std::vector<int> rulerNumbers() const {
        std::vector<int> numbers;
        for (const LineRuler::Label& label : editor.ruler()->labels()) {
            numbers.push_back(label.number);
        }
        return numbers;
    }

    void typeAt(int position, const QString& text) {
        QTextCursor cursor = editor.textCursor();
        cursor.setPosition(position);
        editor.setTextCursor(cursor);
        editor.insertPlainText(text);
    }

    MemoryPreferences preferences;
    Theme theme{false, preferences};
    CodeEditor editor{theme};
    QStringList edits;  // every text the editor reported as the user's edit
};

TEST_F(CodeEditorTest, aWrappedLineIsNumberedOnceAndTheNextLineGetsTheNextNumber) {
    const qreal available = editor.viewport()->width() - 2 * CodeEditor::kTextInset;
    const qreal advance = QFontMetricsF(editor.font()).horizontalAdvance(u'x');
    const int perLine = static_cast<int>(available / advance);
    editor.setText(QString(perLine * 5 / 2, u'x') + "\nsecond\nthird");
    QApplication::processEvents();
    ASSERT_EQ(editor.document()->firstBlock().layout()->lineCount(), 3);

    const std::vector<LineRuler::Label> labels = editor.ruler()->labels();
    ASSERT_EQ(labels.size(), 3u);
    EXPECT_EQ(labels[0], (LineRuler::Label{1, CodeEditor::kTextInset + 2.0}));
    EXPECT_EQ(labels[1].number, 2);
    EXPECT_EQ(labels[2].number, 3);
    const qreal lineHeight = editor.document()->firstBlock().layout()->lineAt(0).height();
    EXPECT_NEAR(labels[1].y - labels[0].y, 3 * lineHeight, 0.5);

    // The empty line after a final break has no number.
    editor.setText("a\nb\n");
    EXPECT_EQ(rulerNumbers(), (std::vector<int>{1, 2}));
    editor.setText("");
    EXPECT_TRUE(rulerNumbers().empty());
}

TEST_F(CodeEditorTest, afterScrollingToLineFortyTheFirstNumberIsFortyAndNumbersFollowTheText) {
    QStringList lines;
    for (int line = 1; line <= 120; ++line) {
        lines << QStringLiteral("value = %1").arg(line);
    }
    editor.setText(lines.join(u'\n'));
    editor.verticalScrollBar()->setValue(39);
    QApplication::processEvents();

    const std::vector<LineRuler::Label> labels = editor.ruler()->labels();
    ASSERT_GE(labels.size(), 3u);
    EXPECT_EQ(labels.front(), (LineRuler::Label{40, 2.0}));
    for (size_t index = 1; index < labels.size(); ++index) {
        EXPECT_EQ(labels[index].number, 40 + static_cast<int>(index));
        EXPECT_GT(labels[index].y, labels[index - 1].y);
    }
    EXPECT_LT(labels.back().y, editor.viewport()->height());
}

TEST_F(CodeEditorTest, settingATextMovesTheCaretOnlyWhenShorterAndReportsNoEditButKeepsCrLf) {
    editor.setText("hello world");
    typeAt(11, "");
    editor.setText("hi");
    EXPECT_EQ(editor.textCursor().position(), 2);
    EXPECT_FALSE(editor.textCursor().hasSelection());

    typeAt(1, "");
    editor.setText("h-longer text");
    EXPECT_EQ(editor.textCursor().position(), 1);
    EXPECT_EQ(edits.size(), 0);

    typeAt(13, "!");
    ASSERT_EQ(edits.size(), 1);
    EXPECT_EQ(edits.at(0), "h-longer text!");
    // The owner echoing the edit back changes nothing, not even the undo history.
    editor.setText("h-longer text!");
    EXPECT_TRUE(editor.document()->isUndoAvailable());
    EXPECT_EQ(edits.size(), 1);

    // CR LF line endings and unusual spaces survive an edit.
    editor.setText(QString::fromUtf8("a\u00A0b\r\nc\r\n"));
    EXPECT_EQ(editor.documentText(), QString::fromUtf8("a\u00A0b\nc\n"));
    typeAt(6, "d");
    ASSERT_EQ(edits.size(), 2);
    EXPECT_EQ(edits.at(1), QString::fromUtf8("a\u00A0b\r\nc\r\nd"));
}

TEST_F(CodeEditorTest, editsAreColouredAtOnceAndTheCaretTakesTheAccentColour) {
    editor.setText("let x = 1 \"s\"");
    EXPECT_EQ(colorAt(0), colorFromHex(u"C0AAF9"));
    EXPECT_EQ(colorAt(8), colorFromHex(u"E3AF94"));
    EXPECT_EQ(colorAt(4), colorFromHex(u"D0DEEB"));
    EXPECT_EQ(colorAt(11), colorFromHex(u"83DFC0"));
    typeAt(0, "# ");
    EXPECT_EQ(colorAt(2), colorFromHex(u"6E869E"));

    // The caret is painted in the accent colour, not by inverting the background.
    theme.setAccentHex("FF8800");
    editor.activateWindow();
    editor.setFocus();
    QApplication::processEvents();
    ASSERT_TRUE(editor.hasFocus());
    const QImage image = editor.viewport()->grab().toImage();
    const QRect caret = editor.cursorRect();
    EXPECT_EQ(image.pixelColor(caret.x(), caret.center().y()), colorFromHex(u"FF8800"));
}

TEST_F(CodeEditorTest, aTextOfTwoHundredThousandUnitsKeepsItsEarlierColoursWhileEdited) {
    QString text = "let a\nlet b\n";
    while (text.size() < Highlighter::kMaxTextLength - 100) {
        text += QString(79, u'z') + u'\n';
    }
    text += QString(Highlighter::kMaxTextLength - 10 - text.size(), u'z');
    editor.setText(text);
    ASSERT_EQ(colorAt(6), colorFromHex(u"C0AAF9"));

    typeAt(static_cast<int>(text.size()), QString(20, u'y'));
    typeAt(0, "# ");
    EXPECT_EQ(edits.size(), 2);
    EXPECT_EQ(colorAt(8), colorFromHex(u"C0AAF9"));
    EXPECT_NE(colorAt(0), colorFromHex(u"6E869E"));
}

}  // namespace
