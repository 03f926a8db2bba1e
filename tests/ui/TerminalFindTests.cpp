// The terminal view's links in plain text, find bar and scroll bar, against a real session.
#include "core/assistants/Provider.h"
#include "core/terminal/TerminalScreen.h"
#include "core/terminal/TerminalSearch.h"
#include "core/terminal/TerminalSession.h"
#include "support/FakeServices.h"
#include "support/TestSupport.h"
#include "ui/terminal/TerminalFindBar.h"
#include "ui/terminal/TerminalView.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testing_support::waitUntil;

namespace {

const QRgb kBackground = qRgb(0x08, 0x13, 0x22);

class TerminalFindTest : public ::testing::Test {
protected:
    void SetUp() override {
        view.setSession(session);
        view.resize(640, 320);
        view.show();
        view.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
        view.setFocus();
        view.grab();  // fits the session to the view
    }
    void TearDown() override {
        session->stop();
        waitUntil([this] { return !session->running(); }, 5s);
    }
    void feed(const QByteArray& bytes) { session->screen().feed(QByteArrayView(bytes)); }
    void printLines(int count) {
        QByteArray output;
        for (int i = 0; i < count; ++i) {
            output += "line " + QByteArray::number(i) + "\r\n";
        }
        feed(output);
    }
    QPointF cellCentre(int row, int column) const {
        return {view.cellWidth() * (column + 0.5) + TerminalView::kLeftMargin,
                TerminalView::kTopMargin + view.lineHeight() * (row + 0.5)};
    }
    void mouse(QEvent::Type type, QPointF position, Qt::KeyboardModifiers modifiers) {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, position, view.mapToGlobal(position), button, button, modifiers);
        QApplication::sendEvent(&view, &event);
    }
    // Whether shown row `row` has a painted cell of `colour`-ish (not background) at `column`.
    bool painted(const QImage& image, int row, int column) const {
        const QPointF centre = cellCentre(row, column);
        return image.pixel(int(centre.x()), int(centre.y()) - view.lineHeight() / 2 + 1) !=
               kBackground;
    }
    QLineEdit* findText() const { return view.findBar()->findChild<QLineEdit*>(); }

    std::shared_ptr<TerminalSession> session = TerminalSession::create(
        "shell", "test", "exec sleep 30", shellSpawnRequest("exec sleep 30", QDir::tempPath()));
    TerminalView view;
};

