// The terminal view against a real session and screen: key encoding, clipboard, scrolling,
// the grid fit and what a paint puts on screen.
#include "support/TestSupport.h"
#include "terminal/TerminalScreen.h"
#include "terminal/TerminalSession.h"
#include "terminal/TerminalView.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QImage>
#include <QKeyEvent>
#include <QWheelEvent>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testing_support::waitUntil;

namespace {

const QRgb kBackground = qRgb(0x08, 0x13, 0x22);
const QRgb kDefaultText = qRgb(0xD0, 0xDE, 0xEB);

class TerminalViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        session = TerminalSession::create(QStringLiteral("shell"), QStringLiteral("test"),
                                          QStringLiteral("exec sleep 30"), QDir::tempPath());
        view.setSession(session);
        view.resize(600, 300);
        QObject::connect(&view, &TerminalView::inputSent,
                         [this](const QString& text) { sent.append(text); });
    }
    void TearDown() override {
        if (session->running()) {
            session->stop();
            waitUntil([this] { return !session->running(); }, 5s);
        }
    }

    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
               const QString& text = QString()) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
        QApplication::sendEvent(&view, &event);
    }
    void feed(const char* bytes) { session->screen().feed(QByteArrayView(bytes)); }
    QImage render() { return view.grab().toImage(); }
    // Centre of cell (row, column) in view pixels.
    QPoint cellCentre(int row, int column) const {
        return {int(view.cellWidth() * column + TerminalView::kLeftMargin + view.cellWidth() / 2),
                view.lineHeight() * row + TerminalView::kTopMargin + 3};
    }
    void startSession() {
        session->start();
        ASSERT_TRUE(waitUntil([this] { return session->running(); }, 5s));
    }

    std::shared_ptr<TerminalSession> session;
    TerminalView view;
    QStringList sent;
};

TEST_F(TerminalViewTest, cursorAndEditingKeysFollowTheKeyTableInBothCursorModes) {
    const std::pair<int, const char*> normal[] = {
        {Qt::Key_Up, "\x1b[A"},      {Qt::Key_Down, "\x1b[B"},      {Qt::Key_Right, "\x1b[C"},
        {Qt::Key_Left, "\x1b[D"},    {Qt::Key_Home, "\x1b[H"},      {Qt::Key_End, "\x1b[F"},
        {Qt::Key_PageUp, "\x1b[5~"}, {Qt::Key_PageDown, "\x1b[6~"}, {Qt::Key_Delete, "\x1b[3~"},
        {Qt::Key_Backspace, "\x7f"}, {Qt::Key_Return, "\r"},        {Qt::Key_Enter, "\r"},
        {Qt::Key_Tab, "\t"},         {Qt::Key_Escape, "\x1b"},
    };
    for (const auto& [key, expected] : normal) {
        press(key);
    }
    ASSERT_EQ(sent.size(), int(std::size(normal)));
    for (size_t i = 0; i < std::size(normal); ++i) {
        EXPECT_EQ(sent[int(i)], QString::fromLatin1(normal[i].second)) << i;
    }

    sent.clear();
    feed("\x1b[?1h");  // DECCKM: application cursor keys
    ASSERT_TRUE(session->screen().applicationCursor());
    for (int key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_Right, Qt::Key_Left, Qt::Key_Home}) {
        press(key);
    }
    EXPECT_EQ(sent, (QStringList{"\x1bOA", "\x1bOB", "\x1bOC", "\x1bOD", "\x1b[H"}));
}

TEST_F(TerminalViewTest, altPrefixesEscapeButTheKeyTableWinsAndControlLettersAreControlCodes) {
    press(Qt::Key_B, Qt::AltModifier, QStringLiteral("b"));
    press(Qt::Key_Left, Qt::AltModifier);
    // Some platforms report the plain letter as text for Control+letter.
    press(Qt::Key_C, Qt::ControlModifier, QStringLiteral("c"));
    press(Qt::Key_D, Qt::ControlModifier, QStringLiteral("\x04"));
    press(Qt::Key_BracketLeft, Qt::ControlModifier, QStringLiteral("["));
    press(Qt::Key_X, Qt::ControlModifier | Qt::AltModifier, QStringLiteral("x"));
    press(Qt::Key_A, Qt::NoModifier, QStringLiteral("é"));
    press(Qt::Key_Shift, Qt::ShiftModifier);  // a bare modifier sends nothing
    EXPECT_EQ(sent,
              (QStringList{"\x1b"
                           "b",
                           "\x1b[D", "\x03", "\x04", "\x1b", "\x1b\x18", QStringLiteral("é")}));
}

