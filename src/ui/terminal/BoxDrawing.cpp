#include "ui/terminal/BoxDrawing.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

enum Weight : int { kNone = 0, kLight = 1, kHeavy = 2, kDouble = 3 };

// The arms of U+2500–U+257F as four weights, up, right, down, left, from the centre to the
// cell edges ('0' none, '1' light, '2' heavy, '3' double). Dashed lines, arcs and half lines
// use the same entries; the diagonals have none.
constexpr std::array<const char*, 0x80> kArms = {
    "0101", "0202", "1010", "2020", "0101", "0202", "1010", "2020",  // 2500 ─━│┃┄┅┆┇
    "0101", "0202", "1010", "2020", "0110", "0210", "0120", "0220",  // 2508 ┈┉┊┋┌┍┎┏
    "0011", "0012", "0021", "0022", "1100", "1200", "2100", "2200",  // 2510 ┐┑┒┓└┕┖┗
    "1001", "1002", "2001", "2002", "1110", "1210", "2110", "1120",  // 2518 ┘┙┚┛├┝┞┟
    "2120", "2210", "1220", "2220", "1011", "1012", "2011", "1021",  // 2520 ┠┡┢┣┤┥┦┧
    "2021", "2012", "1022", "2022", "0111", "0112", "0211", "0212",  // 2528 ┨┩┪┫┬┭┮┯
    "0121", "0122", "0221", "0222", "1101", "1102", "1201", "1202",  // 2530 ┰┱┲┳┴┵┶┷
    "2101", "2102", "2201", "2202", "1111", "1112", "1211", "1212",  // 2538 ┸┹┺┻┼┽┾┿
    "2111", "1121", "2121", "2112", "2211", "1122", "1221", "2212",  // 2540 ╀╁╂╃╄╅╆╇
    "1222", "2122", "2221", "2222", "0101", "0202", "1010", "2020",  // 2548 ╈╉╊╋╌╍╎╏
    "0303", "3030", "0310", "0130", "0330", "0013", "0031", "0033",  // 2550 ═║╒╓╔╕╖╗
    "1300", "3100", "3300", "1003", "3001", "3003", "1310", "3130",  // 2558 ╘╙╚╛╜╝╞╟
    "3330", "1013", "3031", "3033", "0313", "0131", "0333", "1303",  // 2560 ╠╡╢╣╤╥╦╧
    "3101", "3303", "1313", "3131", "3333", "0110", "0011", "1001",  // 2568 ╨╩╪╫╬╭╮╯
    "1100", "0000", "0000", "0000", "0001", "1000", "0100", "0010",  // 2570 ╰╱╲╳╴╵╶╷
    "0002", "2000", "0200", "0020", "0201", "1020", "0102", "2010",  // 2578 ╸╹╺╻╼╽╾╿
};

struct Span {
    int a;  // first pixel
    int b;  // one past the last pixel
};

// The cell in whole pixels, with the stroke sizes for its height.
class Canvas {
public:
    Canvas(QPainter& painter, const QRectF& rect, const QColor& color)
        : m_painter(painter),
          m_color(color),
          m_left(int(std::lround(rect.left()))),
          m_top(int(std::lround(rect.top()))),
          m_right(int(std::lround(rect.right()))),
          m_bottom(int(std::lround(rect.bottom()))),
          // One pixel up to 26 pixel tall cells, two up to 44: about the stem width of a
          // monospace font at that size.
          m_light(std::max(1, int(std::lround((m_bottom - m_top) / 18.0)))) {}

    int light() const { return m_light; }
    int thickness(int weight) const {
        return weight == kHeavy ? 2 * m_light : weight == kDouble ? 3 * m_light : m_light;
    }

    void fill(int x0, int y0, int x1, int y1, qreal opacity = 1.0) {
        if (x1 <= x0 || y1 <= y0) {
            return;
        }
        QColor color = m_color;
        if (opacity < 1.0) {
            color.setAlphaF(color.alphaF() * opacity);
        }
        m_painter.fillRect(QRect(x0, y0, x1 - x0, y1 - y0), color);
    }

