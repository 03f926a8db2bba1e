// The terminal's input beyond single keys: input method composition, the paste path and its
// question, zoom per terminal, and the focus a new terminal takes in the main window.
#include "UiFixture.h"
#include "core/terminal/TerminalScreen.h"
#include "core/terminal/TerminalSession.h"
#include "support/TestSupport.h"
#include "ui/kit/Switch.h"
#include "ui/settings/SettingsPage.h"
#include "ui/terminal/TerminalView.h"
#include "ui/window/MainWindow.h"
#include "ui/workspace/Composer.h"
#include "ui/workspace/SessionDeck.h"
#include "ui/workspace/TerminalPane.h"
#include "ui/workspace/WorkspacePage.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QInputMethod>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testing_support::waitUntil;

namespace {

const Qt::KeyboardModifiers kControlShift = Qt::ControlModifier | Qt::ShiftModifier;

std::shared_ptr<TerminalSession> idleSession() {
    return TerminalSession::create("shell", "test", "exec sleep 30",
                                   shellSpawnRequest("exec sleep 30", QDir::tempPath()));
}

void press(QWidget* target, int key, Qt::KeyboardModifiers modifiers, const QString& text = {}) {
    QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(target, &event);
}

// Whether the view claims the key before the window's shortcuts see it.
bool claims(QWidget* view, int key, Qt::KeyboardModifiers modifiers) {
    QKeyEvent event(QEvent::ShortcutOverride, key, modifiers);
    event.ignore();
    QApplication::sendEvent(view, &event);
    return event.isAccepted();
}

class TerminalInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        view->setSession(session);
        layout->addWidget(view);
        window.resize(600, 300);
        QObject::connect(view, &TerminalView::inputSent,
                         [this](const QString& text) { sent.append(text); });
    }
    void TearDown() override {
        session->stop();
        waitUntil([this] { return !session->running(); }, 5s);
    }
    void feed(const QByteArray& bytes) { session->screen().feed(QByteArrayView(bytes)); }
    void pasteClipboard(const QString& text) {
        QGuiApplication::clipboard()->setText(text);
        press(view, Qt::Key_V, kControlShift, "V");
    }

    // Running, so that the tty echoes what the program is sent.
    std::shared_ptr<TerminalSession> session = [] {
        auto session = idleSession();
        session->start();
        return session;
    }();
    QWidget window;
    QVBoxLayout* layout = new QVBoxLayout(&window);
    TerminalView* view = new TerminalView;
    QStringList sent;
};

TEST_F(TerminalInputTest, composedTextShowsAtTheCursorUntilCommittedAndTheInputMethodFollowsIt) {
    window.show();
    window.activateWindow();
    view->setFocus();
    ASSERT_TRUE(waitUntil([&] { return view->hasFocus(); }));
    // Asked as the desktop's input method asks the focused widget.
    const auto ask = [](Qt::InputMethodQuery query) {
        return QInputMethod::queryFocusObject(query, QVariant());
    };
    EXPECT_TRUE(ask(Qt::ImEnabled).toBool());
    EXPECT_EQ(ask(Qt::ImSurroundingText), QVariant(QString()));
    const auto cursorRect = [&] { return ask(Qt::ImCursorRectangle).toRect(); };
    const QRect home = cursorRect();
    EXPECT_EQ(home.topLeft(), QPoint(TerminalView::kLeftMargin, TerminalView::kTopMargin));
    EXPECT_EQ(home.height(), view->lineHeight());

    // Preedit: drawn underlined over the cells from the cursor on, nothing sent.
    const QImage before = view->grab().toImage();
    QInputMethodEvent compose("ni", {{QInputMethodEvent::Cursor, 2, 1, {}}});
    QApplication::sendEvent(view, &compose);
    EXPECT_TRUE(sent.isEmpty());
    EXPECT_EQ(view->preeditText(), "ni");
    const QImage composing = view->grab().toImage();
    const int second = home.left() + int(view->cellWidth() * 1.5);
    bool drawn = false;
    for (int y = home.top(); y < home.bottom(); ++y) {
        drawn = drawn || composing.pixel(second, y) != before.pixel(second, y);
    }
    EXPECT_TRUE(drawn) << "the second composed character is not on screen";

    // Commit: the text goes to the program once, the preedit is gone, and the tty's echo
    // shows the program got it as UTF-8.
    QInputMethodEvent commit;
    commit.setCommitString(QString::fromUtf8("你好"));
    QApplication::sendEvent(view, &commit);
    EXPECT_EQ(sent, QStringList{QString::fromUtf8("你好")});
    EXPECT_EQ(view->preeditText(), QString());
    ASSERT_TRUE(waitUntil(
        [&] { return session->screen().plainText().contains(QString::fromUtf8("你好")); }));

    // The echo moved the cursor four cells on; each paint after the cursor moved tells the
    // input method where it went.
    EXPECT_EQ(cursorRect().left(),
              TerminalView::kLeftMargin + int(std::lround(view->cellWidth() * 4)));
    view->grab();
    int moved = 0;
    QObject::connect(QGuiApplication::inputMethod(), &QInputMethod::cursorRectangleChanged, view,
                     [&] { ++moved; });
    feed("\r\n");
    view->grab();
    view->grab();  // an unmoved cursor is not reported again
    EXPECT_EQ(moved, 1);
    EXPECT_EQ(cursorRect().topLeft(),
              QPoint(TerminalView::kLeftMargin, TerminalView::kTopMargin + view->lineHeight()));
}

