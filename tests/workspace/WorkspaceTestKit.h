#pragma once

// Shared set-up of the workspace tests: a workspace on in-memory preferences, scripted
// dialogs and fake platform services, with the fake assistant tools first on PATH and a
// temporary project folder.

#include "core/base/Background.h"
#include "core/services/DesktopServices.h"
#include "core/services/Dialogs.h"
#include "core/services/PowerInhibitor.h"
#include "core/services/Preferences.h"
#include "core/terminal/TerminalSession.h"
#include "core/workspace/Workspace.h"
#include "support/FakeServices.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <vector>

// Readable texts in test failure messages.
inline void PrintTo(const QString& text, std::ostream* stream) {
    *stream << '"' << text.toStdString() << '"';
}

namespace testing_support {

class WorkspaceTest : public ::testing::Test {
protected:
    // A workspace without persistence, the project folder opened.
    Workspace& openWorkspace(bool persist = false) {
        createWorkspace(persist).notices.setDurationMs(60000);
        m_workspace->launcher.setSeparateCopies(false);
        m_workspace->project.setFolder(project());
        return *m_workspace;
    }
    Workspace& createWorkspace(bool persist) {
        m_workspace = std::make_unique<Workspace>(persist, services());
        QObject::connect(&m_workspace->launcher, &Launcher::connectorRequested,
                         [this](const Provider& provider) { requestedConnector = provider; });
        return *m_workspace;
    }
    WorkspaceServices services() {
        return WorkspaceServices{&preferences, &dialogs, &inhibitor, &desktop};
    }
    Workspace& workspace() { return *m_workspace; }

    QString project() const { return m_scratch.path() + QStringLiteral("/project"); }
    QString scratch() const { return m_scratch.path(); }
    QString projectFile(const QString& name) const { return project() + QLatin1Char('/') + name; }

    void SetUp() override {
        ASSERT_TRUE(m_scratch.isValid());
        ASSERT_TRUE(QDir().mkpath(project()));
    }
    void TearDown() override {
        if (m_workspace) {
            m_workspace->sessions.stopAll();
            waitUntil([this] { return !anySessionRunning(); }, std::chrono::seconds(5));
        }
        m_workspace.reset();
        // A status check still running would read the environment the next test changes.
        Background::waitForIdle();
    }

    bool anySessionRunning() const {
        for (const auto& list :
             {m_workspace->sessions.sessions(), m_workspace->sessions.closingSessions()}) {
            for (const SessionPointer& session : list) {
                if (session->running()) {
                    return true;
                }
            }
        }
        return false;
    }
    bool waitForSessionsToFinish(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return waitUntil([this] { return !anySessionRunning(); }, timeout);
    }

    MemoryPreferences preferences;
    ScriptedDialogs dialogs;
    FakeInhibitor inhibitor;
    FakeDesktop desktop;
    // The provider whose connector the launcher last asked to show.
    std::optional<Provider> requestedConnector;
    // The fake assistant tools come first on PATH.
    ScopedEnvironment tools{"PATH", fixturesBin().toLocal8Bit() + ':' + qgetenv("PATH")};

private:
    QTemporaryDir m_scratch;
    std::unique_ptr<Workspace> m_workspace;
};

}  // namespace testing_support