TEST_F(TerminalViewTest, plainControlLettersAreKeptFromTheWindowShortcuts) {
    QKeyEvent override(QEvent::ShortcutOverride, Qt::Key_C, Qt::ControlModifier,
                       QStringLiteral("\x03"));
    QApplication::sendEvent(&view, &override);
    EXPECT_TRUE(override.isAccepted());
    QKeyEvent command(QEvent::ShortcutOverride, Qt::Key_Q, Qt::ControlModifier | Qt::ShiftModifier);
    command.ignore();
    QApplication::sendEvent(&view, &command);
    EXPECT_FALSE(command.isAccepted());
}

TEST_F(TerminalViewTest, controlShiftLettersRunTheWindowsControlLetterCommands) {
    QWidget window;
    view.setParent(&window);
    auto* newTerminal = new QAction(&window);
    newTerminal->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    int triggered = 0;
    QObject::connect(newTerminal, &QAction::triggered, [&] { ++triggered; });
    press(Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier, QStringLiteral("N"));
    press(Qt::Key_N, Qt::ControlModifier, QStringLiteral("\x0e"));
    EXPECT_EQ(triggered, 1);
    EXPECT_EQ(sent, QStringList{"\x0e"});
    view.setParent(nullptr);
}

TEST_F(TerminalViewTest, pasteIsOneInputAndBracketedOnlyWhenTheProgramAskedForIt) {
    QGuiApplication::clipboard()->setText(QStringLiteral("line one\nline two\r\n"));
    press(Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier, QStringLiteral("V"));
    feed("\x1b[?2004h");
    press(Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier, QStringLiteral("V"));
    EXPECT_EQ(sent,
              (QStringList{"line one\nline two\r\n", "\x1b[200~line one\nline two\r\n\x1b[201~"}));

    sent.clear();
    QGuiApplication::clipboard()->clear();
    view.paste();
    EXPECT_TRUE(sent.isEmpty());
}

TEST_F(TerminalViewTest, copyTakesScrollbackAndScreenAndLeavesTheScrollPosition) {
    for (int i = 0; i < 40; ++i) {
        feed(QStringLiteral("line %1\r\n").arg(i).toLatin1().constData());
    }
    ASSERT_GT(session->screen().scrollbackSize(), 0);
    view.setScrollOffset(5);
    press(Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier, QStringLiteral("C"));
    const QString copied = QGuiApplication::clipboard()->text();
    EXPECT_TRUE(copied.startsWith(QStringLiteral("line 0\n")));
    EXPECT_TRUE(copied.endsWith(QStringLiteral("line 39")));
    EXPECT_EQ(view.scrollOffset(), 5);  // shortcuts do not return to the live screen
    EXPECT_TRUE(sent.isEmpty());

    QGuiApplication::clipboard()->setText(QStringLiteral("old"));
    press(Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier, QStringLiteral("A"));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), copied);

    TerminalView empty;
    empty.copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString());
}

TEST_F(TerminalViewTest, wheelScrollingStopsAtTheOldestLineAndTypingReturnsToLive) {
    for (int i = 0; i < 30; ++i) {
        feed("x\r\n");
    }
    const int history = session->screen().scrollbackSize();
    ASSERT_GT(history, 5);
    auto wheel = [this](int angle) {
        QWheelEvent event(QPointF(50, 50), QPointF(50, 50), QPoint(), QPoint(0, angle),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&view, &event);
    };
    wheel(120);
    EXPECT_EQ(view.scrollOffset(), 3);
    wheel(-240);
    EXPECT_EQ(view.scrollOffset(), 0);
    // Small steps of a fine wheel add up instead of being lost.
    for (int i = 0; i < 4; ++i) {
        wheel(10);
    }
    EXPECT_EQ(view.scrollOffset(), 1);
    for (int i = 0; i < 50; ++i) {
        wheel(120);
    }
    EXPECT_EQ(view.scrollOffset(), history);

    press(Qt::Key_Q, Qt::NoModifier, QStringLiteral("q"));
    EXPECT_EQ(view.scrollOffset(), 0);
    EXPECT_EQ(sent, QStringList{"q"});
}

