// velk-bench-editor: how long one keystroke costs in the code editor on a large file.
//
// The file: 10,000 lines of Python-like code (keywords, numbers, strings, comments), about
// 190,000 UTF-16 units, just under the size above which colouring stops.
//
//   engine     Highlighter::styles over the whole text (the regular expressions alone);
//   keystroke  one character typed into the CodeEditor until its colouring is applied,
//              next to the same keystroke in a QPlainTextEdit with a QSyntaxHighlighter
//              running the same four rules block by block (Qt's incremental way), and in a
//              bare QPlainTextEdit with no colouring;
//   repaint    the key event plus the repaint it causes, for the same three editors.
//
// Each figure is the median and the 95th percentile over VELK_BENCH_KEYS keystrokes
// (default 200), typed in the middle of the file, in wall-clock time and in CPU time of the
// main thread. Goal: under 16 ms, one frame.
#include "StallMeter.h"

#include "core/appearance/Theme.h"
#include "core/files/Highlighter.h"
#include "core/services/Preferences.h"
#include "ui/files/CodeEditor.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSyntaxHighlighter>
#include <QTextBlock>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

namespace {

QString generateFile(int lines) {
    static const char* const kShapes[] = {
        "def item_%1(value):",
        "    t = value * 3.25  # scale",
        "    s = \"row %1 if\"",
        "    for e in rows:",
        "        print('entry', e)",
        "    return total",
        "",
        "class Shape%1:",
        "    // note %1",
        "    await go(%1)",
    };
    QStringList text;
    for (int line = 0; line < lines; ++line) {
        text << QString::fromLatin1(kShapes[line % std::size(kShapes)])
                    .replace(QStringLiteral("%1"), QString::number(line));
    }
    return text.join(u'\n');
}

// The peer: the same rules as a QSyntaxHighlighter, which colours block by block.
class BlockHighlighter : public QSyntaxHighlighter {
public:
    explicit BlockHighlighter(QTextDocument* document) : QSyntaxHighlighter(document) {
        const Highlighter engine;
        for (size_t index = 0; index < engine.rules().size(); ++index) {
            QTextCharFormat format;
            format.setForeground(engine.color(static_cast<Highlighter::Style>(index + 1)));
            m_rules.push_back(
                {QRegularExpression(Highlighter::translateIcuPattern(engine.rules()[index].pattern),
                                    QRegularExpression::UseUnicodePropertiesOption),
                 format});
        }
    }

protected:
    void highlightBlock(const QString& text) override {
        for (const auto& [expression, format] : m_rules) {
            QRegularExpressionMatchIterator matches = expression.globalMatch(text);
            while (matches.hasNext()) {
                const QRegularExpressionMatch match = matches.next();
                setFormat(static_cast<int>(match.capturedStart()),
                          static_cast<int>(match.capturedLength()), format);
            }
        }
    }

private:
    std::vector<std::pair<QRegularExpression, QTextCharFormat>> m_rules;
};

// One measurement: wall-clock time, and the CPU time of this thread (the figure that
// matters on a machine shared with other work, where the wall clock includes waiting).
struct Sample {
    double wall = 0;
    double cpu = 0;
};

struct Figures {
    double wallMedian = 0;
    double wallP95 = 0;
    double cpuMedian = 0;
    double cpuP95 = 0;
};

Figures summarize(const std::vector<Sample>& samples) {
    std::vector<double> wall;
    std::vector<double> cpu;
    for (const Sample& sample : samples) {
        wall.push_back(sample.wall);
        cpu.push_back(sample.cpu);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    const size_t median = samples.size() / 2;
    const size_t p95 = samples.size() * 95 / 100;
    return {wall[median], wall[p95], cpu[median], cpu[p95]};
}

Sample measure(const std::function<void()>& work) {
    QElapsedTimer timer;
    const double cpuStart = threadCpuMilliseconds();
    timer.start();
    work();
    return {static_cast<double>(timer.nsecsElapsed()) / 1e6, threadCpuMilliseconds() - cpuStart};
}

void placeCaretInTheMiddle(QPlainTextEdit& editor) {
    QTextCursor cursor = editor.textCursor();
    const QTextBlock middle = editor.document()->findBlockByNumber(editor.blockCount() / 2);
    cursor.setPosition(middle.position() + middle.length() / 2);
    editor.setTextCursor(cursor);
    editor.centerCursor();
    QApplication::processEvents();
}

void sendKey(QPlainTextEdit& editor, char character) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_A + (character - 'a'), Qt::NoModifier,
                    QString(QChar::fromLatin1(character)));
    QApplication::sendEvent(&editor, &press);
}

