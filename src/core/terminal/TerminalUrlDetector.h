#pragma once

#include "core/terminal/TerminalText.h"

#include <QString>
#include <QStringView>

#include <optional>
#include <vector>

class TerminalScreen;

/// An address found in a screen's text.
struct TerminalUrl {
    QString url;
    TerminalTextRange range;
    bool operator==(const TerminalUrl&) const = default;
};

/// Finds web, mail and file addresses in plain terminal text, as terminals underline them
/// under the pointer: an address starts with http://, https://, file:// or mailto: (any
/// case) that does not continue a word, and runs up to a space, a quote or an angle bracket.
/// What usually follows an address in prose is left off its end: . , ; : ! ? ' " > and a
/// closing bracket without its opening one inside the address, so "(see https://a.b/x)."
/// gives "https://a.b/x" but "https://a.b/wiki/C_(language)" is whole.
class TerminalUrlDetector {
public:
    struct Found {
        qsizetype offset = 0;
        qsizetype length = 0;
        bool operator==(const Found&) const = default;
    };
    /// Every address in `text`, in order.
    static std::vector<Found> find(QStringView text);
    /// The address that covers the cell at `position` (TerminalTextPosition numbering),
    /// looked for in the whole run of lines joined by wraps around it.
    static std::optional<TerminalUrl> urlAt(const TerminalScreen& screen,
                                            TerminalTextPosition position);
};
