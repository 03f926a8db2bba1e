#include "core/app/PreferenceMigration.h"

#include "core/services/Preferences.h"

#include <QStringList>

int migrateFormerPreferences(Preferences& current, const Preferences* former) {
    const QString flag = QStringLiteral("kelo.migratedFromVira");
    if (current.value(flag).toBool()) {
        return 0;
    }
    static const QStringList keys = {
        QStringLiteral("background"),        QStringLiteral("accent"),
        QStringLiteral("terminalFont"),      QStringLiteral("preset"),
        QStringLiteral("viraAccentApplied"), QStringLiteral("providers"),
        QStringLiteral("recentFolders"),     QStringLiteral("workspace"),
        QStringLiteral("history"),
    };
    int copied = 0;
    if (former) {
        for (const QString& key : keys) {
            if (!current.contains(key) && former->contains(key)) {
                current.setValue(key, former->value(key));
                ++copied;
            }
        }
    }
    current.setValue(flag, true);
    current.sync();
    return copied;
}