    // A stroke (or, for a double line, the pair with its gap) centred across [lo, hi).
    Span stroke(int lo, int hi, int weight) const {
        const int width = thickness(weight);
        const int a = lo + (hi - lo - width) / 2;
        return {a, a + width};
    }

    // One arm from the edge towards the centre. `horizontal` arms run left or right; `toLow`
    // is the left or upper arm. `first` and `second` are the weights of the crossing arms
    // (up and down for a horizontal arm, left and right for a vertical one): the arm runs
    // far enough to join them.
    void arm(bool horizontal, bool toLow, int weight, int first, int second) {
        const int lo = horizontal ? m_left : m_top;
        const int hi = horizontal ? m_right : m_bottom;
        const int across0 = horizontal ? m_top : m_left;
        const int across1 = horizontal ? m_bottom : m_right;
        auto put = [&](int along0, int along1, Span across) {
            if (horizontal) {
                fill(along0, across.a, along1, across.b);
            } else {
                fill(across.a, along0, across.b, along1);
            }
        };
        auto segment = [&](int limit, Span across) {
            if (toLow) {
                put(lo, limit, across);
            } else {
                put(limit, hi, across);
            }
        };
        const Span centre = stroke(lo, hi, weight == kDouble ? kLight : weight);
        // The edge of a crossing arm's stroke on the near side: for a double arm its line on
        // this side, so an arm stops where that line begins.
        auto nearEdge = [&](int crossing) {
            const Span s = stroke(lo, hi, crossing);
            if (crossing == kDouble) {
                return toLow ? s.a + m_light : s.b - m_light;
            }
            return toLow ? s.b : s.a;
        };
        auto farEdge = [&](int crossing) {
            const Span s = stroke(lo, hi, crossing);
            return toLow ? s.b : s.a;
        };
        auto pick = [&](int x, int y) { return toLow ? std::max(x, y) : std::min(x, y); };

        if (weight != kDouble) {
            // A line that passes straight through stops at its near stroke; at a corner or
            // a tee end it runs across the whole crossing arm so the corner closes.
            int limit;
            if (first && second) {
                limit = pick(nearEdge(first), nearEdge(second));
            } else if (first || second) {
                limit = farEdge(first ? first : second);
            } else {
                limit = toLow ? centre.b : centre.a;
            }
            segment(limit, stroke(across0, across1, weight));
            return;
        }
        // Each line of a double arm meets the crossing arm on its own side at that arm's
        // nearest stroke; with none there it is the outer line of a corner and runs across
        // the crossing arm on the other side.
        const Span pair = stroke(across0, across1, kDouble);
        const Span lines[2] = {{pair.a, pair.a + m_light}, {pair.b - m_light, pair.b}};
        const int own[2] = {first, second};
        for (int i = 0; i < 2; ++i) {
            const int same = own[i];
            const int other = own[1 - i];
            const int limit = same    ? nearEdge(same)
                              : other ? farEdge(other)
                                      : (toLow ? centre.b : centre.a);
            segment(limit, lines[i]);
        }
    }

    void lines(const char* arms) {
        const int up = arms[0] - '0';
        const int right = arms[1] - '0';
        const int down = arms[2] - '0';
        const int left = arms[3] - '0';
        if (up) {
            arm(false, true, up, left, right);
        }
        if (down) {
            arm(false, false, down, left, right);
        }
        if (left) {
            arm(true, true, left, up, down);
        }
        if (right) {
            arm(true, false, right, up, down);
        }
    }

