// Snapshots of finished sessions, newest first, and the History page's filter.

#include "workspace/Workspace.h"

#include "platform/Ids.h"
#include "platform/Preferences.h"
#include "terminal/TerminalSession.h"
#include "workspace/Characters.h"
#include "workspace/PreferenceKeys.h"
#include "workspace/StoredList.h"

void Workspace::loadHistory() {
    QList<HistoryEntry> history;
    StoredList::read(*m_services.preferences, PreferenceKeys::history,
                     [&history](const QJsonValue& value) {
                         std::optional<HistoryEntry> entry = HistoryEntry::fromJson(value);
                         if (entry) {
                             history.append(std::move(*entry));
                         }
                         return entry.has_value();
                     });
    m_history = history;
}

void Workspace::recordHistory(const TerminalSession& session, const QString& directory) {
    HistoryEntry entry;
    entry.id = Ids::newText();
    entry.provider = session.providerID();
    entry.title = session.title();
    entry.directory = directory;
    entry.started = session.started();
    entry.exitCode = session.exitCode().value_or(-1);
    entry.output = Characters::last(session.screen().plainText(), kHistoryOutputLength);

    QList<HistoryEntry> history = m_history;
    history.prepend(entry);
    if (history.size() > kHistoryLimit) {
        history.resize(kHistoryLimit);
    }
    setHistory(history);
    saveHistory();
}

void Workspace::saveHistory() {
    if (m_persist) {
        m_services.preferences->setValue(PreferenceKeys::history,
                                         HistoryEntry::encodeList(m_history));
    }
}

void Workspace::clearHistory() {
    setHistory({});
    saveHistory();
    notify(QStringLiteral("VELK history cleared."));
}

QList<HistoryEntry> Workspace::filteredHistory(const QString& query) const {
    if (query.isEmpty()) {
        return m_history;
    }
    QList<HistoryEntry> matches;
    for (const HistoryEntry& entry : m_history) {
        if (entry.title.contains(query, Qt::CaseInsensitive) ||
            entry.provider.contains(query, Qt::CaseInsensitive)) {
            matches.append(entry);
        }
    }
    return matches;
}
