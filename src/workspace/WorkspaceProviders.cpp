// Tool discovery, connection checks, sign-in and resume terminals, and the user's
// connector definitions.

#include "workspace/Workspace.h"

#include "assistants/AssistantTraits.h"
#include "assistants/LocalTools.h"
#include "core/Background.h"
#include "platform/Preferences.h"
#include "workspace/PreferenceKeys.h"
#include "workspace/StoredList.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

bool isExecutableFile(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat status {};
    return ::stat(name.constData(), &status) == 0 && S_ISREG(status.st_mode) &&
           ::access(name.constData(), X_OK) == 0;
}

// The folders searched after PATH, where installers commonly put these tools.
QStringList extraToolFolders() {
    const QString home = QDir::homePath();
    return {
        home + QStringLiteral("/.local/bin"),
        home + QStringLiteral("/.kimi-code/bin"),
        home + QStringLiteral("/.cargo/bin"),
        QStringLiteral("/opt/homebrew/bin"),
        QStringLiteral("/usr/local/bin"),
        QStringLiteral("/usr/bin"),
        QStringLiteral("/bin"),
    };
}

}  // namespace

std::optional<QString> Workspace::executablePath(const QString& name) const {
    if (name.isEmpty()) {
        return std::nullopt;
    }
    if (name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1Char('~'))) {
        QString path = name;
        if (name == QLatin1String("~") || name.startsWith(QLatin1String("~/"))) {
            path = QDir::homePath() + name.mid(1);
        } else if (name.startsWith(QLatin1Char('~'))) {
            // "~user" forms name another account's home; they are not looked up.
            return std::nullopt;
        }
        return isExecutableFile(path) ? std::optional<QString>(path) : std::nullopt;
    }

    QStringList folders = qEnvironmentVariable("PATH").split(QLatin1Char(':'));
    folders += extraToolFolders();
    for (const QString& folder : folders) {
        const QString candidate = folder + QLatin1Char('/') + name;
        if (isExecutableFile(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

void Workspace::refreshProviders() {
    QMap<QString, QString> available;
    for (const Provider& provider : m_providers) {
        // A stored list may repeat an id; the first entry is the one that counts.
        if (available.contains(provider.id)) {
            continue;
        }
        if (const auto path = executablePath(provider.executable)) {
            available.insert(provider.id, *path);
        }
    }
    setAvailable(available);
}

Provider Workspace::provider(const QString& id) const {
    for (const Provider& provider : m_providers) {
        if (provider.id == id) {
            return provider;
        }
    }
    return Provider::defaults().constLast();
}

bool Workspace::isReady(const Provider& provider) const {
    return m_available.contains(provider.id) && !provider.templateText.trimmed().isEmpty();
}

int Workspace::readyCount() const {
    return int(std::count_if(m_providers.cbegin(), m_providers.cend(),
                             [this](const Provider& p) { return p.id != kShellID && isReady(p); }));
}

void Workspace::checkConnections() {
    if (m_checkingConnections) {
        return;
    }
    setCheckingConnections(true);

    const QMap<QString, QString> available = m_available;
    const int timeoutMs = m_connectionCheckTimeoutMs;
    // The status commands run one after the other off the main thread; the result replaces
    // the whole map.
    runInBackground(
        this,
        [available, timeoutMs] {
            QThread::currentThread()->setPriority(QThread::LowPriority);
            QMap<QString, QString> status;
            for (const AssistantTraits& traits : AssistantTraits::all()) {
                const auto path = available.constFind(traits.stock.id);
                if (traits.status.label && path != available.cend()) {
                    status.insert(path.key(),
                                  traits.status.label(LocalTools::run(
                                      *path, traits.status.arguments, QString(), timeoutMs)));
                }
            }
            QThread::currentThread()->setPriority(QThread::NormalPriority);
            return status;
        },
        [this](const QMap<QString, QString>& status) {
            setConnectionStatus(status);
            setCheckingConnections(false);
        });
}

QString Workspace::connectionLabel(const Provider& provider) const {
    if (isReady(provider)) {
        if (const auto label = m_connectionStatus.constFind(provider.id);
            label != m_connectionStatus.cend()) {
            return *label;
        }
        return provider.id == kShellID ? QStringLiteral("Ready")
                                       : QStringLiteral("Installed · login unchecked");
    }
    return AssistantTraits::of(provider.id).needsProfile() ? QStringLiteral("Profile needed")
                                                           : QStringLiteral("Not installed");
}

void Workspace::signIn(const Provider& provider) {
    const auto path = m_available.constFind(provider.id);
    if (path == m_available.cend()) {
        setEditingProvider(provider);
        setPresentConnector(true);
        return;
    }
    const QString& arguments = AssistantTraits::of(provider.id).commands.signIn;
    if (arguments.isEmpty()) {
        launch(QString(), provider);
        return;
    }
    const QString directory = hasFolder() ? m_folder : QDir::homePath();
    startSession(provider.id, QStringLiteral("Sign in · ") + provider.name,
                 shellQuote(*path) + u' ' + arguments, directory);
}

void Workspace::resume(const Provider& provider) {
    const auto found = m_available.constFind(provider.id);
    if (found == m_available.cend()) {
        return;
    }
    const QString path = *found;
    if (!hasFolder()) {
        chooseFolder();
        if (!hasFolder()) {
            return;
        }
    }
    const QString& arguments = AssistantTraits::of(provider.id).commands.resume;
    if (arguments.isEmpty()) {
        return;
    }
    startSession(provider.id, QStringLiteral("Resume · ") + provider.name,
                 shellQuote(path) + u' ' + arguments, m_folder);
}

void Workspace::saveProvider(const Provider& provider) {
    QList<Provider> providers = m_providers;
    const auto existing = std::find_if(providers.begin(), providers.end(),
                                       [&](const Provider& p) { return p.id == provider.id; });
    if (existing != providers.end()) {
        *existing = provider;
    } else {
        providers.insert(providers.isEmpty() ? 0 : providers.size() - 1, provider);
    }
    setProviders(providers);
    storeProviders();
    refreshProviders();
    notify(provider.name + QStringLiteral(" configuration saved."));
}

void Workspace::loadProviders() {
    QList<Provider> stored;
    const StoredList::Reading reading = StoredList::read(
        *m_services.preferences, PreferenceKeys::providers, [&stored](const QJsonValue& value) {
            std::optional<Provider> provider = Provider::fromJson(value);
            if (provider) {
                stored.append(std::move(*provider));
            }
            return provider.has_value();
        });
    // A list of which nothing could be read leaves the built-in assistants; an empty list
    // stored as such is the user's.
    if (reading.list && (reading.taken > 0 || reading.damaged == 0)) {
        m_providers = withoutDuplicateIDs(stored);
    }
}

void Workspace::storeProviders() {
    if (m_persist) {
        m_services.preferences->setValue(PreferenceKeys::providers,
                                         Provider::encodeList(m_providers));
    }
}

QList<Provider> Workspace::withoutDuplicateIDs(const QList<Provider>& providers) {
    QList<Provider> unique;
    QSet<QString> seen;
    for (const Provider& provider : providers) {
        if (!seen.contains(provider.id)) {
            seen.insert(provider.id);
            unique.append(provider);
        }
    }
    return unique;
}
