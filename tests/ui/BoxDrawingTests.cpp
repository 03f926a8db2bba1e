// Box-drawing and block characters painted to fill their cells: alone at two cell sizes, and
// in a terminal view, where frames must join across rows.
#include "core/assistants/Provider.h"
#include "core/terminal/TerminalScreen.h"
#include "core/terminal/TerminalSession.h"
#include "support/TestSupport.h"
#include "ui/terminal/BoxDrawing.h"
#include "ui/terminal/TerminalView.h"

#include <QDir>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace std::chrono_literals;

namespace {

const QRgb kPaper = qRgb(0, 0, 0);
const QRgb kInk = qRgb(0xD0, 0xDE, 0xEB);  // also the view's default text colour
const QRgb kViewBackground = qRgb(0x08, 0x13, 0x22);
constexpr int kMargin = 3;  // blank pixels around the cell, which must stay blank

// `code` drawn into a cell of `width` × `height` at (kMargin, kMargin).
struct Rendered {
    QImage image;
    bool drawn;
    int width;
    int height;

    bool ink(int x, int y) const { return image.pixel(kMargin + x, kMargin + y) == kInk; }
    int inkInRow(int y) const {
        int count = 0;
        for (int x = 0; x < width; ++x) {
            count += ink(x, y);
        }
        return count;
    }
    int inkInColumn(int x) const {
        int count = 0;
        for (int y = 0; y < height; ++y) {
            count += ink(x, y);
        }
        return count;
    }
    // Separate strokes crossing row y, counted left to right.
    int strokesInRow(int y) const {
        int strokes = 0;
        for (int x = 0; x < width; ++x) {
            strokes += ink(x, y) && (x == 0 || !ink(x - 1, y));
        }
        return strokes;
    }
    bool anythingOutside() const {
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const bool inside =
                    x >= kMargin && x < kMargin + width && y >= kMargin && y < kMargin + height;
                if (!inside && image.pixel(x, y) != kPaper) {
                    return true;
                }
            }
        }
        return false;
    }
};

Rendered render(char32_t code, int width, int height) {
    QImage image(width + 2 * kMargin, height + 2 * kMargin, QImage::Format_RGB32);
    image.fill(kPaper);
    QPainter painter(&image);
    const bool drawn = BoxDrawing::draw(painter, QRectF(kMargin, kMargin, width, height), code,
                                        QColor::fromRgb(kInk));
    painter.end();
    return {image, drawn, width, height};
}

TEST(BoxDrawing, linesReachTheEdgesTheyJoinAndBlocksFillTheirShareOfTheCell) {
    using Check = std::function<bool(const Rendered&)>;
    const auto touchesTopAndBottom = [](const Rendered& r) {
        return r.inkInRow(0) > 0 && r.inkInRow(r.height - 1) > 0;
    };
    const auto touchesLeftAndRight = [](const Rendered& r) {
        return r.inkInColumn(0) > 0 && r.inkInColumn(r.width - 1) > 0;
    };
    const struct {
        char32_t code;
        const char* what;
        Check check;
    } cases[] = {
        {U'│', "a vertical line runs from the top row to the bottom row, thin",
         [&](const Rendered& r) {
             return touchesTopAndBottom(r) && r.inkInColumn(0) == 0 && r.inkInRow(0) < r.width / 2;
         }},
        {U'─', "a horizontal line runs from the left edge to the right edge",
         [&](const Rendered& r) { return touchesLeftAndRight(r) && r.inkInRow(0) == 0; }},
        {U'╋', "a heavy cross reaches all four edges",
         [&](const Rendered& r) { return touchesTopAndBottom(r) && touchesLeftAndRight(r); }},
        {U'┌', "a corner reaches the right and the bottom edge only",
         [&](const Rendered& r) {
             return r.inkInRow(r.height - 1) > 0 && r.inkInColumn(r.width - 1) > 0 &&
                    r.inkInRow(0) == 0 && r.inkInColumn(0) == 0;
         }},
        {U'║', "a double vertical line is two strokes from top to bottom",
         [&](const Rendered& r) {
             return r.strokesInRow(0) == 2 && r.strokesInRow(r.height - 1) == 2;
         }},
        {U'╭', "a rounded corner still meets the right and the bottom edge",
         [&](const Rendered& r) {
             return r.inkInRow(r.height - 1) > 0 && r.inkInColumn(r.width - 1) > 0;
         }},
        {U'█', "a full block fills every pixel",
         [](const Rendered& r) {
             for (int y = 0; y < r.height; ++y) {
                 if (r.inkInRow(y) != r.width) {
                     return false;
                 }
             }
             return true;
         }},
        {U'▄', "a lower half fills whole rows from the middle to the bottom",
         [](const Rendered& r) {
             int filled = 0;
             for (int y = 0; y < r.height; ++y) {
                 const int ink = r.inkInRow(y);
                 if (ink != 0 && ink != r.width) {
                     return false;
                 }
                 if (ink != 0) {
                     ++filled;
                 } else if (filled > 0) {
                     return false;  // a gap below the block
                 }
             }
             return r.inkInRow(r.height - 1) == r.width &&
                    (filled == r.height / 2 || filled == (r.height + 1) / 2);
         }},
    };
    for (const QSize size : {QSize(8, 16), QSize(11, 23)}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << c.what << " at " << size.width() << "x" << size.height());
            const Rendered r = render(c.code, size.width(), size.height());
            EXPECT_TRUE(r.drawn);
            EXPECT_TRUE(c.check(r));
            EXPECT_FALSE(r.anythingOutside());
        }
        const Rendered letter = render(U'A', size.width(), size.height());
        EXPECT_FALSE(letter.drawn);
        EXPECT_EQ(letter.inkInRow(size.height() / 2), 0);
    }
}

TEST(BoxDrawing, aFrameInTheViewJoinsFromRowToRowAtANormalAndALargeFontSize) {
    auto session = TerminalSession::create("shell", "test", "exec sleep 30",
                                           shellSpawnRequest("exec sleep 30", QDir::tempPath()));
    TerminalView view;
    view.setSession(session);
    view.resize(400, 300);
    session->screen().feed(
        QByteArrayView("\xe2\x94\x82\r\n\xe2\x94\x82\r\n\xe2\x96\x88"));  // │ │ █

    for (const double fontSize : {14.0, 24.0}) {
        SCOPED_TRACE(fontSize);
        view.setFontSize(fontSize);
        const QImage image = view.grab().toImage();
        const int h = view.lineHeight();
        const double w = view.cellWidth();
        const int top = TerminalView::kTopMargin;
        const int left = int(std::lround(double(TerminalView::kLeftMargin)));
        const int right = int(std::lround(TerminalView::kLeftMargin + w));

        // The stroke of │, found in the middle of the first row, is unbroken through both rows.
        int stroke = -1;
        for (int x = left; x < right && stroke < 0; ++x) {
            if (image.pixel(x, top + h / 2) != kViewBackground) {
                stroke = x;
            }
        }
        ASSERT_GE(stroke, 0);
        int gaps = 0;
        for (int y = top; y < top + 2 * h; ++y) {
            gaps += image.pixel(stroke, y) == kViewBackground;
        }
        EXPECT_EQ(gaps, 0);

        // █ on the third row covers its whole cell.
        int holes = 0;
        for (int y = top + 2 * h; y < top + 3 * h; ++y) {
            for (int x = left; x < right; ++x) {
                holes += image.pixel(x, y) != kInk;
            }
        }
        EXPECT_EQ(holes, 0);
    }
    session->stop();
    testing_support::waitUntil([&] { return !session->running(); }, 5s);
}

}  // namespace
