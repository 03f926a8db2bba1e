#pragma once

#include "core/assistants/LoginShell.h"
#include "core/assistants/Provider.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

#include <optional>

class Notices;
class Preferences;

// The assistants the user can run: the stored provider list, which of them are installed
// (discovery), their sign-in state (connection checks) and the user's connectors.
// Main thread only.
class ProviderRegistry : public QObject {
    Q_OBJECT

public:
    // With a `store` the registry reads the stored list now and stores each change; without
    // one it keeps the built-in assistants and writes nothing.
    ProviderRegistry(Preferences* store, Notices& notices, QObject* parent = nullptr);

    const QList<Provider>& providers() const { return m_providers; }
    // Provider id → executable path of each installed provider.
    const QMap<QString, QString>& available() const { return m_available; }
    // Provider id → what its status command said.
    const QMap<QString, QString>& connectionStatus() const { return m_connectionStatus; }
    bool checkingConnections() const { return m_checkingConnections; }
    // How long each status command of a connection check may take (12 s unless changed).
    void setConnectionCheckTimeoutMs(int ms) { m_connectionCheckTimeoutMs = ms; }

    // The executable a provider names: a path (a leading "~" means the home folder), or a
    // name searched in PATH and then in the usual tool folders.
    static std::optional<QString> executablePath(const QString& name);
    // Looks for every provider's executable again.
    void refreshProviders();
    // The provider with `id`; the shell when there is none.
    Provider provider(const QString& id) const;
    bool isReady(const Provider& provider) const;
    // Ready providers other than the shell.
    int readyCount() const;
    // Runs the installed assistants' status commands in the background.
    void checkConnections();
    // Reads the user's login-shell environment in the background and adopts it, so that
    // discovery, status checks and every session see what the user's own terminal sees, then
    // discovers the tools again. When the shell fails or takes longer than `timeoutMs`, VELK
    // goes on with its own environment and says so. Emits loginEnvironmentSettled either way.
    void adoptLoginEnvironment(int timeoutMs = LoginShell::kEnvironmentTimeoutMs);
    QString connectionLabel(const Provider& provider) const;
    // Replaces the provider with the same id in place, or inserts it before the last entry
    // (the shell); stores the list and refreshes the installed tools.
    void saveProvider(const Provider& provider);

Q_SIGNALS:
    void providersChanged();
    void availableChanged();
    void connectionStatusChanged();
    void checkingConnectionsChanged();
    void loginEnvironmentSettled();

private:
    void startConnectionCheck();
    // Reads the stored list entry by entry; what cannot be read is set aside.
    void loadProviders();
    void storeProviders();

    Preferences* m_store;
    Notices& m_notices;
    QList<Provider> m_providers;
    QMap<QString, QString> m_available;
    QMap<QString, QString> m_connectionStatus;
    bool m_checkingConnections = false;
    bool m_checkAgain = false;  // asked for while a check ran
    int m_connectionCheckTimeoutMs = 12000;
};
