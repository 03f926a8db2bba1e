#pragma once

#include <QColor>
#include <QString>
#include <QStringView>

// Colours are stored as text: six hexadecimal digits without "#" ("141413").
//
// Reading is lenient and never fails: characters that are not letters or digits are
// stripped from both ends (so "#141413" and " 141413 " read the same), the rest is one
// unsigned 64-bit hexadecimal number, and only its low 24 bits are used as red, green and
// blue. Anything unparsable, including the empty text or a number above 64 bits, reads as 0
// (black). There is no length check: "FFF" is 0x000FFF, that is (0, 15, 255).
QColor colorFromHex(QStringView text);

// Six upper-case hexadecimal digits of the colour in sRGB, each channel truncated rather
// than rounded (a channel of 0.999 gives "FE"). An invalid colour gives "00E5D0".
QString hexFromColor(const QColor& color);
