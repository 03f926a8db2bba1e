// The terminal view against a real session and screen: key encoding, clipboard, scrolling,
// the grid fit and what a paint puts on screen.
#include "core/appearance/Theme.h"
#include "core/assistants/Provider.h"
#include "core/services/Preferences.h"
#include "core/terminal/TerminalScreen.h"
#include "core/terminal/TerminalSession.h"
#include "support/FakeServices.h"
#include "support/TestSupport.h"
#include "ui/terminal/TerminalView.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSet>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testing_support::waitUntil;

namespace {

const QRgb kBackground = qRgb(0x08, 0x13, 0x22);
const QRgb kDefaultText = qRgb(0xD0, 0xDE, 0xEB);
const Qt::KeyboardModifiers kControlShift = Qt::ControlModifier | Qt::ShiftModifier;

class TerminalViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        view.setSession(session);
        view.resize(600, 300);
        QObject::connect(&view, &TerminalView::inputSent,
                         [this](const QString& text) { sent.append(text); });
    }
    void TearDown() override {
        session->stop();
        waitUntil([this] { return !session->running(); }, 5s);
    }

    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
               const QString& text = QString()) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
        QApplication::sendEvent(&view, &event);
    }
    void feed(const QString& text) { session->screen().feed(QByteArrayView(text.toUtf8())); }
    // The colour painted at the centre of cell (row, column).
    QRgb pixelAt(int row, int column) {
        return view.grab().toImage().pixel(
            int(view.cellWidth() * (column + 0.5)) + TerminalView::kLeftMargin,
            view.lineHeight() * row + TerminalView::kTopMargin + 3);
    }

    std::shared_ptr<TerminalSession> session = TerminalSession::create(
        "shell", "test", "exec sleep 30", shellSpawnRequest("exec sleep 30", QDir::tempPath()));
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
    QStringList expected;
    for (const auto& [key, bytes] : normal) {
        press(key);
        expected.append(QString::fromLatin1(bytes));
    }
    EXPECT_EQ(sent, expected);

    sent.clear();
    feed("\x1b[?1h");  // DECCKM: application cursor keys
    for (int key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_Right, Qt::Key_Left, Qt::Key_Home}) {
        press(key);
    }
    EXPECT_EQ(sent, (QStringList{"\x1bOA", "\x1bOB", "\x1bOC", "\x1bOD", "\x1bOH"}));
}

TEST_F(TerminalViewTest, altPrefixesEscapeButTheKeyTableWinsAndControlLettersAreControlCodes) {
    press(Qt::Key_B, Qt::AltModifier, "b");
    press(Qt::Key_Left, Qt::AltModifier);
    // Some platforms report the plain letter as text for Control+letter.
    press(Qt::Key_C, Qt::ControlModifier, "c");
    press(Qt::Key_D, Qt::ControlModifier, "\x04");
    press(Qt::Key_BracketLeft, Qt::ControlModifier, "[");
    press(Qt::Key_X, Qt::ControlModifier | Qt::AltModifier, "x");
    press(Qt::Key_A, Qt::NoModifier, "é");
    press(Qt::Key_Shift, Qt::ShiftModifier);  // a bare modifier sends nothing
    EXPECT_EQ(sent, (QStringList{"\033b", "\x1b[1;3D", "\x03", "\x04", "\x1b", "\x1b\x18", "é"}));
}

