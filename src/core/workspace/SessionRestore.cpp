#include "core/workspace/SessionRestore.h"

#include "core/assistants/AssistantTraits.h"
#include "core/services/AppPaths.h"
#include "core/services/AtomicFile.h"
#include "core/services/Preferences.h"
#include "core/terminal/TerminalSession.h"
#include "core/workspace/Notices.h"
#include "core/workspace/PreferenceKeys.h"
#include "core/workspace/ProviderRegistry.h"
#include "core/workspace/SessionManager.h"
#include "core/workspace/TeamRunController.h"
#include "core/workspace/ToolSessionWatcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

QString uuidText(const QUuid& id) {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<QUuid> uuidFrom(const QJsonValue& value) {
    const QUuid id = QUuid::fromString(value.toString());
    return id.isNull() ? std::nullopt : std::optional(id);
}

}  // namespace

QJsonObject RememberedSession::toJson() const {
    QJsonObject object{{QStringLiteral("provider"), provider},
                       {QStringLiteral("directory"), directory},
                       {QStringLiteral("title"), title}};
    if (!toolSession.isEmpty()) {
        object.insert(QStringLiteral("toolSession"), toolSession);
    }
    if (run && copy) {
        object.insert(QStringLiteral("run"), uuidText(*run));
        object.insert(QStringLiteral("copy"), uuidText(*copy));
    }
    return object;
}

std::optional<RememberedSession> RememberedSession::fromJson(const QJsonObject& object) {
    RememberedSession session{object.value(QStringLiteral("provider")).toString(),
                              object.value(QStringLiteral("directory")).toString(),
                              object.value(QStringLiteral("title")).toString(),
                              object.value(QStringLiteral("toolSession")).toString(),
                              uuidFrom(object.value(QStringLiteral("run"))),
                              uuidFrom(object.value(QStringLiteral("copy")))};
    if (session.provider.isEmpty() || session.directory.isEmpty()) {
        return std::nullopt;
    }
    return session;
}

SessionRestore::SessionRestore(Preferences* store, SessionManager& sessions,
                               ProviderRegistry& providers, const TeamRunController& teamRuns,
                               Notices& notices, QObject* parent)
    : QObject(parent),
      m_store(store),
      m_sessions(sessions),
      m_providers(providers),
      m_teamRuns(teamRuns),
      m_notices(notices) {
    if (!m_store) {
        return;
    }
    m_automatic = m_store->value(PreferenceKeys::restoreSessionsAutomatically).toBool();
    m_sessions.setRemembersSessions(true);
    read();
    // Tools that take no id of ours tell theirs through their session files.
    auto* toolSessions = new ToolSessionWatcher(
        sessions,
        [this] {
            QSet<QString> offered;
            for (const RememberedSession& session : m_offered) {
                offered.insert(session.toolSession);
            }
            return offered;
        },
        this);
    connect(toolSessions, &ToolSessionWatcher::found, this, &SessionRestore::write);
    // Every change is written at once: a crash leaves the list as it was.
    connect(&sessions, &SessionManager::sessionStarted, this, &SessionRestore::write);
    connect(&sessions, &SessionManager::sessionFinished, this, &SessionRestore::write);
    connect(&sessions, &SessionManager::sessionsChanged, this, &SessionRestore::write);
    // The sessions stopped because VELK quits are the ones to come back.
    connect(&sessions, &SessionManager::stoppingAll, this, [this] { m_frozen = true; });
    if (m_automatic) {
        restore();
    }
}

QString SessionRestore::journalPath() {
    return AppPaths::dataRoot() + QStringLiteral("/open-sessions.json");
}

QString SessionRestore::offerText() const {
    const qsizetype count = m_offered.size();
    return QStringLiteral("Restore %1 session%2")
        .arg(count)
        .arg(count == 1 ? QString() : QStringLiteral("s"));
}