TEST_F(TerminalFindTest, anAddressInTheTextIsUnderlinedAndControlClickOpensIt) {
    testing_support::FakeDesktop desktop;
    view.setDesktopServices(&desktop);
    feed(
        "docs: https://example.com/guide.\r\n"
        "ssh://host/x and \x1b]8;;https://linked.example/\x1b\\https://shown.example/\x1b]8;;\x1b\\"
        "\r\n");
    const QImage plain = view.grab().toImage();

    mouse(QEvent::MouseMove, cellCentre(0, 2), Qt::NoModifier);
    EXPECT_EQ(view.cursor().shape(), Qt::ArrowCursor);
    mouse(QEvent::MouseMove, cellCentre(0, 12), Qt::NoModifier);
    EXPECT_EQ(view.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(view.toolTip(), QStringLiteral("https://example.com/guide"));
    // Underlined (pixels changed under the text) through its last character, not the full
    // stop after it.
    const QImage hovered = view.grab().toImage();
    auto underlined = [&](int column) {
        const int x = int(cellCentre(0, column).x());
        for (int y = TerminalView::kTopMargin; y < TerminalView::kTopMargin + view.lineHeight();
             ++y) {
            if (plain.pixel(x, y) != hovered.pixel(x, y)) {
                return true;
            }
        }
        return false;
    };
    EXPECT_FALSE(underlined(5));
    EXPECT_TRUE(underlined(6));
    EXPECT_TRUE(underlined(30));
    EXPECT_FALSE(underlined(31));

    mouse(QEvent::MouseButtonPress, cellCentre(0, 20), Qt::NoModifier);
    EXPECT_TRUE(desktop.openedUrls.empty());
    mouse(QEvent::MouseButtonPress, cellCentre(0, 20), Qt::ControlModifier);
    // Other schemes are plain text; a hyperlink the program printed wins over its text.
    mouse(QEvent::MouseButtonPress, cellCentre(1, 3), Qt::ControlModifier);
    mouse(QEvent::MouseButtonPress, cellCentre(1, 25), Qt::ControlModifier);
    EXPECT_EQ(desktop.openedUrls,
              (std::vector<QString>{QStringLiteral("https://example.com/guide"),
                                    QStringLiteral("https://linked.example/")}));
}

TEST_F(TerminalFindTest, findBarFindsAMarkerFarBackScrollsToItAndEscapeReturnsToTheTerminal) {
    session->screen().setScrollbackLimit(10'000);
    printLines(1000);
    feed("the MARKER line\r\n");
    printLines(9000);
    view.grab();
    ASSERT_EQ(view.scrollOffset(), 0);

    QTest::keyClick(&view, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_NE(view.findBar(), nullptr);
    EXPECT_TRUE(view.findBar()->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), findText());
    QTest::keyClicks(findText(), QStringLiteral("marker"));
    EXPECT_EQ(view.findBar()->summary(), QStringLiteral("1 of 1"));
    // The view scrolled back to show the marker, highlighted.
    const TerminalScreen& screen = session->screen();
    const TerminalTextRange match = view.search().matches().at(0);
    const int firstShown = screen.scrollbackSize() - view.scrollOffset();
    ASSERT_GE(match.start.line, firstShown);
    ASSERT_LT(match.start.line, firstShown + screen.rows());
    const int row = match.start.line - firstShown;
    QImage image = view.grab().toImage();
    EXPECT_FALSE(painted(image, row, 2));  // "the"
    EXPECT_TRUE(painted(image, row, 5));   // "MARKER"
    EXPECT_FALSE(painted(image, row, 11));

    // Many matches step with Enter and Shift+Enter, wrapping; a bad expression says so.
    findText()->setText(QStringLiteral("line 99[0-9]$"));
    EXPECT_EQ(view.findBar()->summary(), QStringLiteral("No matches"));
    view.findBar()->findChild<QToolButton*>(QStringLiteral("regularExpression"))->click();
    // From the bottom of the view, still at the marker: line 999 of the first printing.
    EXPECT_EQ(view.findBar()->summary(), QStringLiteral("10 of 20"));
    for (int press = 0; press < 11; ++press) {
        QTest::keyClick(findText(), Qt::Key_Return);
    }
    EXPECT_EQ(view.findBar()->summary(), QStringLiteral("1 of 20"));
    QTest::keyClick(findText(), Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(view.findBar()->summary(), QStringLiteral("20 of 20"));
    findText()->setText(QStringLiteral("line ("));
    EXPECT_TRUE(view.findBar()->summary().startsWith(QStringLiteral("Invalid pattern")));

    QTest::keyClick(findText(), Qt::Key_Escape);
    EXPECT_FALSE(view.findBar()->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), &view);
    EXPECT_TRUE(view.search().matches().empty());
}

TEST_F(TerminalFindTest, theScrollBarFollowsTheViewAndScrollsIt) {
    printLines(300);
    view.grab();
    QScrollBar* bar = view.scrollBar();
    EXPECT_FALSE(bar->isVisible());  // nothing scrolled yet
    const int history = session->screen().scrollbackSize();
    EXPECT_EQ(bar->maximum(), history);
    EXPECT_EQ(bar->value(), history);

    QWheelEvent wheel(cellCentre(2, 2), view.mapToGlobal(cellCentre(2, 2)), QPoint(),
                      QPoint(0, 240), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&view, &wheel);
    view.grab();
    QCoreApplication::processEvents();
    EXPECT_EQ(view.scrollOffset(), 6);
    EXPECT_EQ(bar->value(), history - 6);
    EXPECT_TRUE(bar->isVisible());

    bar->setValue(100);
    EXPECT_EQ(view.scrollOffset(), history - 100);
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(view.scrollOffset(), 0);
}

}  // namespace