    // A line of `count` dashes, spaced so the pattern repeats evenly from cell to cell.
    void dashes(bool horizontal, int weight, int count) {
        const int lo = horizontal ? m_left : m_top;
        const int length = (horizontal ? m_right : m_bottom) - lo;
        const Span across =
            horizontal ? stroke(m_top, m_bottom, weight) : stroke(m_left, m_right, weight);
        const int gap = std::max(1, int(std::lround(length / (3.0 * count))));
        for (int i = 0; i < count; ++i) {
            const int start = lo + length * i / count + gap / 2;
            const int end = lo + length * (i + 1) / count - (gap - gap / 2);
            if (horizontal) {
                fill(start, across.a, std::max(end, start + 1), across.b);
            } else {
                fill(across.a, start, across.b, std::max(end, start + 1));
            }
        }
    }

    // A rounded corner: the arms of ╭╮╯╰ meet in a quarter circle instead of a right angle.
    void arc(const char* arms) {
        const bool toRight = arms[1] != '0';
        const bool toBottom = arms[2] != '0';
        const Span column = stroke(m_left, m_right, kLight);
        const Span row = stroke(m_top, m_bottom, kLight);
        const qreal cx = (column.a + column.b) / 2.0;
        const qreal cy = (row.a + row.b) / 2.0;
        // A pixel short of the half cell, so a straight piece is left at each edge.
        const qreal radius = std::max(1, std::min(m_right - m_left, m_bottom - m_top) / 2 - 1);
        const qreal dx = toRight ? radius : -radius;
        const qreal dy = toBottom ? radius : -radius;
        constexpr qreal kBezierCircle = 0.5523;  // control distance of a quarter circle
        // The straight ends are whole-pixel fills like every other line, so they meet the
        // neighbouring cells' lines exactly; only the curve between them is antialiased.
        const int bendY = int(std::lround(cy + dy));
        const int bendX = int(std::lround(cx + dx));
        if (toBottom) {
            fill(column.a, bendY, column.b, m_bottom);
        } else {
            fill(column.a, m_top, column.b, bendY);
        }
        if (toRight) {
            fill(bendX, row.a, m_right, row.b);
        } else {
            fill(m_left, row.a, bendX, row.b);
        }
        QPainterPath path;
        path.moveTo(cx, bendY);
        path.cubicTo(cx, cy + dy * (1 - kBezierCircle), cx + dx * (1 - kBezierCircle), cy, bendX,
                     cy);
        strokePath(path, false);
    }

    void diagonals(bool rising, bool falling) {
        // Drawn past the corners and clipped, so the strokes end flush with the cell and
        // continue into the diagonal neighbour.
        const qreal w = m_right - m_left;
        const qreal h = m_bottom - m_top;
        QPainterPath path;
        if (rising) {
            path.moveTo(m_left - w, m_bottom + h);
            path.lineTo(m_right + w, m_top - h);
        }
        if (falling) {
            path.moveTo(m_left - w, m_top - h);
            path.lineTo(m_right + w, m_bottom + h);
        }
        strokePath(path, true);
    }

    // The Powerline arrows: a solid or outlined triangle pointing right or left.
    void triangle(bool pointsRight, bool solid) {
        const qreal tip = pointsRight ? m_right : m_left;
        const qreal base = pointsRight ? m_left : m_right;
        const qreal middle = (m_top + m_bottom) / 2.0;
        QPainterPath path;
        path.moveTo(base, m_top);
        path.lineTo(tip, middle);
        path.lineTo(base, m_bottom);
        if (!solid) {
            strokePath(path, true);
            return;
        }
        m_painter.save();
        m_painter.setRenderHint(QPainter::Antialiasing, true);
        path.closeSubpath();
        m_painter.fillPath(path, m_color);
        m_painter.restore();
    }

