#pragma once

#include "ui/assistants/ConnectorEditor.h"

#include <QPointer>
#include <QWidget>

class QGridLayout;
class QPushButton;
class DesktopServices;
class Launcher;
class Navigator;
class ProviderRegistry;
class Theme;
struct Provider;

// The Assistants page: what VELK connects to, one card per provider with its state and
// actions, and the connector editor sheet, shown while the workspace asks for it.
class AssistantsPage : public QWidget {
    Q_OBJECT
public:
    // `desktop` may be null: then documentation links do not open.
    AssistantsPage(ProviderRegistry& providers, Launcher& launcher, Navigator& navigator,
                   DesktopServices* desktop, Theme& theme, QWidget* parent = nullptr);

    QPushButton* addConnectorButton() const { return m_addConnector; }
    QPushButton* checkConnectionsButton() const { return m_checkConnections; }
    // The card of a provider (object name "provider:<id>"); null when it has none.
    QWidget* card(const QString& providerID) const;
    // The connector editor shown now; null when none is open.
    ConnectorEditor* connectorEditor() const { return m_editor; }

private:
    QWidget* buildCard(const Provider& provider);
    void rebuildCards();
    void syncCheckButton();
    void syncConnector();
    void applyTheme();

    ProviderRegistry& m_providers;
    Launcher& m_launcher;
    Navigator& m_navigator;
    DesktopServices* m_desktop;
    Theme& m_theme;
    QPushButton* m_addConnector = nullptr;
    QPushButton* m_checkConnections = nullptr;
    QWidget* m_cardArea = nullptr;
    QGridLayout* m_cards = nullptr;
    QPointer<ConnectorEditor> m_editor;
};
