#include "workspace/Workspace.h"

#include "actions/ComputerPlanner.h"
#include "actions/WorkspacePlannerHost.h"

#include "platform/DesktopServices.h"
#include "platform/Dialogs.h"
#include "platform/Preferences.h"
#include "terminal/TerminalSession.h"
#include "workspace/PreferenceKeys.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <QUrl>

namespace {
constexpr int kRecentFolderLimit = 8;
}

Workspace::Workspace(bool persist, WorkspaceServices services, QObject* parent)
    : QObject(parent),
      m_persist(persist),
      m_services(services),
      m_providers(Provider::defaults()),
      m_activity(services.inhibitor) {
    if (m_persist) {
        loadPreferences();
    }
    if (m_services.stepRunner && m_services.dialogs) {
        m_plannerHost = std::make_unique<WorkspacePlannerHost>(*this);
        m_computer = std::make_unique<ComputerPlanner>(*m_plannerHost, *m_services.stepRunner,
                                                       *m_services.dialogs);
    }
    refreshProviders();
    refreshFiles();
    refreshPermissions();
    if (m_persist) {
        checkConnections();
        loadTeamRuns();
    }
}

Workspace::~Workspace() {
    // Sessions may outlive the model (a view can still hold one); their finish handling
    // must not reach a model whose members are already being torn down.
    for (const QList<SessionPointer>* list : {&m_sessions, &m_closingSessions}) {
        for (const SessionPointer& session : *list) {
            session->setOnFinish({});
        }
    }
}

void Workspace::loadPreferences() {
    Preferences& preferences = *m_services.preferences;

    m_keepAwake = preferences.value(PreferenceKeys::keepAwake).toBool();
    updateAwakeState();

    loadProviders();

    m_recentFolders = preferences.value(PreferenceKeys::recentFolders).toStringList();

    const QVariant storedFolder = preferences.value(PreferenceKeys::workspace);
    if (storedFolder.isValid()) {
        const QString path = storedFolder.toString();
        if (!path.isEmpty() && QFileInfo::exists(path)) {
            m_folder = QDir::cleanPath(path);
        }
    }

    loadHistory();
}

// --- Page and view state -----------------------------------------------------------------

void Workspace::setDestination(Destination destination) {
    if (m_destination != destination) {
        m_destination = destination;
        Q_EMIT destinationChanged();
    }
}

void Workspace::setFocusMode(bool focusMode) {
    if (m_focusMode != focusMode) {
        m_focusMode = focusMode;
        Q_EMIT focusModeChanged();
    }
}

void Workspace::setPrompt(const QString& prompt) {
    if (m_prompt != prompt) {
        m_prompt = prompt;
        Q_EMIT promptChanged();
    }
}

void Workspace::setSelectedProviders(const QSet<QString>& ids) {
    if (m_selectedProviders != ids) {
        m_selectedProviders = ids;
        Q_EMIT selectedProvidersChanged();
    }
}

void Workspace::setSeparateCopies(bool separateCopies) {
    if (m_separateCopies != separateCopies) {
        m_separateCopies = separateCopies;
        Q_EMIT separateCopiesChanged();
    }
}

void Workspace::setRunnerCommand(const QString& command) {
    if (m_runnerCommand != command) {
        m_runnerCommand = command;
        Q_EMIT runnerCommandChanged();
    }
}

// --- Project folder ----------------------------------------------------------------------

QString Workspace::folderName() const {
    if (m_folder.isEmpty()) {
        return QStringLiteral("Choose a project");
    }
    return QFileInfo(m_folder).fileName();
}

void Workspace::setFolderField(const QString& path) {
    if (m_folder != path) {
        m_folder = path;
        Q_EMIT folderChanged();
    }
}

void Workspace::setFolder(const QString& path) {
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists() || !info.isDir()) {
        notify(
            QStringLiteral("This project folder is no longer available. Choose another folder."));
        return;
    }
    const QString folder = QDir::cleanPath(info.absoluteFilePath());

    setFolderField(folder);
    setSelectedFile(QString());
    setEditorText(QString());
    setSavedText(QString());
    setBrowsingFolder(folder);

    m_recentFolders.removeAll(folder);
    m_recentFolders.prepend(folder);
    while (m_recentFolders.size() > kRecentFolderLimit) {
        m_recentFolders.removeLast();
    }
    Q_EMIT recentFoldersChanged();

    if (m_persist) {
        m_services.preferences->setValue(PreferenceKeys::workspace, folder);
        m_services.preferences->setValue(PreferenceKeys::recentFolders, m_recentFolders);
    }

    refreshFiles();
    notify(QStringLiteral("Workspace opened: ") + QFileInfo(folder).fileName());
}