void SessionRestore::setAutomatic(bool automatic) {
    if (m_automatic == automatic) {
        return;
    }
    m_automatic = automatic;
    if (m_store) {
        m_store->setValue(PreferenceKeys::restoreSessionsAutomatically, automatic);
    }
    Q_EMIT automaticChanged();
}

void SessionRestore::read() {
    QFile file(journalPath());
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    for (const QJsonValue& value : QJsonDocument::fromJson(file.readAll()).array()) {
        const auto session = RememberedSession::fromJson(value.toObject());
        // A team-run copy's one-shot session is not resumed: its card offers a restart.
        if (session && !session->copy) {
            m_offered.append(*session);
        }
    }
    if (!m_offered.isEmpty()) {
        Q_EMIT offeredChanged();
    }
}

void SessionRestore::write() {
    if (!m_store || m_frozen) {
        return;
    }
    // Sessions not answered yet stay listed, so that a second crash does not lose them.
    QJsonArray list;
    for (const RememberedSession& offered : m_offered) {
        list.append(offered.toJson());
    }
    for (const SessionPointer& session : m_sessions.sessions()) {
        if (!session->running()) {
            continue;
        }
        RememberedSession remembered{session->providerID(), session->directory(),
                                     session->title(),      m_sessions.toolSessionID(session->id()),
                                     std::nullopt,          std::nullopt};
        for (const TeamRun& run : m_teamRuns.teamRuns()) {
            for (const RunCopy& copy : run.copies) {
                if (copy.session == session->id() || copy.setupSession == session->id()) {
                    remembered.run = run.id;
                    remembered.copy = copy.id;
                }
            }
        }
        list.append(remembered.toJson());
    }
    const QString path = journalPath();
    QDir().mkpath(QFileInfo(path).path());
    // A journal that cannot be written costs only the offer after a crash.
    (void)AtomicFile::write(path, QJsonDocument(list).toJson(QJsonDocument::Compact));
}

QString SessionRestore::restartCommand(const RememberedSession& session) const {
    const Provider provider = m_providers.provider(session.provider);
    const AssistantTraits& traits = AssistantTraits::of(session.provider);
    const auto path = m_providers.available().constFind(session.provider);
    if (!traits.isBuiltIn() || path == m_providers.available().cend() ||
        !traits.hasStockTemplate(provider)) {
        return provider.command(QString());
    }
    // The restarted session tells VELK when it waits, as a freshly started one does.
    QString executable = shellQuote(*path) + u' ';
    if (!traits.commands.notifications.isEmpty()) {
        executable += traits.commands.notifications + u' ';
    }
    if (!session.toolSession.isEmpty() && !traits.commands.resumeSession.isEmpty()) {
        return executable + AssistantTraits::withTask(
                                traits.commands.resumeSession, QString(),
                                {{QStringLiteral("session"), shellQuote(session.toolSession)}});
    }
    if (!traits.commands.resume.isEmpty()) {
        return executable + traits.commands.resume;
    }
    return provider.command(QString());
}

void SessionRestore::restore() {
    const QList<RememberedSession> offered = std::exchange(m_offered, {});
    Q_EMIT offeredChanged();
    int missing = 0;
    for (const RememberedSession& session : offered) {
        if (!QFileInfo(session.directory).isDir()) {
            ++missing;
            continue;
        }
        const QString toolSession = session.toolSession;
        m_sessions.startSession(session.provider, session.title, restartCommand(session),
                                session.directory, [this, toolSession](TerminalSession& started) {
                                    if (!toolSession.isEmpty()) {
                                        m_sessions.setToolSessionID(started.id(), toolSession);
                                    }
                                });
    }
    if (missing > 0) {
        m_notices.notify(QStringLiteral("%1 session%2 could not be restored: the folder is gone.")
                             .arg(missing)
                             .arg(missing == 1 ? QString() : QStringLiteral("s")));
    }
    write();
}

void SessionRestore::dismiss() {
    if (m_offered.isEmpty()) {
        return;
    }
    m_offered.clear();
    Q_EMIT offeredChanged();
    write();
}
