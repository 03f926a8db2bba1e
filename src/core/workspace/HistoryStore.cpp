#include "core/workspace/HistoryStore.h"

#include "core/base/Ids.h"
#include "core/services/Preferences.h"
#include "core/terminal/TerminalSession.h"
#include "core/workspace/Characters.h"
#include "core/workspace/Notices.h"
#include "core/workspace/PreferenceKeys.h"
#include "core/workspace/SessionManager.h"
#include "core/workspace/StoredList.h"

HistoryStore::HistoryStore(Preferences* store, SessionManager& sessions, Notices& notices,
                           QObject* parent)
    : QObject(parent), m_store(store), m_notices(notices) {
    if (m_store) {
        // Read entry by entry; what cannot be read is set aside.
        StoredList::read(*m_store, PreferenceKeys::history, [this](const QJsonValue& value) {
            std::optional<HistoryEntry> entry = HistoryEntry::fromJson(value);
            if (entry) {
                m_history.append(std::move(*entry));
            }
            return entry.has_value();
        });
    }
    connect(&sessions, &SessionManager::sessionFinished, this, &HistoryStore::record);
}

void HistoryStore::record(const TerminalSession& session, const QString& directory) {
    HistoryEntry entry;
    entry.id = Ids::newText();
    entry.provider = session.providerID();
    entry.title = session.title();
    entry.directory = directory;
    entry.started = session.started();
    entry.exitCode = session.exitCode().value_or(-1);
    entry.output = Characters::last(session.screen().plainText(), kOutputLength);

    m_history.prepend(entry);
    if (m_history.size() > kLimit) {
        m_history.resize(kLimit);
    }
    Q_EMIT historyChanged();
    save();
}

void HistoryStore::save() {
    if (m_store) {
        m_store->setValue(PreferenceKeys::history, HistoryEntry::encodeList(m_history));
    }
}

void HistoryStore::clear() {
    m_history.clear();
    Q_EMIT historyChanged();
    save();
    m_notices.notify(QStringLiteral("VELK history cleared."));
}

QList<HistoryEntry> HistoryStore::filtered(const QString& query) const {
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