    void blocks(char32_t code);

private:
    void strokePath(const QPainterPath& path, bool clip) {
        m_painter.save();
        m_painter.setRenderHint(QPainter::Antialiasing, true);
        if (clip) {
            m_painter.setClipRect(QRect(m_left, m_top, m_right - m_left, m_bottom - m_top),
                                  m_painter.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
        }
        m_painter.setPen(QPen(m_color, m_light, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
        m_painter.setBrush(Qt::NoBrush);
        m_painter.drawPath(path);
        m_painter.restore();
    }

    QPainter& m_painter;
    QColor m_color;
    int m_left;
    int m_top;
    int m_right;
    int m_bottom;
    int m_light;
};

void Canvas::blocks(char32_t code) {
    // Eighths are measured from the top and the left edge, so ▀ and ▄ (or ▌ and ▐) split
    // the cell at the same row and together cover it exactly once.
    auto y = [this](int eighths) {
        return m_top + int(std::lround((m_bottom - m_top) * eighths / 8.0));
    };
    auto x = [this](int eighths) {
        return m_left + int(std::lround((m_right - m_left) * eighths / 8.0));
    };
    if (code == 0x2580) {  // ▀
        fill(m_left, m_top, m_right, y(4));
    } else if (code <= 0x2588) {  // ▁▂▃▄▅▆▇█: lower n eighths
        fill(m_left, y(8 - int(code - 0x2580)), m_right, m_bottom);
    } else if (code <= 0x258F) {  // ▉▊▋▌▍▎▏: left 7..1 eighths
        fill(m_left, m_top, x(8 - int(code - 0x2588)), m_bottom);
    } else if (code == 0x2590) {  // ▐
        fill(x(4), m_top, m_right, m_bottom);
    } else if (code <= 0x2593) {  // ░▒▓
        fill(m_left, m_top, m_right, m_bottom, 0.25 * int(code - 0x2590));
    } else if (code == 0x2594) {  // ▔
        fill(m_left, m_top, m_right, y(1));
    } else if (code == 0x2595) {  // ▕
        fill(x(7), m_top, m_right, m_bottom);
    } else {
        // ▖▗▘▙▚▛▜▝▞▟: quadrants as bits, 1 upper left, 2 upper right, 4 lower left, 8 lower
        // right.
        constexpr int kQuadrants[] = {4,         8,         1, 1 | 4 | 8, 1 | 8,
                                      1 | 2 | 4, 1 | 2 | 8, 2, 2 | 4,     2 | 4 | 8};
        const int bits = kQuadrants[code - 0x2596];
        const int midX = x(4);
        const int midY = y(4);
        if (bits & 1) {
            fill(m_left, m_top, midX, midY);
        }
        if (bits & 2) {
            fill(midX, m_top, m_right, midY);
        }
        if (bits & 4) {
            fill(m_left, midY, midX, m_bottom);
        }
        if (bits & 8) {
            fill(midX, midY, m_right, m_bottom);
        }
    }
}

}  // namespace

namespace BoxDrawing {

bool draw(QPainter& painter, const QRectF& rect, char32_t code, const QColor& color) {
    if (!covers(code)) {
        return false;
    }
    Canvas cell(painter, rect, color);
    if (code >= 0xE0B0) {
        cell.triangle(code == 0xE0B0 || code == 0xE0B1, code == 0xE0B0 || code == 0xE0B2);
        return true;
    }
    if (code >= 0x2580) {
        cell.blocks(code);
        return true;
    }
    const char* arms = kArms[code - 0x2500];
    const bool horizontal = arms[1] != '0';
    const int weight = horizontal ? arms[1] - '0' : arms[0] - '0';
    if (code >= 0x2504 && code <= 0x250B) {
        cell.dashes(horizontal, weight, code <= 0x2507 ? 3 : 4);
    } else if (code >= 0x254C && code <= 0x254F) {
        cell.dashes(horizontal, weight, 2);
    } else if (code >= 0x256D && code <= 0x2570) {
        cell.arc(arms);
    } else if (code >= 0x2571 && code <= 0x2573) {
        cell.diagonals(code != 0x2572, code != 0x2571);
    } else {
        cell.lines(arms);
    }
    return true;
}

}  // namespace BoxDrawing