TEST_F(TerminalViewTest, controlLettersReachTheProgramAndControlShiftLettersRunWindowCommands) {
    QWidget window;
    view.setParent(&window);
    auto* newTerminal = new QAction(&window);
    newTerminal->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    int triggered = 0;
    QObject::connect(newTerminal, &QAction::triggered, [&] { ++triggered; });
    // The view claims plain Control letters before the window's shortcuts see them.
    QKeyEvent controlC(QEvent::ShortcutOverride, Qt::Key_C, Qt::ControlModifier, "\x03");
    QApplication::sendEvent(&view, &controlC);
    EXPECT_TRUE(controlC.isAccepted());
    QKeyEvent controlShiftQ(QEvent::ShortcutOverride, Qt::Key_Q, kControlShift);
    controlShiftQ.ignore();
    QApplication::sendEvent(&view, &controlShiftQ);
    EXPECT_FALSE(controlShiftQ.isAccepted());

    press(Qt::Key_N, kControlShift, "N");
    press(Qt::Key_N, Qt::ControlModifier, "\x0e");
    EXPECT_EQ(triggered, 1);
    EXPECT_EQ(sent, QStringList{"\x0e"});
    view.setParent(nullptr);
}

TEST_F(TerminalViewTest, pasteIsOneInputBracketedWhenAskedForAndCopyTakesTheSelection) {
    QGuiApplication::clipboard()->setText("line one\nline two\r\n");
    press(Qt::Key_V, kControlShift, "V");
    feed("\x1b[?2004h");
    press(Qt::Key_V, kControlShift, "V");
    // Line breaks go as the CR that Enter sends.
    EXPECT_EQ(sent,
              (QStringList{"line one\rline two\r", "\x1b[200~line one\rline two\r\x1b[201~"}));
    sent.clear();
    QGuiApplication::clipboard()->clear();
    view.paste();
    EXPECT_TRUE(sent.isEmpty());

    for (int i = 0; i < 40; ++i) {
        feed(QStringLiteral("line %1\r\n").arg(i));
    }
    view.setScrollOffset(5);
    QGuiApplication::clipboard()->setText("old");
    press(Qt::Key_C, kControlShift, "C");  // nothing selected: the clipboard stays
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "old");
    press(Qt::Key_A, kControlShift, "A");
    press(Qt::Key_C, kControlShift, "C");
    const QString copied = QGuiApplication::clipboard()->text();
    EXPECT_TRUE(copied.startsWith("line 0\n"));
    EXPECT_TRUE(copied.endsWith("line 39"));
    EXPECT_EQ(view.scrollOffset(), 5);  // shortcuts do not return to the live screen
    EXPECT_TRUE(sent.isEmpty());
    view.copyOutput();  // the context menu's whole output
    EXPECT_EQ(QGuiApplication::clipboard()->text(), copied);

    TerminalView empty;
    empty.copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), copied);
    empty.copyOutput();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString());
}

TEST_F(TerminalViewTest, wheelScrollingStopsAtTheOldestLineStaysAboveNewOutputAndTypingReturns) {
    feed(QStringLiteral("x\r\n").repeated(30));
    ASSERT_GT(session->screen().scrollbackSize(), 5);
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

    // A scrolled-back view stays the same distance above new output, under its label: at
    // the bottom left, in the accent colour (00E5D0).
    const QImage scrolled = view.grab().toImage();
    feed("more\r\nand more\r\n");
    EXPECT_EQ(view.scrollOffset(), 1);
    bool labelDrawn = false;
    for (int x = 12; x < 120; ++x) {
        for (int y = view.height() - 20; y < view.height() - 6; ++y) {
            labelDrawn |=
                scrolled.pixelColor(x, y).green() > 150 && scrolled.pixelColor(x, y).red() < 100;
        }
    }
    EXPECT_TRUE(labelDrawn);
    for (int i = 0; i < 50; ++i) {
        wheel(120);
    }
    EXPECT_EQ(view.scrollOffset(), session->screen().scrollbackSize());
    view.setScrollOffset(10000);
    EXPECT_EQ(view.scrollOffset(), session->screen().scrollbackSize());

    press(Qt::Key_Q, Qt::NoModifier, "q");
    EXPECT_EQ(view.scrollOffset(), 0);
    EXPECT_EQ(sent, QStringList{"q"});
}

