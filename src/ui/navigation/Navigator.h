#pragma once

#include "core/assistants/Provider.h"
#include "ui/navigation/Destination.h"

#include <QObject>

#include <optional>

class Launcher;
class SessionManager;

// Where the window is: the page shown, focus mode, and the connector sheet with the
// provider it edits. Every started session brings the Workspace page forward, and a
// provider that cannot run opens its connector.
class Navigator : public QObject {
    Q_OBJECT

public:
    Navigator(const SessionManager& sessions, const Launcher& launcher, QObject* parent = nullptr);

    Destination destination() const { return m_destination; }
    void setDestination(Destination destination);
    bool focusMode() const { return m_focusMode; }
    void setFocusMode(bool focusMode);
    bool presentConnector() const { return m_presentConnector; }
    void setPresentConnector(bool present);
    const std::optional<Provider>& editingProvider() const { return m_editingProvider; }
    void setEditingProvider(const std::optional<Provider>& provider);
    // Opens the connector sheet on `provider`.
    void showConnector(const Provider& provider);
    // Shows `file` (absolute) in the Files page's editor with the caret on `line` (1-based).
    void showInEditor(const QString& file, int line);

Q_SIGNALS:
    void destinationChanged();
    void focusModeChanged();
    void presentConnectorChanged();
    void editingProviderChanged();
    // The Files page opens the file at the line; the page is brought forward after it.
    void editorLineRequested(const QString& file, int line);

private:
    Destination m_destination = Destination::Workspace;
    bool m_focusMode = false;
    bool m_presentConnector = false;
    std::optional<Provider> m_editingProvider;
};