TEST_F(TerminalInputTest, severalLinesAskFirstOnlyWithoutBracketedPasteAndTheSettingTurnsItOff) {
    ScriptedDialogs dialogs;
    PasteSafety safety(nullptr, dialogs);
    view->setPasteConfirmer([&safety](const QString& text) { return safety.confirm(text); });

    pasteClipboard("one line");
    const QString lines = "echo 1\r\necho 2\necho 3\n";
    dialogs.answerAlert("Cancel");
    pasteClipboard(lines);
    EXPECT_EQ(sent, QStringList{"one line"}) << "Cancel sends nothing";
    ASSERT_EQ(dialogs.alerts().size(), 1u);
    const Dialogs::Alert& asked = dialogs.alerts().front();
    EXPECT_EQ(asked.message, "Paste 3 lines?");
    EXPECT_TRUE(asked.informativeText.endsWith("\n\necho 1\necho 2\necho 3"))
        << asked.informativeText.toStdString();
    EXPECT_EQ(asked.buttons, (QStringList{"Paste", "Cancel"}));
    dialogs.answerAlert("Paste");
    pasteClipboard(lines);
    EXPECT_EQ(sent.last(), "echo 1\recho 2\recho 3\r");

    // A program that asked for bracketed paste sees the whole paste as one; nothing is asked.
    feed("\x1b[?2004h");
    pasteClipboard(lines);
    EXPECT_EQ(sent.last(), "\x1b[200~echo 1\recho 2\recho 3\r\x1b[201~");
    feed("\x1b[?2004l");
    safety.setEnabled(false);
    pasteClipboard(lines);
    EXPECT_EQ(sent.last(), "echo 1\recho 2\recho 3\r");
    EXPECT_EQ(dialogs.alerts().size(), 2u);

    // The setting is on until turned off, and stays off.
    MemoryPreferences store;
    EXPECT_TRUE(PasteSafety(&store, dialogs).enabled());
    PasteSafety(&store, dialogs).setEnabled(false);
    EXPECT_FALSE(PasteSafety(&store, dialogs).enabled());
}

TEST_F(TerminalInputTest, aBracketedPasteCannotBeEndedEarlyByTheTextInsideIt) {
    const std::pair<const char*, const char*> bracketed[] = {
        {"a\x1b[201~rm -rf x\n", "arm -rf x\r"},
        {"\x1b[200~nested\x1b[201~", "nested"},
        {"joined \x1b[20\x1b[201~1~ too", "joined  too"},
        {"eight-bit \u009b201~end", "eight-bit end"},
        {"tab\tand \x1b[A kept", "tab\tand \x1b[A kept"},
    };
    for (const auto& [text, body] : bracketed) {
        EXPECT_EQ(TerminalView::pasteInput(text, true),
                  QStringLiteral("\x1b[200~") + body + QStringLiteral("\x1b[201~"))
            << text;
    }
    EXPECT_EQ(TerminalView::pasteInput("a\r\nb\nc\r", false), "a\rb\rc\r");

    // Through the view: one bracket, and nothing after the program's end marker.
    feed("\x1b[?2004h");
    pasteClipboard("a\x1b[201~rm -rf x\n");
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent.front(), "\x1b[200~arm -rf x\r\x1b[201~");
}