TEST_F(TerminalViewTest, everyPaintFitsTheSessionWithAFloorOfTenByThreeAndInverseCellsSwapColours) {
    EXPECT_EQ(TerminalView::fittedGrid(QSizeF(820, 600), 7.2, 18), QSize(111, 32));
    EXPECT_EQ(TerminalView::fittedGrid(QSizeF(30, 20), 7.2, 18), QSize(10, 3));
    EXPECT_EQ(TerminalView::fittedGrid(QSizeF(0, 0), 7.2, 18), QSize(10, 3));

    EXPECT_EQ(view.lineHeight(), 18);  // ceil(12 × 1.5)
    view.grab();
    const QSize expected = TerminalView::fittedGrid(view.size(), view.cellWidth(), 18);
    EXPECT_EQ(QSize(session->screen().columns(), session->screen().rows()), expected);

    // Inverse cells fill with the text colour and draw in the background.
    feed("\x1b[7m \x1b[0m \x1b[7;31m \x1b[0m \x1b[44m \x1b[0m");
    EXPECT_EQ(pixelAt(0, 0), kDefaultText);
    EXPECT_EQ(pixelAt(0, 1), kBackground);
    // An inverse cell with a foreground is filled with it; a background colour fills as is.
    const TerminalScreen& screen = session->screen();
    ASSERT_TRUE(screen.cell(0, 2).foreground.has_value());
    EXPECT_EQ(pixelAt(0, 2) & 0xFFFFFF, screen.cell(0, 2).foreground->rgb());
    ASSERT_TRUE(screen.cell(0, 4).background.has_value());
    EXPECT_EQ(pixelAt(0, 4) & 0xFFFFFF, screen.cell(0, 4).background->rgb());
    EXPECT_EQ(pixelAt(0, 5), kBackground);

    view.resize(40, 30);
    view.grab();
    EXPECT_EQ(QSize(session->screen().columns(), session->screen().rows()), QSize(10, 3));
}

TEST_F(TerminalViewTest, linesUnderThroughAndOverCellsDrawInTheirColoursAndConcealHidesThem) {
    // Spaces carry no glyph, so every pixel that is not background comes from a line.
    feed(
        "\x1b[4m \x1b[0;4;58;2;255;0;0m \x1b[0;9m \x1b[0;53m \x1b[0;4:3m \x1b[0;8;4;9m "
        "\x1b[0m \x1b[0;2;4m ");
    view.grab();
    const QImage image = view.grab().toImage();
    // The colours down the middle of cell (0, column), background left out.
    auto coloursIn = [&](int column) {
        QSet<QRgb> colours;
        const int x = int(view.cellWidth() * (column + 0.5)) + TerminalView::kLeftMargin;
        for (int y = TerminalView::kTopMargin; y < TerminalView::kTopMargin + view.lineHeight();
             ++y) {
            if (image.pixel(x, y) != kBackground) {
                colours.insert(image.pixel(x, y));
            }
        }
        return colours;
    };
    EXPECT_EQ(coloursIn(0), QSet<QRgb>{kDefaultText});
    EXPECT_EQ(coloursIn(1), QSet<QRgb>{qRgb(255, 0, 0)});
    EXPECT_EQ(coloursIn(2), QSet<QRgb>{kDefaultText});
    EXPECT_EQ(coloursIn(3), QSet<QRgb>{kDefaultText});
    EXPECT_FALSE(coloursIn(4).isEmpty());  // the curly line, antialiased
    EXPECT_TRUE(coloursIn(5).isEmpty());
    EXPECT_TRUE(coloursIn(6).isEmpty());
    // Dim lines are drawn halfway from the text colour to the background.
    EXPECT_EQ(coloursIn(7), QSet<QRgb>{qRgb(0x6C, 0x78, 0x86)});
}

