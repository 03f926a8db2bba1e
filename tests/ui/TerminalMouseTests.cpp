// The terminal view's mouse through the real path: Qt mouse, wheel and focus events into
// the view, bytes out through the pseudo-terminal to real programs, the selection, the
// clipboard and the X11 primary selection. Runs on the X display scripts/test.sh provides,
// where the primary selection exists.
#include "core/assistants/Provider.h"
#include "core/terminal/TerminalScreen.h"
#include "core/terminal/TerminalSession.h"
#include "support/TestSupport.h"
#include "ui/terminal/TerminalView.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QWheelEvent>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testing_support::waitUntil;

namespace {

class TerminalMouseTest : public ::testing::Test {
protected:
    void SetUp() override {
        QObject::connect(&view, &TerminalView::inputSent,
                         [this](const QString& text) { sent.append(text); });
        // 24 × 80, the session's own size, so that painting keeps it.
        view.resize(int(20 + 80.5 * view.cellWidth()), 16 + int(24.5 * view.lineHeight()));
    }
    void TearDown() override {
        if (session) {
            session->stop();
            waitUntil([this] { return !session->running(); }, 5s);
        }
    }

    // Starts `command` in a 24 × 80 session shown by the view.
    void run(const QString& command) {
        session = TerminalSession::create("shell", "test", command,
                                          shellSpawnRequest(command, directory.path()));
        view.setSession(session);
        session->start();
    }
    TerminalScreen& screen() { return session->screen(); }
    QString row(int index) { return screen().rowText(index); }
    void writeLines(const QString& name, int count) {
        QFile file(directory.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        for (int i = 1; i <= count; ++i) {
            file.write(QStringLiteral("line %1 of the file\n").arg(i).toUtf8());
        }
    }

    // The middle of a cell, or a quarter of the way into it (`left`) or three quarters.
    QPointF cell(int row, double column) {
        return {TerminalView::kLeftMargin + view.cellWidth() * (column + 0.5),
                TerminalView::kTopMargin + view.lineHeight() * (row + 0.5)};
    }
    QPointF left(int row, int column) { return cell(row, column - 0.25); }
    QPointF right(int row, int column) { return cell(row, column + 0.25); }
    void mouse(QEvent::Type type, QPointF at, Qt::MouseButton button,
               Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
        QMouseEvent event(type, at, view.mapToGlobal(at), button, held, modifiers);
        QApplication::sendEvent(&view, &event);
    }
    void click(QPointF at, Qt::MouseButton button = Qt::LeftButton,
               Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        mouse(QEvent::MouseButtonPress, at, button, modifiers);
        mouse(QEvent::MouseButtonRelease, at, button, modifiers);
    }
    void drag(QPointF from, QPointF to, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        mouse(QEvent::MouseButtonPress, from, Qt::LeftButton, modifiers);
        mouse(QEvent::MouseMove, to, Qt::LeftButton, modifiers);
        mouse(QEvent::MouseButtonRelease, to, Qt::LeftButton, modifiers);
    }
    void wheel(int angle, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        const QPointF at = cell(2, 2);
        QWheelEvent event(at, view.mapToGlobal(at), QPoint(), QPoint(0, angle), Qt::NoButton,
                          modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&view, &event);
    }
    void key(int key, Qt::KeyboardModifiers modifiers, const QString& text = QString()) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
        QApplication::sendEvent(&view, &event);
    }

    QTemporaryDir directory;
    std::shared_ptr<TerminalSession> session;
    TerminalView view;
    QStringList sent;
};

TEST_F(TerminalMouseTest, aClickMovesTheCursorInVimAndTheWheelScrollsLessOnTheAlternateScreen) {
    writeLines("notes.txt", 100);
    run("exec vim -u NONE -i NONE -c 'set mouse=a' notes.txt");
    ASSERT_TRUE(waitUntil([this] {
        return row(0) == "line 1 of the file" &&
               screen().mouseTracking() != TerminalMouseTracking::None;
    }));
    click(cell(4, 7));
    EXPECT_TRUE(waitUntil([this] { return screen().row() == 4 && screen().column() == 7; }))
        << "cursor at " << screen().row() << ", " << screen().column();
    // A wheel turn is reported to vim too, which scrolls.
    wheel(-120);
    EXPECT_TRUE(waitUntil([this] { return row(0) != "line 1 of the file"; }));
    session->stop();
    waitUntil([this] { return !session->running(); }, 5s);

    sent.clear();
    run("exec less notes.txt");
    ASSERT_TRUE(waitUntil(
        [this] { return row(0) == "line 1 of the file" && screen().alternateScreenActive(); }));
    wheel(-120);  // one notch down: three lines
    EXPECT_TRUE(waitUntil([this] { return row(0) == "line 4 of the file"; }))
        << row(0).toStdString();
    EXPECT_EQ(view.scrollOffset(), 0);
    wheel(120);
    EXPECT_TRUE(waitUntil([this] { return row(0) == "line 1 of the file"; }));
    // With Shift the wheel stays with the view.
    sent.clear();
    wheel(-120, Qt::ShiftModifier);
    EXPECT_TRUE(sent.isEmpty());
}

TEST_F(TerminalMouseTest, reportsGoToTheProgramThatAsksAndShiftKeepsTheMouseForSelecting) {
    run("exec sleep 30");
    screen().feed(QByteArrayView("choose: [yes] [no]"));
    QFocusEvent focusOut(QEvent::FocusOut);
    QApplication::sendEvent(&view, &focusOut);
    EXPECT_TRUE(sent.isEmpty());  // not asked for

    screen().feed(QByteArrayView("\x1b[?1002h\x1b[?1006h\x1b[?1004h"));
    mouse(QEvent::MouseButtonPress, cell(0, 9), Qt::LeftButton);
    mouse(QEvent::MouseMove, cell(0, 9.2), Qt::LeftButton);  // the same cell: not reported
    mouse(QEvent::MouseMove, cell(1, 3), Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, cell(1, 3), Qt::LeftButton);
    click(cell(0, 0), Qt::RightButton, Qt::ControlModifier | Qt::AltModifier);
    wheel(120);
    QApplication::sendEvent(&view, &focusOut);
    QFocusEvent focusIn(QEvent::FocusIn);
    QApplication::sendEvent(&view, &focusIn);
    EXPECT_EQ(sent, (QStringList{"\x1b[<0;10;1M", "\x1b[<32;4;2M", "\x1b[<0;4;2m", "\x1b[<26;1;1M",
                                 "\x1b[<26;1;1m", "\x1b[<64;3;3M", "\x1b[O", "\x1b[I"}));
    EXPECT_TRUE(view.selection().isEmpty());

    // Shift: the view selects, the program hears nothing.
    sent.clear();
    drag(left(0, 8), right(0, 12), Qt::ShiftModifier);
    EXPECT_TRUE(sent.isEmpty());
    QGuiApplication::clipboard()->setText("before");
    key(Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier, "C");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "[yes]");
}

