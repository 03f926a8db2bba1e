#pragma once

#include <QColor>
#include <QRectF>

class QPainter;

/// Box-drawing lines (U+2500–U+257F), block elements (U+2580–U+259F) and the Powerline
/// arrows (U+E0B0–U+E0B3), drawn from rectangles and paths instead of taken from the font.
/// Font glyphs for these stop short of the line height the terminal uses, so frames drawn
/// with them show gaps between rows; drawn here they reach the cell edges exactly and join
/// their neighbours at any cell size.
namespace BoxDrawing {

/// Whether `code` is one of the characters draw() paints.
constexpr bool covers(char32_t code) {
    return (code >= 0x2500 && code <= 0x259F) || (code >= 0xE0B0 && code <= 0xE0B3);
}

/// Paints `code` into `cell` in `color`. Straight edges are rounded to whole device pixels
/// (cells that share an edge round it the same way, so their strokes meet). Returns false,
/// painting nothing, for a character covers() does not accept.
bool draw(QPainter& painter, const QRectF& cell, char32_t code, const QColor& color);

/// A cell waiting to be drawn once the row backgrounds under it are filled.
struct Cell {
    QRectF rect;
    char32_t code;
    QColor color;
};

}  // namespace BoxDrawing
