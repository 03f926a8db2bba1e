#include "core/workspace/PasteSafety.h"

#include "core/services/Dialogs.h"
#include "core/services/Preferences.h"
#include "core/workspace/PreferenceKeys.h"

#include <QRegularExpression>

PasteSafety::PasteSafety(Preferences* store, Dialogs& dialogs, QObject* parent)
    : QObject(parent), m_store(store), m_dialogs(dialogs) {
    if (m_store) {
        const QVariant stored = m_store->value(PreferenceKeys::askBeforeMultilinePaste);
        m_enabled = !stored.isValid() || stored.toBool();
    }
}

void PasteSafety::setEnabled(bool enabled) {
    if (m_enabled == enabled) {
        return;
    }
    m_enabled = enabled;
    if (m_store) {
        m_store->setValue(PreferenceKeys::askBeforeMultilinePaste, enabled);
    }
    Q_EMIT enabledChanged();
}

QStringList PasteSafety::lines(const QString& text) {
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\n|\r"));
    QStringList result = text.split(lineBreak);
    if (result.size() > 1 && result.constLast().isEmpty()) {
        result.removeLast();
    }
    return result;
}

bool PasteSafety::confirm(const QString& text) {
    if (!m_enabled || (!text.contains(u'\n') && !text.contains(u'\r'))) {
        return true;
    }
    const QStringList all = lines(text);
    QStringList quoted;
    for (const QString& line : all.mid(0, kQuotedLines)) {
        quoted.append(line.size() > kQuotedLineLength
                          ? line.left(kQuotedLineLength - 1) + QChar(0x2026)
                          : line);
    }
    if (all.size() > kQuotedLines) {
        quoted.append(QStringLiteral("… and %1 more").arg(all.size() - kQuotedLines));
    }
    const Dialogs::Alert alert{
        .message = all.size() == 1 ? QStringLiteral("Paste 1 line?")
                                   : QStringLiteral("Paste %1 lines?").arg(all.size()),
        .informativeText =
            QStringLiteral("The program in this terminal reads each line break as Enter, so "
                           "pasted commands may run at once.\n\n") +
            quoted.join(u'\n'),
        .buttons = {QStringLiteral("Paste"), QStringLiteral("Cancel")},
        .style = Dialogs::Style::Warning,
    };
    return m_dialogs.alert(alert) == 0;
}
