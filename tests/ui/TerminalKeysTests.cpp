// Keys through the whole path: key events into the terminal view, bytes through the
// pseudo-terminal, and real programs (zsh with Debian's settings, less, htop) doing what the
// key means to them.
#include "core/terminal/TerminalScreen.h"
#include "core/terminal/TerminalSession.h"
#include "support/TestSupport.h"
#include "ui/terminal/TerminalView.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testing_support::waitUntil;

namespace {

class TerminalKeysTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (session) {
            session->stop();
            waitUntil([this] { return !session->running(); }, 5s);
        }
    }

    // Starts `arguments` (program first) in `folder` with `environment` in a view.
    void run(const QStringList& arguments, const QStringList& environment = {}) {
        SpawnRequest request;
        request.program = arguments.front();
        request.arguments = arguments;
        request.environment = environment;
        request.directory = folder.path();
        session = TerminalSession::create("shell", "test", arguments.join(' '), request);
        view.setSession(session);
        view.resize(700, 420);
        QObject::connect(&view, &TerminalView::inputSent,
                         [this](const QString& text) { sent.append(text); });
        session->start();
        ASSERT_TRUE(session->running());
    }
    // A shell command that prints "ready" once the terminal is raw, then the next `count`
    // bytes of input in hexadecimal.
    void runKeyEcho(int count, const QString& before = {}) {
        run({"/bin/sh", "-c",
             before + QStringLiteral("stty raw -echo; echo ready; head -c %1 | od -An -tx1; "
                                     "sleep 30")
                          .arg(count)});
        ASSERT_TRUE(showsText("ready"));
    }

    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
               const QString& text = QString()) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
        QApplication::sendEvent(&view, &event);
    }
    void type(const QString& text) {
        for (const QChar character : text) {
            press(character.toUpper().unicode(), Qt::NoModifier, character);
        }
    }
    bool showsText(const QString& text) {
        return waitUntil([&] { return session->screen().plainText().contains(text); }, 20s);
    }
    QString cursorLine() { return session->screen().rowText(session->screen().row()); }

    QTemporaryDir folder;
    std::shared_ptr<TerminalSession> session;
    TerminalView view;
    QStringList sent;
};

TEST_F(TerminalKeysTest, homeAndEndMoveTheCursorInZshWithDebiansSettings) {
    // The interactive shell a new user gets: the system zshrc (which binds Home and End from
    // terminfo and turns application cursor keys on while editing) and the recommended
    // .zshrc, Debian's default for new users.
    ASSERT_TRUE(QFile::copy("/etc/zsh/newuser.zshrc.recommended", folder.filePath(".zshrc")));
    run({"/bin/zsh", "-i"}, {"ZDOTDIR=" + folder.path(), "HOME=" + folder.path()});
    type("echo READY$((40+2))");
    press(Qt::Key_Return, Qt::NoModifier, "\r");
    ASSERT_TRUE(showsText("READY42"));
    // The next prompt is ready for editing once zsh has turned application cursor keys on.
    ASSERT_TRUE(waitUntil([&] { return session->screen().applicationCursor(); }, 20s));

    type("abc");
    press(Qt::Key_Home);
    type("X");
    press(Qt::Key_End);
    type("Y");
    EXPECT_TRUE(waitUntil([&] { return cursorLine().endsWith("XabcY"); }, 20s))
        << cursorLine().toStdString();
}

TEST_F(TerminalKeysTest, homeAndEndJumpToTheEndsOfAFileInLess) {
    QByteArray lines;
    for (int i = 1; i <= 300; ++i) {
        lines += "line " + QByteArray::number(i) + '\n';
    }
    ASSERT_TRUE(testing_support::writeFile(folder.filePath("numbers.txt"), lines));
    run({"/usr/bin/less", "numbers.txt"}, {"LESS=", "LESSHISTFILE=-"});
    ASSERT_TRUE(waitUntil([&] { return session->screen().rowText(0) == "line 1"; }, 20s));

    press(Qt::Key_End);
    EXPECT_TRUE(showsText("line 300"));
    press(Qt::Key_Home);
    EXPECT_TRUE(waitUntil([&] { return session->screen().rowText(0) == "line 1"; }, 20s));
}