TEST_F(TerminalMouseTest, dragDoubleAndTripleClicksSelectAndTheSelectionIsDrawnAndFollowsOutput) {
    run("exec sleep 30");
    screen().feed(QByteArrayView("git log --oneline\r\nabc1234 Fix the parser\r\n"));
    QGuiApplication::clipboard()->setText("before");
    key(Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier, "C");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "before");  // nothing selected

    drag(left(1, 8), left(1, 10));  // from the left half of F to the left half of the x
    key(Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier, "C");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "Fi");
    click(cell(0, 2));  // a click clears it
    EXPECT_TRUE(view.selection().isEmpty());

    click(cell(0, 12));
    mouse(QEvent::MouseButtonDblClick, cell(0, 12), Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, cell(0, 12), Qt::LeftButton);
    EXPECT_EQ(view.selection().text(screen()), "--oneline");
    click(cell(1, 1), Qt::LeftButton, Qt::ShiftModifier);  // extends by words
    EXPECT_EQ(view.selection().text(screen()), "--oneline\nabc1234");
    click(cell(1, 1));
    mouse(QEvent::MouseButtonDblClick, cell(1, 1), Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, cell(1, 1), Qt::LeftButton);
    click(cell(1, 1));  // the third click
    EXPECT_EQ(view.selection().text(screen()), "abc1234 Fix the parser\n");

    // Drawn in the accent colour over the background, and still there when output scrolls
    // the line into the scrollback.
    view.setAccentColor(QColor(0, 0xE5, 0xD0));
    view.setBackgroundColor(QColor(0x08, 0x13, 0x22));
    const auto pixel = [this](int row, int column) {
        const QImage image = view.grab().toImage();
        return image.pixelColor(cell(row, column).toPoint() + QPoint(0, view.lineHeight() / 3));
    };
    EXPECT_GT(pixel(1, 30).green(), 0x40);  // selected blanks after the text
    EXPECT_LT(pixel(2, 30).green(), 0x20);
    for (int i = 0; i < 30; ++i) {
        screen().feed(QByteArrayView("more output\r\n"));
    }
    key(Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier, "C");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "abc1234 Fix the parser\n");
    // Select all takes the scrollback.
    key(Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier, "A");
    key(Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier, "C");
    EXPECT_TRUE(QGuiApplication::clipboard()->text().startsWith("git log --oneline\nabc1234"));
    EXPECT_TRUE(QGuiApplication::clipboard()->text().endsWith("more output"));
}

TEST_F(TerminalMouseTest, selectingSetsThePrimarySelectionAndTheMiddleButtonPastesIt) {
    if (!QGuiApplication::clipboard()->supportsSelection()) {
        GTEST_SKIP() << "no X11 primary selection on platform "
                     << QGuiApplication::platformName().toStdString()
                     << " (scripts/test.sh runs this on Xvfb)";
    }
    run("printf 'pick the word\\n'; exec cat");
    ASSERT_TRUE(waitUntil([this] { return row(0) == "pick the word"; }));
    click(cell(0, 10));
    mouse(QEvent::MouseButtonDblClick, cell(0, 10), Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, cell(0, 10), Qt::LeftButton);
    EXPECT_TRUE(waitUntil(
        [] { return QGuiApplication::clipboard()->text(QClipboard::Selection) == "word"; }));
    screen().feed(QByteArrayView("\x1b[?2004h"));
    sent.clear();
    click(cell(3, 3), Qt::MiddleButton);
    EXPECT_EQ(sent, QStringList{"\x1b[200~word\x1b[201~"});
    EXPECT_TRUE(waitUntil([this] { return row(1).contains("word"); })) << row(1).toStdString();
}

}  // namespace