void Workspace::adoptFolder(const QString& path) {
    setFolderField(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    refreshFiles(m_folder);
}

void Workspace::chooseFolder() {
    if (!confirmDiscard()) {
        return;
    }
    Dialogs::OpenPanel panel;
    panel.message = QStringLiteral("Choose the folder your assistants will work in.");
    panel.startFolder = m_folder.isEmpty() ? QDir::homePath() : m_folder;
    panel.chooseFiles = false;
    panel.chooseFolders = true;
    if (const auto chosen = m_services.dialogs->open(panel)) {
        setFolder(*chosen);
    }
}

void Workspace::revealFolder() {
    if (m_folder.isEmpty()) {
        chooseFolder();
        return;
    }
    m_services.desktop->openUrl(QUrl::fromLocalFile(m_folder).toString());
}

// --- Notices -----------------------------------------------------------------------------

void Workspace::setToast(const QString& toast) {
    if (m_toast != toast) {
        m_toast = toast;
        Q_EMIT toastChanged();
    }
}

void Workspace::notify(const QString& message) {
    const QUuid token = QUuid::createUuid();
    m_toastToken = token;
    // Re-announce even an identical text so the view restarts its presentation.
    m_toast = message;
    Q_EMIT toastChanged();
    QPointer<Workspace> self(this);
    // Precise: a coarse timer may fire up to 5% early, cutting the notice short.
    QTimer::singleShot(m_noticeDurationMs, Qt::PreciseTimer, this, [self, token] {
        if (self && self->m_toastToken == token) {
            self->setToast(QString());
        }
    });
}

// --- Keep-awake and permissions ----------------------------------------------------------

void Workspace::setKeepAwake(bool keepAwake) {
    if (m_keepAwake == keepAwake) {
        return;
    }
    m_keepAwake = keepAwake;
    if (m_persist) {
        m_services.preferences->setValue(PreferenceKeys::keepAwake, keepAwake);
    }
    Q_EMIT keepAwakeChanged();
    updateAwakeState();
}

void Workspace::updateAwakeState() {
    if (!m_keepAwake) {
        m_activity.setActive(false);
        return;
    }
    const bool anyRunning = std::any_of(m_sessions.cbegin(), m_sessions.cend(),
                                        [](const SessionPointer& s) { return s->running(); });
    m_activity.setActive(anyRunning);
}

void Workspace::refreshPermissions() {
    const bool trusted = m_services.desktop && m_services.desktop->accessibilityTrusted();
    if (m_accessibility != trusted) {
        m_accessibility = trusted;
        Q_EMIT accessibilityChanged();
    }
}

void Workspace::openAccessibility() {
    if (const Result<void> opened =
            m_services.desktop->openPrivacySettings(DesktopServices::PrivacyPane::Accessibility);
        !opened) {
        notify(opened.error().message);
    }
}

void Workspace::openScreenPermission() {
    if (const Result<void> opened =
            m_services.desktop->openPrivacySettings(DesktopServices::PrivacyPane::ScreenRecording);
        !opened) {
        notify(opened.error().message);
    }
}

void Workspace::openApplication() {
    Dialogs::OpenPanel panel;
    panel.startFolder = QStringLiteral("/usr/share/applications");
    panel.chooseFiles = true;
    panel.chooseFolders = false;
    panel.nameFilters = {QStringLiteral("Applications (*.desktop)")};
    const auto chosen = m_services.dialogs->open(panel);
    if (!chosen || QFileInfo(*chosen).suffix() != QStringLiteral("desktop")) {
        return;
    }
    if (const Result<void> launched = m_services.desktop->launchDesktopEntry(*chosen); !launched) {
        notify(launched.error().message);
    }
}

// --- Simple published fields -------------------------------------------------------------

void Workspace::setPresentConnector(bool present) {
    if (m_presentConnector != present) {
        m_presentConnector = present;
        Q_EMIT presentConnectorChanged();
    }
}

void Workspace::setEditingProvider(const std::optional<Provider>& provider) {
    m_editingProvider = provider;
    Q_EMIT editingProviderChanged();
}

void Workspace::setActiveSessionID(const std::optional<QUuid>& id) {
    if (m_activeSessionID != id) {
        m_activeSessionID = id;
        Q_EMIT activeSessionIDChanged();
    }
}

void Workspace::setAvailable(const QMap<QString, QString>& available) {
    if (m_available != available) {
        m_available = available;
        Q_EMIT availableChanged();
    }
}

void Workspace::setConnectionStatus(const QMap<QString, QString>& status) {
    m_connectionStatus = status;
    Q_EMIT connectionStatusChanged();
}

void Workspace::setCheckingConnections(bool checking) {
    if (m_checkingConnections != checking) {
        m_checkingConnections = checking;
        Q_EMIT checkingConnectionsChanged();
    }
}

void Workspace::setProviders(const QList<Provider>& providers) {
    m_providers = providers;
    Q_EMIT providersChanged();
}

void Workspace::setHistory(const QList<HistoryEntry>& history) {
    m_history = history;
    Q_EMIT historyChanged();
}

void Workspace::setFiles(const QList<FileEntry>& files) {
    m_files = files;
    Q_EMIT filesChanged();
}

void Workspace::setBrowsingFolder(const QString& folder) {
    if (m_browsingFolder != folder) {
        m_browsingFolder = folder;
        Q_EMIT browsingFolderChanged();
    }
}

void Workspace::setSelectedFile(const QString& file) {
    if (m_selectedFile != file) {
        m_selectedFile = file;
        Q_EMIT selectedFileChanged();
    }
}

void Workspace::setEditorText(const QString& text) {
    if (m_editorText != text) {
        m_editorText = text;
        Q_EMIT editorTextChanged();
    }
}

void Workspace::setSavedText(const QString& text) {
    if (m_savedText != text) {
        m_savedText = text;
        Q_EMIT savedTextChanged();
    }
}

void Workspace::setSearch(const QString& search) {
    if (m_search != search) {
        m_search = search;
        Q_EMIT searchChanged();
    }
}
