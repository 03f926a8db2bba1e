#include "app/selftest/SelfTest.h"

#include "core/appearance/Theme.h"
#include "core/files/Highlighter.h"
#include "core/services/Preferences.h"
#include "ui/files/CodeEditor.h"

#include <QApplication>

namespace {

// One letter per UTF-16 unit: '.' default, 'k' keyword, 'n' number, 's' string, 'c' comment.
QString styleMap(const Highlighter& highlighter, const QString& text) {
    const auto styles = highlighter.styles(text);
    if (!styles) {
        return QStringLiteral("<none>");
    }
    static constexpr char16_t kLetters[] = u".knsc";
    QString map;
    for (const Highlighter::Style style : *styles) {
        map += QChar(style < 5 ? kLetters[style] : u'?');
    }
    return map;
}

SelfTestResult codeColouringFollowsTheRuleOrder(SelfTestContext&) {
    const Highlighter highlighter;
    const struct {
        QString text;
        QString expected;
    } cases[] = {
        {QStringLiteral("let n = 42 // let"), QStringLiteral("kkk.....nn.cccccc")},
        {QStringLiteral("s = \"a # b\" x1 3.14"), QStringLiteral("....ssscccccccccccc")},
        {QStringLiteral("'it\\'s' éif"), QStringLiteral("sssssss....")},
    };
    for (const auto& [text, expected] : cases) {
        const QString actual = styleMap(highlighter, text);
        if (actual != expected) {
            return QStringLiteral("%1 was coloured %2, expected %3").arg(text, actual, expected);
        }
    }
    if (highlighter.styles(QString(Highlighter::kMaxTextLength, u'x'))) {
        return QStringLiteral("a text of 200,000 units was coloured");
    }
    return std::nullopt;
}

SelfTestResult codeEditorReportsEditsButNotItsOwnChanges(SelfTestContext&) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        return std::nullopt;  // no widgets in this process
    }
    MemoryPreferences preferences;
    Theme theme(false, preferences);
    CodeEditor editor(theme);
    QStringList edits;
    QObject::connect(&editor, &CodeEditor::textEdited,
                     [&edits](const QString& text) { edits << text; });
    editor.setText(QStringLiteral("first line\r\nsecond line"));
    QTextCursor cursor = editor.textCursor();
    cursor.movePosition(QTextCursor::End);
    editor.setTextCursor(cursor);
    editor.setText(QStringLiteral("short"));
    if (editor.textCursor().position() != 5 || !edits.isEmpty()) {
        return QStringLiteral("replacing the text moved the caret to %1 or was reported")
            .arg(editor.textCursor().position());
    }
    editor.setText(QStringLiteral("a\r\nb"));
    cursor.setPosition(3);
    editor.setTextCursor(cursor);
    editor.insertPlainText(QStringLiteral("c"));
    if (edits != QStringList{QStringLiteral("a\r\nbc")}) {
        return QStringLiteral("the edit was reported as %1").arg(edits.join(u'|'));
    }
    return std::nullopt;
}

}  // namespace

std::vector<SelfTestCheck> filesChecks() {
    return {
        {QStringLiteral("Code colouring follows the rule order and the size limit"),
         codeColouringFollowsTheRuleOrder},
        {QStringLiteral("The code editor reports edits but not its own changes"),
         codeEditorReportsEditsButNotItsOwnChanges},
    };
}
