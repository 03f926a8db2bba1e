#include "core/workspace/HistoryStore.h"

#include "core/base/Background.h"
#include "core/base/Ids.h"
#include "core/services/Preferences.h"
#include "core/terminal/TerminalSession.h"
#include "core/workspace/Characters.h"
#include "core/workspace/Notices.h"
#include "core/workspace/PreferenceKeys.h"
#include "core/workspace/SessionManager.h"
#include "core/workspace/StoredList.h"

#include <QDir>
#include <QPointer>
#include <QSet>

namespace {

QList<HistoryEntry> readStoredKey(Preferences& store) {
    QList<HistoryEntry> entries;
    // Read entry by entry; what cannot be read is set aside.
    StoredList::read(store, PreferenceKeys::history, [&entries](const QJsonValue& value) {
        std::optional<HistoryEntry> entry = HistoryEntry::fromJson(value);
        if (entry) {
            entries.append(std::move(*entry));
        }
        return entry.has_value();
    });
    return entries;
}

}  // namespace

HistoryStore::HistoryStore(Preferences* store, SessionManager& sessions, Notices& notices,
                           QObject* parent)
    : QObject(parent), m_store(store), m_notices(notices) {
    connect(&sessions, &SessionManager::sessionFinished, this, &HistoryStore::record);
    if (!m_store) {
        return;
    }
    const QString folder = m_store->folder();
    if (folder.isEmpty()) {
        m_history = readStoredKey(*m_store);
        return;
    }
    m_file = std::make_unique<HistoryFile>(QDir(folder).filePath(QString::fromLatin1(kFileName)));
    m_loaded = false;
    // A history under the preference key (from before the file, or left by a move cut short)
    // joins what the file holds; the key goes once the file holds both.
    QList<HistoryEntry> fromKey;
    const bool hasKey = m_store->contains(PreferenceKeys::history);
    if (hasKey) {
        fromKey = readStoredKey(*m_store);
    }
    m_file->enqueue([guard = QPointer<QObject>(this), self = this, path = m_file->path(), fromKey,
                     hasKey]() mutable {
        HistoryFile::Contents contents = HistoryFile::read(path, kLimit);
        bool moved = false;
        if (hasKey) {
            // The file's entries are newer than the key's: the key stopped changing when the
            // file began.
            QSet<QString> ids;
            for (const HistoryEntry& entry : contents.entries) {
                ids.insert(entry.id);
            }
            for (const HistoryEntry& entry : fromKey) {
                if (contents.entries.size() < kLimit && !ids.contains(entry.id)) {
                    contents.entries.append(entry);
                }
            }
            moved = HistoryFile::rewrite(path, contents.entries).ok();
            if (moved) {
                contents.lines = int(contents.entries.size());
            }
        }
        Background::deliver(std::move(guard), [self, contents = std::move(contents), moved] {
            if (moved) {
                self->m_store->remove(PreferenceKeys::history);
            }
            self->m_fileLines = contents.lines;
            self->load(contents.entries);
        });
    });
}

HistoryStore::~HistoryStore() = default;

void HistoryStore::waitForWrites() const {
    if (m_file) {
        m_file->waitForIdle();
    }
}

void HistoryStore::load(QList<HistoryEntry> stored) {
    m_loaded = true;
    if (m_clearedBeforeLoad) {
        stored.clear();
    }
    QList<HistoryEntry> history = std::move(m_recordedBeforeLoad);
    for (HistoryEntry& entry : stored) {
        if (history.size() >= kLimit) {
            break;
        }
        history.append(std::move(entry));
    }
    m_recordedBeforeLoad.clear();
    m_history = std::move(history);
    Q_EMIT historyChanged();
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
    if (m_describe) {
        m_describe(session, entry);
    }

    m_history.prepend(entry);
    if (m_history.size() > kLimit) {
        m_history.resize(kLimit);
    }
    if (!m_loaded) {
        m_recordedBeforeLoad.prepend(entry);
    }
    Q_EMIT historyChanged();
    if (!m_file) {
        save();
    } else if (m_loaded && m_fileLines >= 2 * kLimit) {
        // The file keeps every appended line until it holds twice the limit.
        rewriteFile();
    } else {
        ++m_fileLines;
        m_file->enqueue([path = m_file->path(), entry] {
            if (const Result<void> written = HistoryFile::append(path, entry); !written) {
                qWarning("%s", qUtf8Printable(written.error().message));
            }
        });
    }
}

void HistoryStore::save() {
    if (m_store) {
        m_store->setValue(PreferenceKeys::history, HistoryEntry::encodeList(m_history));
    }
}

void HistoryStore::rewriteFile() {
    m_fileLines = int(m_history.size());
    m_file->enqueue([path = m_file->path(), entries = m_history] {
        if (const Result<void> written = HistoryFile::rewrite(path, entries); !written) {
            qWarning("%s", qUtf8Printable(written.error().message));
        }
    });
}

void HistoryStore::clear() {
    m_history.clear();
    if (!m_loaded) {
        m_recordedBeforeLoad.clear();
        m_clearedBeforeLoad = true;
    }
    Q_EMIT historyChanged();
    if (m_file) {
        rewriteFile();
    } else {
        save();
    }
    m_notices.notify(QStringLiteral("VELK history cleared."));
}

QList<HistoryEntry> HistoryStore::filtered(const QString& query) const {
    if (query.isEmpty()) {
        return m_history;
    }
    QList<HistoryEntry> matches;
    for (const HistoryEntry& entry : m_history) {
        if (entry.title.contains(query, Qt::CaseInsensitive) ||
            entry.provider.contains(query, Qt::CaseInsensitive) ||
            entry.assistant.contains(query, Qt::CaseInsensitive)) {
            matches.append(entry);
        }
    }
    return matches;
}