TEST_F(TerminalViewTest, cursorShowsOnlyForARunningLiveVisibleSession) {
    view.grab();
    EXPECT_EQ(pixelAt(0, 0), kBackground);  // not started: no cursor

    session->start();
    ASSERT_TRUE(waitUntil([this] { return session->running(); }, 5s));
    EXPECT_NE(pixelAt(0, 0), kBackground);
    feed("\x1b[?25l");
    EXPECT_EQ(pixelAt(0, 0), kBackground);
    feed("\x1b[?25h" + QStringLiteral("\r\n").repeated(40));
    const int row = session->screen().row();
    EXPECT_NE(pixelAt(row, 0), kBackground);
    view.setScrollOffset(2);
    EXPECT_EQ(pixelAt(row - 2, 0), kBackground);
    view.setScrollOffset(0);

    session->stop();
    ASSERT_TRUE(waitUntil([this] { return !session->running(); }, 5s));
    EXPECT_EQ(pixelAt(row, 0), kBackground);
}

TEST_F(TerminalViewTest, blinkingTextHidesEveryOtherHalfSecondOnlyWhileAnimatedAndShown) {
    // The colours inside cell (0, column), background left out.
    auto coloursIn = [this](int column) {
        const QImage image = view.grab().toImage();
        QSet<QRgb> colours;
        const int left = int(view.cellWidth() * column) + TerminalView::kLeftMargin;
        for (int x = left + 1; x < left + int(view.cellWidth()) - 1; ++x) {
            for (int y = TerminalView::kTopMargin + 1;
                 y < TerminalView::kTopMargin + view.lineHeight() - 1; ++y) {
                if (image.pixel(x, y) != kBackground) {
                    colours.insert(image.pixel(x, y));
                }
            }
        }
        return colours;
    };
    view.grab();
    EXPECT_FALSE(view.blinkRunning());  // nothing blinks: no timer

    // A blinking underlined B on red, then a steady underlined S on red.
    feed("\x1b[5;4;41mB\x1b[25mS\x1b[0m");
    ASSERT_TRUE(session->screen().cell(0, 0).background.has_value());
    const QRgb red = 0xFF000000u | session->screen().cell(0, 0).background->rgb();
    const QSet<QRgb> steady = coloursIn(1);
    EXPECT_GT(coloursIn(0).size(), 1);
    EXPECT_TRUE(view.blinkRunning());
    EXPECT_FALSE(view.blinkHidden());

    // Half a period later the text and its underline are gone; the fill stays.
    ASSERT_TRUE(waitUntil([this] { return view.blinkHidden(); }, 5s));
    EXPECT_EQ(coloursIn(0), QSet<QRgb>{red});
    EXPECT_EQ(coloursIn(1), steady);

    // Without animations blinking text is drawn steady and no timer runs.
    view.setBlinkAnimated(false);
    EXPECT_FALSE(view.blinkRunning());
    EXPECT_FALSE(view.blinkHidden());
    EXPECT_GT(coloursIn(0).size(), 1);
    view.setBlinkAnimated(true);
    view.grab();
    EXPECT_TRUE(view.blinkRunning());

    // Once nothing shown blinks, the timer stops.
    feed("\x1b[2J");
    view.grab();
    EXPECT_FALSE(view.blinkRunning());
}

TEST_F(TerminalViewTest, cursorTakesTheShapeTheProgramAsksFor) {
    session->start();
    ASSERT_TRUE(waitUntil([this] { return session->running(); }, 5s));
    // pixelAt() reads near the top of the cell, half way across; the bottom and left edges.
    auto bottomOf = [this](int column) {
        return view.grab().toImage().pixel(
            int(view.cellWidth() * (column + 0.5)) + TerminalView::kLeftMargin,
            view.lineHeight() + TerminalView::kTopMargin - 1);
    };
    auto leftOf = [this](int column) {
        return view.grab().toImage().pixel(
            int(view.cellWidth() * column) + TerminalView::kLeftMargin,
            TerminalView::kTopMargin + 3);
    };
    feed("\x1b[H");
    EXPECT_NE(pixelAt(0, 0), kBackground);
    feed("\x1b[4 q");
    EXPECT_EQ(pixelAt(0, 0), kBackground);
    EXPECT_NE(bottomOf(0), kBackground);
    feed("\x1b[6 q");
    EXPECT_EQ(pixelAt(0, 0), kBackground);
    EXPECT_EQ(bottomOf(0), kBackground);
    EXPECT_NE(leftOf(0), kBackground);
}