TEST_F(TerminalViewTest, scrolledBackViewStaysTheSameDistanceAboveNewOutputAndShowsItsLabel) {
    for (int i = 0; i < 60; ++i) {
        feed(QStringLiteral("row %1\r\n").arg(i).toLatin1().constData());
    }
    view.setScrollOffset(4);
    const QImage scrolled = render();
    feed("more\r\nand more\r\n");
    EXPECT_EQ(view.scrollOffset(), 4);
    view.setScrollOffset(10000);
    EXPECT_EQ(view.scrollOffset(), session->screen().scrollbackSize());

    // The label sits at the bottom left in the accent colour.
    bool labelDrawn = false;
    for (int x = 12; x < 120 && !labelDrawn; ++x) {
        for (int y = view.height() - 20; y < view.height() - 6; ++y) {
            const QColor pixel = scrolled.pixelColor(x, y);
            labelDrawn |= pixel.green() > 150 && pixel.red() < 100;  // accent 00E5D0
        }
    }
    EXPECT_TRUE(labelDrawn);
}

TEST(TerminalViewFit, columnsAndRowsFollowTheCellSizeWithAFloorOfTenByThree) {
    EXPECT_EQ(TerminalView::fittedGrid(QSizeF(820, 600), 7.2, 18).width(), 111);
    EXPECT_EQ(TerminalView::fittedGrid(QSizeF(820, 600), 7.2, 18).height(), 32);
    EXPECT_EQ(TerminalView::fittedGrid(QSizeF(30, 20), 7.2, 18), QSize(10, 3));
    EXPECT_EQ(TerminalView::fittedGrid(QSizeF(0, 0), 7.2, 18), QSize(10, 3));
}

TEST_F(TerminalViewTest, everyPaintFitsTheSessionToTheView) {
    EXPECT_EQ(view.lineHeight(), 18);  // ceil(12 × 1.5)
    render();
    const QSize expected = TerminalView::fittedGrid(view.size(), view.cellWidth(), 18);
    EXPECT_EQ(session->screen().columns(), expected.width());
    EXPECT_EQ(session->screen().rows(), expected.height());
    view.resize(40, 30);
    render();
    EXPECT_EQ(session->screen().columns(), 10);
    EXPECT_EQ(session->screen().rows(), 3);
}

TEST_F(TerminalViewTest, inverseCellsFillWithTheTextColourAndDrawInTheBackground) {
    render();  // fit first, so the cells below stay where they are written
    feed("\x1b[7m \x1b[0m \x1b[7;31m \x1b[0m \x1b[44m \x1b[0m");
    const QImage image = render();
    EXPECT_EQ(image.pixel(cellCentre(0, 0)), kDefaultText);
    EXPECT_EQ(image.pixel(cellCentre(0, 1)), kBackground);
    // An inverse cell with a foreground is filled with it; a background colour fills as is.
    const TerminalScreen& screen = session->screen();
    ASSERT_TRUE(screen.cell(0, 2).foreground.has_value());
    EXPECT_EQ(image.pixel(cellCentre(0, 2)) & 0xFFFFFF, screen.cell(0, 2).foreground->rgb());
    ASSERT_TRUE(screen.cell(0, 4).background.has_value());
    EXPECT_EQ(image.pixel(cellCentre(0, 4)) & 0xFFFFFF, screen.cell(0, 4).background->rgb());
    EXPECT_EQ(image.pixel(cellCentre(0, 5)), kBackground);
}

TEST_F(TerminalViewTest, cursorShowsOnlyForARunningLiveVisibleSession) {
    render();
    EXPECT_EQ(render().pixel(cellCentre(0, 0)), kBackground);  // not started: no cursor

    startSession();
    const QRgb withCursor = render().pixel(cellCentre(0, 0));
    EXPECT_NE(withCursor, kBackground);

    feed("\x1b[?25l");
    EXPECT_EQ(render().pixel(cellCentre(0, 0)), kBackground);
    feed("\x1b[?25h");
    for (int i = 0; i < 40; ++i) {
        feed("\r\n");
    }
    const QPoint cursor = cellCentre(session->screen().row(), 0);
    EXPECT_NE(render().pixel(cursor), kBackground);
    view.setScrollOffset(2);
    EXPECT_EQ(render().pixel(cellCentre(session->screen().row() - 2, 0)), kBackground);
    view.setScrollOffset(0);

    session->stop();
    ASSERT_TRUE(waitUntil([this] { return !session->running(); }, 5s));
    EXPECT_EQ(render().pixel(cursor), kBackground);
}

TEST_F(TerminalViewTest, aBurstOfRepaintRequestsCostsOnePaintPerFrame) {
    view.show();
    testing_support::processEventsFor(100ms);
    const quint64 before = view.paintCount();
    for (int i = 0; i < 500; ++i) {
        feed("burst\r\n");
        view.scheduleRepaint();
    }
    testing_support::processEventsFor(std::chrono::milliseconds(view.frameIntervalMs() * 3));
    const quint64 paints = view.paintCount() - before;
    EXPECT_GE(paints, 1u);
    EXPECT_LE(paints, 2u);
}

}  // namespace
