// Tool discovery, connection checks and the user's connector definitions.

#include "core/workspace/ProviderRegistry.h"

#include "core/assistants/AssistantTraits.h"
#include "core/assistants/LocalTools.h"
#include "core/base/Background.h"
#include "core/base/Publish.h"
#include "core/services/Preferences.h"
#include "core/workspace/Notices.h"
#include "core/workspace/PreferenceKeys.h"
#include "core/workspace/StoredList.h"

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
        home + QStringLiteral("/.npm-global/bin"),
        home + QStringLiteral("/.kimi-code/bin"),
        home + QStringLiteral("/.cargo/bin"),
        QStringLiteral("/usr/local/bin"),
        QStringLiteral("/usr/bin"),
        QStringLiteral("/bin"),
    };
}

// Texts the built-ins had in earlier versions. A stored built-in that still has one gets
// today's text from the table of built-ins; a text the user changed stays.
struct FormerText {
    const char* id;
    QString Provider::*field;
    const char* text;
};
constexpr FormerText kFormerTexts[] = {
    {"shell", &Provider::subtitle, "Your Mac · Zsh shell"},
    {"shell", &Provider::executable, "/bin/zsh"},
    {"shell", &Provider::templateText, "/bin/zsh -l"},
};

Provider withCurrentTexts(Provider provider) {
    for (const FormerText& former : kFormerTexts) {
        if (provider.id == QLatin1String(former.id) &&
            provider.*former.field == QString::fromUtf8(former.text)) {
            provider.*former.field = AssistantTraits::of(provider.id).stock.*former.field;
        }
    }
    return provider;
}

// A stored list that repeats an id keeps the first entry with it.
QList<Provider> withoutDuplicateIDs(const QList<Provider>& providers) {
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

// A stored list gains the built-ins it lacks, such as one added in a later version; the
// user's connectors and changes stay as stored. Each goes after the built-in that comes
// before it in card order, or else before the one that comes after it.
QList<Provider> withMissingBuiltIns(QList<Provider> providers) {
    const QList<Provider>& builtIns = Provider::defaults();
    const auto position = [&providers](const QString& id) {
        return std::find_if(providers.cbegin(), providers.cend(),
                            [&id](const Provider& p) { return p.id == id; }) -
               providers.cbegin();
    };
    for (qsizetype index = 0; index < builtIns.size(); ++index) {
        if (position(builtIns[index].id) < providers.size()) {
            continue;
        }
        qsizetype at = providers.size();
        if (index > 0 && position(builtIns[index - 1].id) < providers.size()) {
            at = position(builtIns[index - 1].id) + 1;
        } else {
            for (qsizetype next = index + 1; next < builtIns.size(); ++next) {
                if (position(builtIns[next].id) < providers.size()) {
                    at = position(builtIns[next].id);
                    break;
                }
            }
        }
        providers.insert(at, builtIns[index]);
    }
    return providers;
}

}  // namespace

ProviderRegistry::ProviderRegistry(Preferences* store, Notices& notices, QObject* parent)
    : QObject(parent), m_store(store), m_notices(notices), m_providers(Provider::defaults()) {
    if (m_store) {
        loadProviders();
    }
    refreshProviders();
}

std::optional<QString> ProviderRegistry::executablePath(const QString& name) {
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

    QStringList folders = LoginShell::searchPath().split(QLatin1Char(':'), Qt::SkipEmptyParts);
    folders += extraToolFolders();
    folders.removeDuplicates();  // PATH usually names some of the extra folders too
    for (const QString& folder : folders) {
        const QString candidate = folder + QLatin1Char('/') + name;
        if (isExecutableFile(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

void ProviderRegistry::refreshProviders() {
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
    // What a check said of a tool no longer holds for another executable found in its place.
    const qsizetype checked = m_connectionStatus.size();
    m_connectionStatus.removeIf([&available, this](const auto& status) {
        return available.value(status.key()) != m_available.value(status.key());
    });
    publish(this, m_available, available, &ProviderRegistry::availableChanged);
    if (m_connectionStatus.size() != checked) {
        Q_EMIT connectionStatusChanged();
    }
}

Provider ProviderRegistry::provider(const QString& id) const {
    for (const Provider& provider : m_providers) {
        if (provider.id == id) {
            return provider;
        }
    }
    return Provider::defaults().constLast();
}

bool ProviderRegistry::isReady(const Provider& provider) const {
    return m_available.contains(provider.id) && !provider.templateText.trimmed().isEmpty();
}

int ProviderRegistry::readyCount() const {
    return int(std::count_if(m_providers.cbegin(), m_providers.cend(),
                             [this](const Provider& p) { return p.id != kShellID && isReady(p); }));
}

void ProviderRegistry::checkConnections() {
    if (m_checkingConnections) {
        // What a running check reads may be from before the change that asks again (a
        // sign-in that just ended): one more check follows it.
        m_checkAgain = true;
        return;
    }
    m_checkingConnections = true;
    Q_EMIT checkingConnectionsChanged();
    startConnectionCheck();
}

void ProviderRegistry::startConnectionCheck() {
    m_checkAgain = false;
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
            m_connectionStatus = status;
            Q_EMIT connectionStatusChanged();
            if (m_checkAgain) {
                startConnectionCheck();
                return;
            }
            m_checkingConnections = false;
            Q_EMIT checkingConnectionsChanged();
        });
}

void ProviderRegistry::adoptLoginEnvironment(int timeoutMs) {
    const QString shell = LoginShell::userShell();
    runInBackground(
        this, [shell, timeoutMs] { return LoginShell::readEnvironment(shell, timeoutMs); },
        [this](const Result<QHash<QString, QString>>& environment) {
            if (environment) {
                LoginShell::adopt(*environment);
                refreshProviders();
            } else {
                m_notices.notify(
                    QStringLiteral("Could not read your shell’s environment (%1). Assistants "
                                   "whose folder your shell’s startup files add to PATH may "
                                   "not be found.")
                        .arg(environment.error().message));
            }
            Q_EMIT loginEnvironmentSettled();
        });
}

QString ProviderRegistry::connectionLabel(const Provider& provider) const {
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

void ProviderRegistry::saveProvider(const Provider& provider) {
    QList<Provider> providers = m_providers;
    const auto existing = std::find_if(providers.begin(), providers.end(),
                                       [&](const Provider& p) { return p.id == provider.id; });
    if (existing != providers.end()) {
        *existing = provider;
    } else {
        providers.insert(providers.isEmpty() ? 0 : providers.size() - 1, provider);
    }
    m_providers = providers;
    Q_EMIT providersChanged();
    storeProviders();
    refreshProviders();
    m_notices.notify(provider.name + QStringLiteral(" configuration saved."));
}

void ProviderRegistry::loadProviders() {
    QList<Provider> stored;
    const StoredList::Reading reading =
        StoredList::read(*m_store, PreferenceKeys::providers, [&stored](const QJsonValue& value) {
            std::optional<Provider> provider = Provider::fromJson(value);
            if (provider) {
                stored.append(withCurrentTexts(std::move(*provider)));
            }
            return provider.has_value();
        });
    // A list of which nothing could be read leaves the built-in assistants.
    if (reading.list && (reading.taken > 0 || reading.damaged == 0)) {
        m_providers = withMissingBuiltIns(withoutDuplicateIDs(stored));
    }
}

void ProviderRegistry::storeProviders() {
    if (m_store) {
        m_store->setValue(PreferenceKeys::providers, Provider::encodeList(m_providers));
    }
}