TEST_F(TerminalViewTest, aBlinkingCursorBlinksWhileTheViewHasTheFocusAndTypingShowsIt) {
    if (QApplication::cursorFlashTime() <= 0) {
        GTEST_SKIP() << "the desktop does not let cursors blink";
    }
    session->start();
    ASSERT_TRUE(waitUntil([this] { return session->running(); }, 5s));
    view.show();
    view.activateWindow();
    view.setFocus();
    ASSERT_TRUE(waitUntil([this] { return view.hasFocus(); }, 5s));
    feed("\x1b[H\x1b[5 q");  // a blinking bar
    view.update();
    auto barShows = [this] {
        return view.grab().toImage().pixel(TerminalView::kLeftMargin,
                                           TerminalView::kTopMargin + 3) != kBackground;
    };
    EXPECT_TRUE(waitUntil([&] { return !barShows(); }, 5s));
    EXPECT_TRUE(waitUntil(barShows, 5s));
    EXPECT_TRUE(waitUntil([&] { return !barShows(); }, 5s));
    press(Qt::Key_Shift, Qt::ShiftModifier);  // sends nothing, but is typing
    EXPECT_TRUE(barShows());
    // Steady again: it stays through what would be a whole blink.
    feed("\x1b[6 q");
    view.update();
    EXPECT_FALSE(waitUntil([&] { return !barShows(); },
                           std::chrono::milliseconds(QApplication::cursorFlashTime())));
}

TEST_F(TerminalViewTest, anOpenUpdateHoldsOutputRepaintsUntilItClosesOrHasBeenOpenTooLong) {
    // The view times open updates on this clock, which moves only when the test says so;
    // the real waits below only give timers the chance to fire.
    qint64 now = 0;
    view.setClock([&now] { return now; });
    view.show();
    testing_support::processEventsFor(100ms);
    auto output = [this](const char* bytes) {
        feed(QString::fromLatin1(bytes));
        view.scheduleRepaint();
    };
    quint64 before = view.paintCount();
    auto painted = [&] { return waitUntil([&] { return view.paintCount() > before; }, 5s); };

    // An update opened and closed within the output paints at the next frame.
    output("\x1b[?2026hone\x1b[?2026l");
    EXPECT_TRUE(painted());

    // Left open, it holds every repaint, however long that really takes...
    before = view.paintCount();
    output("\x1b[?2026htwo");
    now = 100;
    output("three");
    testing_support::processEventsFor(400ms);
    EXPECT_EQ(view.paintCount(), before);
    EXPECT_TRUE(session->screen().updateOpen());
    // ...until the cap has passed on the view's clock: then the view ends it and paints.
    now = TerminalView::kUpdateOpenCapMs;
    EXPECT_TRUE(painted());
    EXPECT_FALSE(session->screen().updateOpen());
    // Output after that paints at the frame rate again.
    before = view.paintCount();
    output("four");
    EXPECT_TRUE(painted());

    // Closing an update paints without waiting for the cap.
    now = 1000;
    before = view.paintCount();
    output("\x1b[?2026hfive");
    testing_support::processEventsFor(200ms);
    EXPECT_EQ(view.paintCount(), before);
    output("\x1b[?2026l");
    EXPECT_TRUE(painted());
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

TEST(NativeTerminalClipboard, onlyTheFocusedSessionsAllowedWritesReachTheClipboard) {
    MemoryPreferences preferences;
    Theme theme(false, preferences);
    auto session = [] {
        return TerminalSession::create("shell", "test", "true",
                                       shellSpawnRequest("true", QDir::tempPath()));
    };
    const auto focused = session();
    const auto other = session();
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* terminal = new NativeTerminal(focused, theme);
    layout->addWidget(terminal);
    layout->addWidget(new NativeTerminal(other, theme));
    window.resize(400, 400);
    window.show();
    window.activateWindow();
    terminal->setFocus();
    QApplication::processEvents();
    ASSERT_TRUE(terminal->view()->hasFocus());

    auto copy = [](TerminalSession& from, const QByteArray& text) {
        from.screen().feed(QByteArrayView("\x1b]52;c;" + text.toBase64() + "\a"));
    };
    QGuiApplication::clipboard()->setText("before");
    copy(*focused, "not allowed");
    focused->setClipboardWritesAllowed(true);
    other->setClipboardWritesAllowed(true);
    copy(*other, "from the other pane");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "before");
    copy(*focused, "copied");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "copied");
}

}  // namespace