TEST(TerminalZoom, zoomKeysScaleOneTerminalAroundTheThemesSizeWithinTheLimits) {
    MemoryPreferences preferences;
    Theme theme(false, preferences);
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* zoomed = new NativeTerminal(idleSession(), theme);
    auto* other = new NativeTerminal(idleSession(), theme);
    layout->addWidget(zoomed);
    layout->addWidget(other);
    TerminalView* view = zoomed->view();
    QStringList sent;
    QObject::connect(view, &TerminalView::inputSent, [&](const QString& text) { sent << text; });
    const double base = theme.fontSize();

    // The zoom keys are the view's, ahead of the window's shortcuts and never the program's.
    EXPECT_TRUE(claims(view, Qt::Key_Equal, Qt::ControlModifier));
    EXPECT_TRUE(claims(view, Qt::Key_Plus, kControlShift));
    const std::tuple<int, Qt::KeyboardModifiers, double> keys[] = {
        {Qt::Key_Equal, Qt::ControlModifier, base * 1.2},
        {Qt::Key_Plus, kControlShift, base * 1.44},
        {Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier, base * 1.728},
        {Qt::Key_Minus, Qt::ControlModifier, base * 1.44},
        {Qt::Key_0, Qt::ControlModifier, base},
        {Qt::Key_Minus, Qt::ControlModifier, base / 1.2},
    };
    for (const auto& [key, modifiers, size] : keys) {
        press(view, key, modifiers);
        EXPECT_DOUBLE_EQ(view->fontSize(), size) << key;
    }
    EXPECT_TRUE(sent.isEmpty());
    EXPECT_DOUBLE_EQ(other->view()->fontSize(), base);

    // A new theme size is the new base; the zoomed terminal keeps its step.
    view->zoomBy(2);
    theme.setFontSize(15);
    EXPECT_DOUBLE_EQ(view->fontSize(), 15 * 1.2);
    EXPECT_DOUBLE_EQ(other->view()->fontSize(), 15);
    view->zoomBy(100);
    EXPECT_DOUBLE_EQ(view->fontSize(), TerminalView::kMaximumFontSize);
    view->zoomBy(-100);
    EXPECT_DOUBLE_EQ(view->fontSize(), TerminalView::kMinimumFontSize);
    const int smallest = view->zoomStep();
    view->zoomBy(-1);
    EXPECT_EQ(view->zoomStep(), smallest) << "steps past the limit would have to be undone";
    press(view, Qt::Key_0, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(view->fontSize(), 15);
}

TEST(TerminalInWindow, aStartedTerminalTakesTheFocusAndControlShiftQStillQuitsFromIt) {
    UiFixture fixture;
    QTemporaryDir folder;
    MainWindow window(fixture.workspace, fixture.navigator, fixture.theme);
    // The application's quit command, as its menu installs it.
    auto* quit = new QAction(&window);
    quit->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Q), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Q)});
    int quits = 0;
    QObject::connect(quit, &QAction::triggered, [&] { ++quits; });
    window.addAction(quit);
    window.resize(1200, 800);
    auto* page = static_cast<WorkspacePage*>(window.page(Destination::Workspace));
    const auto start = [&] {
        const SessionPointer session = fixture.workspace.sessions.startSession(
            "shell", "test", "exec sleep 30", folder.path());
        return page->deck()->paneFor(session->id())->terminal()->view();
    };
    // Started while the window is hidden: the terminal takes the focus when it shows.
    TerminalView* first = start();
    EXPECT_NE(window.focusWidget(), first);
    window.show();
    EXPECT_EQ(window.focusWidget(), first);
    page->composer()->editor()->setFocus();
    TerminalView* view = start();
    EXPECT_EQ(window.focusWidget(), view) << "the first keys would go to the task box";
    QStringList sent;
    QObject::connect(view, &TerminalView::inputSent, [&](const QString& text) { sent << text; });

    // Control+Q is the program's (XON); Control+Shift+Q is the window's quit.
    EXPECT_TRUE(claims(view, Qt::Key_Q, Qt::ControlModifier));
    press(view, Qt::Key_Q, Qt::ControlModifier, "\x11");
    EXPECT_EQ(sent, QStringList{"\x11"});
    EXPECT_EQ(quits, 0);
    EXPECT_FALSE(claims(view, Qt::Key_Q, kControlShift));
    press(view, Qt::Key_Q, kControlShift, "Q");
    EXPECT_EQ(quits, 1);

    // The terminal asks the workspace's paste question, which Settings turns off.
    fixture.dialogs.answerAlert("Cancel");
    QGuiApplication::clipboard()->setText("make\nmake install\n");
    press(view, Qt::Key_V, kControlShift, "V");
    ASSERT_EQ(fixture.dialogs.alerts().size(), 1u);
    EXPECT_EQ(fixture.dialogs.alerts().front().message, "Paste 2 lines?");
    EXPECT_EQ(sent.size(), 1);
    fixture.navigator.setDestination(Destination::Settings);
    auto* settings = static_cast<SettingsPage*>(window.page(Destination::Settings));
    EXPECT_TRUE(settings->pasteSafetySwitch()->isChecked());
    settings->pasteSafetySwitch()->click();
    EXPECT_FALSE(fixture.workspace.pasteSafety.enabled());
    press(view, Qt::Key_V, kControlShift, "V");
    EXPECT_EQ(sent.last(), "make\rmake install\r");

    fixture.workspace.sessions.stopAll();
    waitUntil([&] { return !fixture.workspace.sessions.anyRunning(); }, 5s);
}

}  // namespace
