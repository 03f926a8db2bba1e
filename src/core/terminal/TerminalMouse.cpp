#include "core/terminal/TerminalMouse.h"

#include "core/terminal/TerminalScreen.h"

#include <algorithm>

namespace {

using Event = TerminalMouseEvent;

bool isWheel(int button) {
    return button >= Event::WheelUp && button <= Event::WheelRight;
}

// Whether the tracking mode reports this kind of event.
bool tracked(TerminalMouseTracking tracking, const Event& event) {
    switch (tracking) {
        case TerminalMouseTracking::None:
            return false;
        case TerminalMouseTracking::Clicks:
            return event.kind != Event::Kind::Motion;
        case TerminalMouseTracking::Drags:
            return event.kind != Event::Kind::Motion || event.button != Event::NoButton;
        case TerminalMouseTracking::Motion:
            return true;
    }
    return false;
}

// The button number of the report before the modifiers: 0-2 for the three buttons, 64-67
// for the wheel, +32 for motion (3 + 32 when no button is held). The legacy encodings have
// no button for a release: 3 stands for all of them.
int buttonCode(const Event& event, bool sgr) {
    if (event.kind == Event::Kind::Release && !sgr) {
        return 3;
    }
    if (event.button == Event::NoButton) {
        return 3 + 32;  // only motion has no button
    }
    const int code = isWheel(event.button) ? 64 + event.button - Event::WheelUp : event.button - 1;
    return event.kind == Event::Kind::Motion ? code + 32 : code;
}

// One coordinate (1-based) of the legacy encodings: 32 + value, where values past the
// largest that fits are sent as NUL (xterm's "past the end" marker). The UTF-8 encoding
// (1005) writes values from 128 on as two-byte UTF-8 sequences.
void appendLegacy(QByteArray& out, int value, bool utf8) {
    const int limit = utf8 ? 2048 - 32 : 256 - 32;
    value = std::clamp(value, 0, limit);
    if (value == limit) {
        out += '\0';
        return;
    }
    const int code = 32 + value;
    if (code < 128 || !utf8) {
        out += char(code);
    } else {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    }
}

QByteArray alternateScrollKeys(const TerminalScreen& screen, int button) {
    const char* key = button == Event::WheelUp ? (screen.applicationCursor() ? "\x1bOA" : "\x1b[A")
                                               : (screen.applicationCursor() ? "\x1bOB" : "\x1b[B");
    QByteArray keys;
    for (int i = 0; i < TerminalMouse::kWheelLines; ++i) {
        keys += key;
    }
    return keys;
}

}  // namespace

QByteArray TerminalMouse::report(const TerminalScreen& screen, const TerminalMouseEvent& event) {
    const TerminalMouseTracking tracking = screen.mouseTracking();
    if (tracking == TerminalMouseTracking::None) {
        if ((event.button == Event::WheelUp || event.button == Event::WheelDown) &&
            event.kind == Event::Kind::Press && screen.alternateScreenActive() &&
            screen.alternateScroll()) {
            return alternateScrollKeys(screen, event.button);
        }
        return {};
    }
    // A wheel turn is a press without a release.
    if (!tracked(tracking, event) || (isWheel(event.button) && event.kind != Event::Kind::Press)) {
        return {};
    }
    const bool sgr = screen.mouseEncoding() == TerminalMouseEncoding::Sgr;
    const int code = buttonCode(event, sgr) +
                     (event.modifiers & (Event::kShift | Event::kAlt | Event::kControl));
    if (sgr) {
        // CSI < Cb ; Cx ; Cy M, or m for a release, in decimal and unbounded.
        return QByteArrayLiteral("\x1b[<") + QByteArray::number(code) + ';' +
               QByteArray::number(event.column + 1) + ';' + QByteArray::number(event.row + 1) +
               (event.kind == Event::Kind::Release ? 'm' : 'M');
    }
    // CSI M Cb Cx Cy, each 32 + value. Cb is at most 95 (a wheel button with every
    // modifier), one byte in both legacy encodings.
    const bool utf8 = screen.mouseEncoding() == TerminalMouseEncoding::Utf8;
    QByteArray out = QByteArrayLiteral("\x1b[M");
    out += char(32 + code);
    appendLegacy(out, event.column + 1, utf8);
    appendLegacy(out, event.row + 1, utf8);
    return out;
}

QByteArray TerminalMouse::focusReport(const TerminalScreen& screen, bool focused) {
    if (!screen.focusEvents()) {
        return {};
    }
    return focused ? QByteArrayLiteral("\x1b[I") : QByteArrayLiteral("\x1b[O");
}
