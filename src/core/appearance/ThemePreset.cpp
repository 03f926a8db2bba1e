#include "core/appearance/ThemePreset.h"

const QList<ThemePreset>& ThemePreset::all() {
    static const QList<ThemePreset> presets = {
        {QStringLiteral("vira"), QStringLiteral("VELK charcoal"), QStringLiteral("141413"),
         QStringLiteral("00D9FF"), QStringLiteral("Dark charcoal & rich vira blue")},
        {QStringLiteral("orlo"), QStringLiteral("Orlo charcoal"), QStringLiteral("171719"),
         QStringLiteral("C6BAA9"), QStringLiteral("Orlo Local AI’s full neutral palette")},
        {QStringLiteral("ocean"), QStringLiteral("Deep ocean"), QStringLiteral("081322"),
         QStringLiteral("00E5D0"), QStringLiteral("Navy & rich vira")},
        {QStringLiteral("midnight"), QStringLiteral("Midnight"), QStringLiteral("111221"),
         QStringLiteral("A797FF"), QStringLiteral("Ink & soft violet")},
        {QStringLiteral("paper"), QStringLiteral("Paper light"), QStringLiteral("F4F4F1"),
         QStringLiteral("0058B8"), QStringLiteral("Warm white & deep blue")},
    };
    return presets;
}
