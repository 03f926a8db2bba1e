#include "ui/navigation/Navigator.h"

#include "core/base/Publish.h"
#include "core/workspace/Launcher.h"
#include "core/workspace/SessionManager.h"

Navigator::Navigator(const SessionManager& sessions, const Launcher& launcher, QObject* parent)
    : QObject(parent) {
    connect(&sessions, &SessionManager::sessionStarted, this,
            [this] { setDestination(Destination::Workspace); });
    connect(&launcher, &Launcher::connectorRequested, this, &Navigator::showConnector);
}

void Navigator::setDestination(Destination destination) {
    publish(this, m_destination, destination, &Navigator::destinationChanged);
}

void Navigator::setFocusMode(bool focusMode) {
    publish(this, m_focusMode, focusMode, &Navigator::focusModeChanged);
}

void Navigator::setPresentConnector(bool present) {
    publish(this, m_presentConnector, present, &Navigator::presentConnectorChanged);
}

void Navigator::setEditingProvider(const std::optional<Provider>& provider) {
    m_editingProvider = provider;
    Q_EMIT editingProviderChanged();
}

void Navigator::showConnector(const Provider& provider) {
    setEditingProvider(provider);
    setPresentConnector(true);
}

void Navigator::showInEditor(const QString& file, int line) {
    Q_EMIT editorLineRequested(file, line);
    setDestination(Destination::FilesAndRunner);
}