// Typing alone (colouring included, painting excluded), then typing and painting.
std::pair<Figures, Figures> measureKeystrokes(QPlainTextEdit& editor, int keys) {
    editor.resize(900, 700);
    editor.show();
    QApplication::processEvents();
    placeCaretInTheMiddle(editor);

    std::vector<Sample> typing;
    std::vector<Sample> typingAndPainting;
    for (int key = 0; key < keys; ++key) {
        const char character = static_cast<char>('a' + key % 26);
        typing.push_back(measure([&] { sendKey(editor, character); }));
        QApplication::processEvents();
    }
    for (int key = 0; key < keys; ++key) {
        const char character = static_cast<char>('a' + key % 26);
        typingAndPainting.push_back(measure([&] {
            sendKey(editor, character);
            // Paint what the keystroke made dirty, now, as the next frame would.
            QApplication::processEvents();
            editor.viewport()->repaint();
        }));
    }
    editor.hide();
    return {summarize(typing), summarize(typingAndPainting)};
}

void print(const char* what, const char* who, Figures figures) {
    std::printf("%-10s %-28s wall median %6.2f p95 %6.2f   cpu median %6.2f p95 %6.2f ms\n", what,
                who, figures.wallMedian, figures.wallP95, figures.cpuMedian, figures.cpuP95);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const int keyCount = qEnvironmentVariableIsSet("VELK_BENCH_KEYS")
                             ? std::max(20, qEnvironmentVariableIntValue("VELK_BENCH_KEYS"))
                             : 200;
    const QString text = generateFile(10000);
    std::printf("file: 10,000 lines, %lld UTF-16 units; %d keystrokes each\n\n",
                static_cast<long long>(text.size()), keyCount);

    const Highlighter engine;
    std::vector<Sample> engineRuns;
    for (int run = 0; run < 30; ++run) {
        engineRuns.push_back(measure([&] { (void)engine.styles(text); }));
    }
    print("engine", "Highlighter::styles", summarize(engineRuns));

    MemoryPreferences preferences;
    Theme theme(false, preferences);
    CodeEditor velk(theme);
    velk.setText(text);
    const auto [velkTyping, velkPainting] = measureKeystrokes(velk, keyCount);

    QPlainTextEdit blockwise;
    blockwise.setPlainText(text);
    BlockHighlighter peer(blockwise.document());
    const auto [peerTyping, peerPainting] = measureKeystrokes(blockwise, keyCount);

    QPlainTextEdit bare;
    bare.setPlainText(text);
    const auto [bareTyping, barePainting] = measureKeystrokes(bare, keyCount);

    std::printf("\n");
    print("keystroke", "CodeEditor (whole text)", velkTyping);
    print("keystroke", "QSyntaxHighlighter (blocks)", peerTyping);
    print("keystroke", "QPlainTextEdit, no colour", bareTyping);
    std::printf("\n");
    print("repaint", "CodeEditor (whole text)", velkPainting);
    print("repaint", "QSyntaxHighlighter (blocks)", peerPainting);
    print("repaint", "QPlainTextEdit, no colour", barePainting);
    return 0;
}
