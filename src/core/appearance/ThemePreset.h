#pragma once

#include <QList>
#include <QString>

// A named pair of background and accent colours offered on the Appearance page.
struct ThemePreset {
    QString id;
    QString title;
    QString background;  // six hexadecimal digits
    QString accent;      // six hexadecimal digits
    QString subtitle;

    bool operator==(const ThemePreset&) const = default;

    // The presets in card order; the first is the charcoal default the theme starts with, the
    // last the light one.
    static const QList<ThemePreset>& all();
};
