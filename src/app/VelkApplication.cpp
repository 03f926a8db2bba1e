#include "app/VelkApplication.h"

#include "appearance/HexColor.h"
#include "appearance/Theme.h"
#include "assistants/LocalTools.h"
#include "files/ExampleProject.h"
#include "platform/AppPaths.h"
#include "platform/LinuxDesktopServices.h"
#include "platform/LogindInhibitor.h"
#include "platform/Preferences.h"
#include "ui/QtDialogs.h"
#include "workspace/Workspace.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QLabel>
#include <QUuid>

VelkApplication::VelkApplication(CommandLine commandLine, std::unique_ptr<Preferences> preferences,
                                 QObject* parent)
    : QObject(parent),
      m_commandLine(std::move(commandLine)),
      m_preferences(std::move(preferences)),
      m_dialogs(std::make_unique<QtDialogs>()),
      m_inhibitor(std::make_unique<LogindInhibitor>(QDBusConnection::systemBus())),
      m_desktop(std::make_unique<LinuxDesktopServices>()) {}

VelkApplication::~VelkApplication() = default;

void VelkApplication::launch() {
    if (m_window) {
        return;
    }
    const bool persist = !m_commandLine.automation();
    m_workspace =
        std::make_unique<Workspace>(persist, WorkspaceServices{m_preferences.get(), m_dialogs.get(),
                                                               m_inhibitor.get(), m_desktop.get()});
    m_theme = std::make_unique<Theme>(persist, *m_preferences);

    openProjectFolder();

    // A plain window until the full main window exists.
    auto* window = new QLabel(QStringLiteral("VELK"));
    window->setAlignment(Qt::AlignCenter);
    window->setWindowTitle(QStringLiteral("VELK"));
    window->setMinimumSize(1180, 740);
    window->resize(1440, 900);
    window->setStyleSheet(QStringLiteral("background: #%1; color: #%2; font-size: 28px;")
                              .arg(m_theme->backgroundHex(), m_theme->accentHex()));
    m_window.reset(window);
    m_dialogs->setParentWindow(window);
    showMainWindow();
}

void VelkApplication::openProjectFolder() {
    if (m_commandLine.workspace) {
        m_workspace->adoptFolder(*m_commandLine.workspace);
        return;
    }
    if (m_workspace->hasFolder()) {
        return;
    }
    const QString resources = AppPaths::resourcesFolder();
    if (resources.isEmpty()) {
        return;
    }
    const QString source = QDir(resources).filePath(QStringLiteral("Example Project"));
    const QString destination =
        m_commandLine.automation() ? QDir::tempPath() + QStringLiteral("/VELK-examples-") +
                                         QUuid::createUuid().toString(QUuid::WithoutBraces)
                                   : LocalTools::applicationData(QStringLiteral("Example Project"));
    const auto prepared = ExampleProject::prepare(source, destination);
    if (!prepared) {
        m_workspace->notify(QStringLiteral(
            "Choose a project folder to get started. The example project could not be "
            "prepared."));
        return;
    }
    m_workspace->adoptFolder(*prepared);
}

void VelkApplication::showMainWindow() {
    if (!m_window) {
        return;
    }
    if (m_window->isMinimized()) {
        m_window->showNormal();
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}