TEST_F(TerminalViewTest, hoveringALinkUnderlinesAllItsCellsAndControlClickOpensOnlySafeSchemes) {
    testing_support::FakeDesktop desktop;
    view.setDesktopServices(&desktop);
    // Linked spaces: every pixel that is not background is an underline. Cells 0-1 and 6-7
    // are one link (same id and address), 3-4 another.
    feed(
        "\x1b]8;id=a;https://example.com/\x1b\\  \x1b]8;;\x1b\\ "
        "\x1b]8;;javascript:alert(1)\x1b\\  \x1b]8;;\x1b\\ "
        "\x1b]8;id=a;https://example.com/\x1b\\  \x1b]8;;\x1b\\");
    view.grab();
    auto underlined = [this] {
        const QImage image = view.grab().toImage();
        QString cells;
        for (int column = 0; column < 9; ++column) {
            const int x = int(view.cellWidth() * (column + 0.5)) + TerminalView::kLeftMargin;
            bool line = false;
            for (int y = TerminalView::kTopMargin; y < TerminalView::kTopMargin + view.lineHeight();
                 ++y) {
                line = line || image.pixel(x, y) != kBackground;
            }
            cells += line ? QLatin1Char('_') : QLatin1Char('.');
        }
        return cells;
    };
    auto at = [this](int column) {
        return QPointF(view.cellWidth() * (column + 0.5) + TerminalView::kLeftMargin,
                       TerminalView::kTopMargin + view.lineHeight() / 2.0);
    };
    auto mouse = [this](QEvent::Type type, QPointF position, Qt::MouseButton button,
                        Qt::KeyboardModifiers modifiers) {
        QMouseEvent event(type, position, view.mapToGlobal(position), button,
                          type == QEvent::MouseMove ? Qt::NoButton : button, modifiers);
        QApplication::sendEvent(&view, &event);
    };

    EXPECT_EQ(underlined(), QStringLiteral("........."));
    mouse(QEvent::MouseMove, at(1), Qt::NoButton, Qt::NoModifier);
    EXPECT_EQ(underlined(), QStringLiteral("__....__."));
    EXPECT_EQ(view.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(view.toolTip(), QStringLiteral("https://example.com/"));
    mouse(QEvent::MouseMove, at(3), Qt::NoButton, Qt::NoModifier);
    EXPECT_EQ(underlined(), QStringLiteral("...__...."));

    // A plain click opens nothing, nor does Control+click on a scheme that may not open.
    mouse(QEvent::MouseButtonPress, at(3), Qt::LeftButton, Qt::ControlModifier);
    mouse(QEvent::MouseButtonPress, at(0), Qt::LeftButton, Qt::NoModifier);
    EXPECT_TRUE(desktop.openedUrls.empty());
    mouse(QEvent::MouseButtonPress, at(7), Qt::LeftButton, Qt::ControlModifier);
    EXPECT_EQ(desktop.openedUrls, std::vector<QString>{QStringLiteral("https://example.com/")});

    mouse(QEvent::MouseMove, at(5), Qt::NoButton, Qt::NoModifier);
    EXPECT_EQ(underlined(), QStringLiteral("........."));
    EXPECT_EQ(view.cursor().shape(), Qt::ArrowCursor);
}