TEST_F(TerminalKeysTest, f10QuitsHtop) {
    run({"/usr/bin/htop"});
    ASSERT_TRUE(showsText("Quit"));
    press(Qt::Key_F10);
    EXPECT_TRUE(waitUntil([&] { return !session->running(); }, 20s));
    EXPECT_EQ(session->exitCode(), 0);
}

TEST_F(TerminalKeysTest, shiftTabControlKeysAndFunctionKeysReachAProgramAsXtermSendsThem) {
    runKeyEcho(16);
    press(Qt::Key_Backtab, Qt::ShiftModifier);
    press(Qt::Key_Space, Qt::ControlModifier, " ");
    press(Qt::Key_Slash, Qt::ControlModifier, "/");
    press(Qt::Key_F5);
    press(Qt::Key_Up, Qt::ControlModifier | Qt::ShiftModifier);  // not a window command
    EXPECT_TRUE(showsText("1b 5b 5a 00 1f 1b 5b 31 35 7e 1b 5b 31 3b 36 41"));
}

TEST_F(TerminalKeysTest, shiftEnterIsItsOwnKeyForAProgramThatPushedKittyKeyboardFlags) {
    // What the assistants' command lines do on start: push "disambiguate" (flag 1).
    runKeyEcho(13, QStringLiteral("printf '\\033[>1u'; "));
    ASSERT_TRUE(waitUntil([&] { return session->screen().keyboardFlags() == 1; }, 20s));
    press(Qt::Key_Return, Qt::ShiftModifier, "\r");
    press(Qt::Key_Escape);
    press(Qt::Key_Return, Qt::NoModifier, "\r");
    EXPECT_TRUE(showsText("1b 5b 31 33 3b 32 75 1b 5b 32 37 75 0d"));
}

TEST_F(TerminalKeysTest, shiftPageKeysScrollTheViewAndTheKeypadFollowsItsMode) {
    runKeyEcho(100);
    QByteArray output;
    for (int i = 0; i < 100; ++i) {
        output += "line " + QByteArray::number(i) + "\r\n";
    }
    session->screen().feed(output);
    const int page = session->screen().rows();
    const int history = session->screen().scrollbackSize();
    ASSERT_GT(history, 2 * page);

    press(Qt::Key_PageUp, Qt::ShiftModifier);
    EXPECT_EQ(view.scrollOffset(), page);
    press(Qt::Key_PageUp, Qt::ShiftModifier);
    press(Qt::Key_PageDown, Qt::ShiftModifier);
    EXPECT_EQ(view.scrollOffset(), page);
    press(Qt::Key_Home, Qt::ShiftModifier);
    EXPECT_EQ(view.scrollOffset(), history);
    press(Qt::Key_End, Qt::ShiftModifier);
    EXPECT_EQ(view.scrollOffset(), 0);
    EXPECT_TRUE(sent.isEmpty()) << sent.join(' ').toStdString();

    // Application keypad mode: the keypad's operators and Enter send their own sequences,
    // while a keypad digit shows Num Lock on and types itself.
    press(Qt::Key_Home, Qt::ShiftModifier);
    session->screen().feed(QByteArrayView("\x1b="));
    press(Qt::Key_Plus, Qt::KeypadModifier, "+");
    press(Qt::Key_Enter, Qt::KeypadModifier, "\r");
    press(Qt::Key_5, Qt::KeypadModifier, "5");
    press(Qt::Key_PageUp);
    EXPECT_EQ(sent, (QStringList{"\x1bOk", "\x1bOM", "5", "\x1b[5~"}));
    EXPECT_EQ(view.scrollOffset(), 0);  // typing returns to the live screen
}

}  // namespace
