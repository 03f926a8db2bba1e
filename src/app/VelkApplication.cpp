#include "app/VelkApplication.h"

#include "core/actions/ComputerPlanner.h"
#include "core/companion/CompanionModel.h"
#include "platform/LinuxStepRunner.h"
#include "platform/SpeechModule.h"
#include "ui/companion/CompanionController.h"
#include "ui/companion/CompanionControls.h"
#include "ui/companion/DesktopPet.h"
#include "ui/companion/PetAttention.h"

#include "core/appearance/HexColor.h"
#include "core/appearance/Theme.h"
#include "core/assistants/AssistantTraits.h"
#include "core/assistants/LocalTools.h"
#include "core/files/ExampleProject.h"
#include "core/runs/RunFiles.h"
#include "core/services/AppPaths.h"
#include "core/services/Preferences.h"
#include "core/terminal/TerminalSession.h"
#include "core/workspace/Workspace.h"
#include "platform/FreedesktopNotifications.h"
#include "platform/GnomeMotionPreference.h"
#include "platform/LinuxDesktopServices.h"
#include "platform/LogindInhibitor.h"
#include "ui/kit/AppStyle.h"
#include "ui/kit/CaretBlinkTimeout.h"
#include "ui/kit/FontWarmUp.h"
#include "ui/kit/QtDialogs.h"
#include "ui/navigation/Navigator.h"
#include "ui/terminal/TerminalView.h"
#include "ui/window/MainWindow.h"
#include "ui/window/QuitPolicy.h"
#include "ui/window/TrayAttention.h"
#include "ui/window/WindowCapture.h"
#include "ui/window/WindowPlannerHost.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTextEdit>
#include <QTimer>
#include <QUuid>
#include <QVBoxLayout>

#include <cstdio>

namespace {

// The pages page capture writes, in order.
const QList<Destination> kCapturedPages = {
    Destination::Workspace,  Destination::TeamRuns,       Destination::Assistants,
    Destination::Appearance, Destination::DesktopActions, Destination::FilesAndRunner,
    Destination::History,    Destination::Settings,       Destination::Companion,
};

// The standard edit commands go to whatever has the keyboard focus (a text field, the
// editor, a terminal), when it offers that command.
void sendToFocus(const char* slot) {
    QWidget* focus = QApplication::focusWidget();
    if (!focus) {
        return;
    }
    const QByteArray signature = QByteArray(slot) + "()";
    if (focus->metaObject()->indexOfMethod(signature.constData()) >= 0) {
        QMetaObject::invokeMethod(focus, slot);
    }
}

// Tells the user, file by file, what rolling back applies that a crash cut short did.
void reportRecoveredApplies(Dialogs& dialogs,
                            const std::vector<RunFiles::ApplyRecovery>& recoveries) {
    QStringList reports;
    for (const RunFiles::ApplyRecovery& recovery : recoveries) {
        reports.append(recovery.describe());
    }
    const Dialogs::Alert alert{.message = QStringLiteral("VELK found an interrupted apply"),
                               .informativeText = reports.join(QStringLiteral("\n\n")),
                               .buttons = {QStringLiteral("OK")},
                               .style = Dialogs::Style::Informational};
    dialogs.alert(alert);
}

}  // namespace

VelkApplication::VelkApplication(CommandLine commandLine, std::unique_ptr<Preferences> preferences,
                                 QObject* parent)
    : QObject(parent),
      m_commandLine(std::move(commandLine)),
      m_preferences(std::move(preferences)),
      m_dialogs(std::make_unique<QtDialogs>()),
      m_inhibitor(std::make_unique<LogindInhibitor>()),
      m_desktop(std::make_unique<LinuxDesktopServices>()) {
    warmUpFontDatabase();
    AppStyle::install();
    // Whatever ends the event loop (the Quit command, a session logout), the companion and
    // every session are stopped on the way out.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (m_companionController) {
            m_companionController->shutdown();
        } else if (m_companion) {
            m_companion->shutdown();
        }
        if (m_workspace) {
            m_workspace->teamRuns.cancelPreparation();
            m_workspace->sessions.stopAll();
        }
    });
}

VelkApplication::~VelkApplication() {
    // The windows observe the models: they go first.
    m_trayAttention.reset();
    m_companionController.reset();
    m_window.reset();
}

void VelkApplication::launch() {
    if (m_window) {
        return;
    }
    const bool persist = !m_commandLine.automation();
    // Applies that a crash cut short are rolled back before the project is listed.
    const std::vector<RunFiles::ApplyRecovery> recovered =
        persist ? RunFiles::recoverInterruptedApplies() : std::vector<RunFiles::ApplyRecovery>();
    m_stepRunner = std::make_unique<LinuxStepRunner>(*m_desktop);
    m_workspace =
        std::make_unique<Workspace>(persist, WorkspaceServices{m_preferences.get(), m_dialogs.get(),
                                                               m_inhibitor.get(), m_desktop.get()});
    m_navigator = std::make_unique<Navigator>(m_workspace->sessions, m_workspace->launcher);
    m_plannerHost = std::make_unique<WindowPlannerHost>(m_workspace->providers,
                                                        m_workspace->sessions, *m_navigator);
    m_planner = std::make_unique<ComputerPlanner>(*m_plannerHost, *m_stepRunner, *m_dialogs);
    m_theme = std::make_unique<Theme>(persist, *m_preferences);
    // Before anything else follows the theme, so that what repaints sees its colours.
    AppStyle::apply(*m_theme);
    connect(m_theme.get(), &Theme::changed, this, [this] { AppStyle::apply(*m_theme); });
    m_companion = std::make_unique<CompanionModel>(
        persist, *m_preferences, *m_dialogs,
        persist ? makeSpeechServicesOnFirstUse(speechModuleCandidates())
                : makeSilentSpeechServices());

    openProjectFolder();

    m_window = std::make_unique<MainWindow>(*m_workspace, *m_navigator, *m_theme, m_planner.get(),
                                            m_companion.get());
    m_dialogs->setParentWindow(m_window.get());
    installMenus();
    m_window->move(m_window->screen()->availableGeometry().center() - m_window->rect().center());
    showMainWindow();
    // The window goes to the display first; what it does not need for its first frame (the
    // desktop's motion setting, which only the terminals' blinking follows, the icon, the
    // companion and its tray icon, notifications, the login shell's environment) follows on
    // the next turn of the event loop.
    QTimer::singleShot(0, this, [this, recovered] { finishLaunch(recovered); });
}

void VelkApplication::finishLaunch(const std::vector<RunFiles::ApplyRecovery>& recovered) {
    followDesktopMotion();
    // The icon comes from the installed icon theme, else from the copy built into the
    // executable.
    QApplication::setWindowIcon(QIcon::fromTheme(
        QStringLiteral("ai.kelo.velk"), QIcon(QStringLiteral(":/icons/ai.kelo.velk.svg"))));
    if (!m_commandLine.automation()) {
        m_caretBlinkTimeout = std::make_unique<CaretBlinkTimeout>();
        followAttention();
        startCompanion();
        m_workspace->providers.adoptLoginEnvironment();
    }

    if (m_commandLine.captureFolder) {
        capturePages(*m_commandLine.captureFolder);
    }
    if (!recovered.empty()) {
        reportRecoveredApplies(*m_dialogs, recovered);
    }
}

void VelkApplication::followDesktopMotion() {
    m_motion = std::make_unique<GnomeMotionPreference>();
    auto follow = [this] { m_theme->setAnimationsEnabled(m_motion->animationsEnabled()); };
    follow();
    connect(m_motion.get(), &MotionPreference::animationsEnabledChanged, m_theme.get(), follow);
}

void VelkApplication::startCompanion() {
    QPointer<VelkApplication> self(this);
    CompanionController::Actions actions;
    actions.showMain = [self] {
        if (self) {
            self->showMainWindow();
        }
    };
    actions.quit = [self] {
        if (self) {
            self->requestQuit();
        }
    };
    actions.mainFrame = [self] {
        return self && self->m_window ? self->m_window->frameGeometry() : QRect();
    };
    actions.mainControls = [self] {
        QList<QRect> controls;
        if (!self || !self->m_window) {
            return controls;
        }
        for (QWidget* widget : self->m_window->findChildren<QWidget*>()) {
            if ((qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget) ||
                 qobject_cast<QPlainTextEdit*>(widget)) &&
                widget->isVisible()) {
                controls.append(QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size()));
            }
        }
        return controls;
    };
    m_companionController = std::make_unique<CompanionController>(
        *m_companion,
        CompanionController::Models{m_workspace->launcher, m_workspace->sessions,
                                    m_workspace->history, m_workspace->notices, *m_navigator},
        *m_theme, *m_preferences, std::move(actions));
    m_petAttention =
        std::make_unique<PetAttention>(m_workspace->attention, m_workspace->sessions,
                                       m_workspace->providers, *m_companionController->pet());
    if (QSystemTrayIcon* tray = m_companionController->statusItem()) {
        m_trayAttention = std::make_unique<TrayAttention>(*tray, m_workspace->attention);
        return;
    }
    // Without a tray, the tray menu's one command that the menu bar lacks joins it.
    QMenu* companionMenu = m_window->menuBar()->addMenu(QStringLiteral("Companion"));
    for (QAction* action : m_companionController->statusMenu()->actions()) {
        if (action->objectName() == QStringLiteral("companionStopAudioAction")) {
            companionMenu->addAction(action);
        }
    }
}

void VelkApplication::openProjectFolder() {
    if (m_commandLine.workspace) {
        m_workspace->project.adoptFolder(*m_commandLine.workspace);
        return;
    }
    if (m_workspace->project.hasFolder()) {
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
    const Result<QString> prepared = ExampleProject::prepare(source, destination);
    if (!prepared) {
        m_workspace->notices.notify(QStringLiteral(
            "Choose a project folder to get started. The example project could not be "
            "prepared."));
        return;
    }
    m_workspace->project.adoptFolder(*prepared);
}

void VelkApplication::installMenus() {
    QMenuBar* bar = m_window->menuBar();
    auto add = [this](QMenu* menu, const QString& title, const QKeySequence& keys, auto action) {
        QAction* item = menu->addAction(title);
        item->setShortcut(keys);
        item->setShortcutContext(Qt::WindowShortcut);
        connect(item, &QAction::triggered, this, action);
        return item;
    };

    QMenu* application = bar->addMenu(QStringLiteral("VELK"));
    add(application, QStringLiteral("About VELK"), {}, [this] { about(); });
    application->addSeparator();
    add(application, QStringLiteral("Settings…"), QKeySequence(Qt::CTRL | Qt::Key_Comma),
        [this] { settings(); });
    application->addSeparator();
    add(application, QStringLiteral("Minimise"), QKeySequence(Qt::CTRL | Qt::Key_H),
        [this] { m_window->showMinimized(); });
    application->addSeparator();
    // Terminals keep Ctrl+key for their programs: inside one, window commands take
    // Ctrl+Shift+key, and the menu names both.
    const auto alsoWithShift = [](QAction* item, const QKeySequence& keys,
                                  const QKeySequence& shifted) {
        item->setShortcuts({keys, shifted});
        item->setText(item->text() + u'\t' + keys.toString(QKeySequence::NativeText) +
                      QStringLiteral(", ") + shifted.toString(QKeySequence::NativeText));
    };
    alsoWithShift(add(application, QStringLiteral("Quit VELK"), {}, [this] { requestQuit(); }),
                  QKeySequence(Qt::CTRL | Qt::Key_Q),
                  QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Q));

    QMenu* file = bar->addMenu(QStringLiteral("File"));
    add(file, QStringLiteral("Open Project…"), QKeySequence(Qt::CTRL | Qt::Key_O),
        [this] { openProject(); });
    add(file, QStringLiteral("New Terminal"), QKeySequence(Qt::CTRL | Qt::Key_N),
        [this] { newTerminal(); });
    add(file, QStringLiteral("Save File"), QKeySequence(Qt::CTRL | Qt::Key_S),
        [this] { saveFile(); });
    add(file, QStringLiteral("Export Interface Preview…"), {}, [this] { exportPreview(); });

    QMenu* edit = bar->addMenu(QStringLiteral("Edit"));
    add(edit, QStringLiteral("Undo"), QKeySequence(Qt::CTRL | Qt::Key_Z),
        [] { sendToFocus("undo"); });
    add(edit, QStringLiteral("Redo"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z),
        [] { sendToFocus("redo"); });
    edit->addSeparator();
    add(edit, QStringLiteral("Cut"), QKeySequence(Qt::CTRL | Qt::Key_X),
        [] { sendToFocus("cut"); });
    add(edit, QStringLiteral("Copy"), QKeySequence(Qt::CTRL | Qt::Key_C),
        [] { sendToFocus("copy"); });
    add(edit, QStringLiteral("Paste"), QKeySequence(Qt::CTRL | Qt::Key_V),
        [] { sendToFocus("paste"); });
    add(edit, QStringLiteral("Select All"), QKeySequence(Qt::CTRL | Qt::Key_A),
        [] { sendToFocus("selectAll"); });

    QMenu* windowMenu = bar->addMenu(QStringLiteral("Window"));
    add(windowMenu, QStringLiteral("Minimize"), QKeySequence(Qt::CTRL | Qt::Key_M),
        [this] { m_window->showMinimized(); });
    add(windowMenu, QStringLiteral("Maximise"), {},
        [this] { m_window->isMaximized() ? m_window->showNormal() : m_window->showMaximized(); });
    windowMenu->addSeparator();
    alsoWithShift(add(windowMenu, QStringLiteral("Next Session"), {}, [this] { switchSession(1); }),
                  QKeySequence(Qt::CTRL | Qt::Key_PageDown),
                  QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_PageDown));
    alsoWithShift(
        add(windowMenu, QStringLiteral("Previous Session"), {}, [this] { switchSession(-1); }),
        QKeySequence(Qt::CTRL | Qt::Key_PageUp),
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_PageUp));
    m_window->installEventFilter(this);
}

void VelkApplication::followAttention() {
    // Sessions that need the user, or finish, while the window is not the active one are
    // told through desktop notifications; choosing one brings the window up on that session.
    m_notifications = std::make_unique<FreedesktopNotifications>();
    AttentionBoard& board = m_workspace->attention;
    board.setNotifications(m_notifications.get());
    board.setWindowActive(QGuiApplication::applicationState() == Qt::ApplicationActive);
    connect(qApp, &QGuiApplication::applicationStateChanged, &board,
            [&board](Qt::ApplicationState state) {
                board.setWindowActive(state == Qt::ApplicationActive);
            });
    connect(&board, &AttentionBoard::showRequested, this, [this](const QUuid& session) {
        if (m_workspace->sessions.find(session)) {
            m_workspace->sessions.setActiveSessionID(session);
            m_navigator->setDestination(Destination::Workspace);
        }
        showMainWindow();
    });
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

void VelkApplication::about() {
    const QString version = QCoreApplication::applicationVersion();
    QMessageBox::about(
        m_window.get(), QStringLiteral("About VELK"),
        QStringLiteral("<h3>VELK</h3><p>Version %1 (%2)</p><p>Your ideas, in orbit.<br>A native "
                       "Linux workspace with a desktop companion.</p>")
            .arg(version.toHtmlEscaped(), version.toHtmlEscaped()));
}

void VelkApplication::settings() {
    m_navigator->setDestination(Destination::Settings);
    showMainWindow();
}

void VelkApplication::openProject() {
    m_workspace->project.chooseFolder();
}

void VelkApplication::newTerminal() {
    m_workspace->launcher.openTerminal();
}

void VelkApplication::saveFile() {
    m_workspace->project.saveFile();
}

void VelkApplication::exportPreview() {
    const auto path =
        m_dialogs->save({QStandardPaths::writableLocation(QStandardPaths::PicturesLocation),
                         QStringLiteral("VELK-Preview.png")});
    if (!path) {
        return;
    }
    const Result<void> captured = captureWindow(m_window.get(), *path);
    m_workspace->notices.notify(captured ? QStringLiteral("Interface preview exported.")
                                         : QStringLiteral("Could not export the preview."));
}

void VelkApplication::requestQuit() {
    if (m_quitting || !m_workspace) {
        QCoreApplication::quit();
        return;
    }
    if (confirmQuit(m_workspace->project, m_workspace->sessions, *m_dialogs,
                    m_commandLine.automation())) {
        m_quitting = true;
        QCoreApplication::quit();
    }
}

void VelkApplication::switchSession(int step) {
    SessionManager& sessions = m_workspace->sessions;
    const QList<SessionPointer>& all = sessions.sessions();
    if (all.isEmpty()) {
        return;
    }
    qsizetype index = 0;
    for (qsizetype i = 0; i < all.size(); ++i) {
        if (all[i]->id() == sessions.activeSessionID()) {
            index = (i + step + all.size()) % all.size();
        }
    }
    sessions.setActiveSessionID(all[index]->id());
    m_navigator->setDestination(Destination::Workspace);
}

bool VelkApplication::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_window.get() || event->type() != QEvent::Close || m_quitting) {
        return QObject::eventFilter(watched, event);
    }
    event->ignore();
    QSystemTrayIcon* tray = m_companionController ? m_companionController->statusItem() : nullptr;
    if (!tray) {
        requestQuit();
        return true;
    }
    m_window->hide();
    if (!m_toldAboutTray) {
        m_toldAboutTray = true;
        tray->showMessage(QStringLiteral("VELK is still running"),
                          QStringLiteral("Open VELK again from its icon in the tray; quit it "
                                         "there or with Ctrl+Q."));
    }
    return true;
}

void VelkApplication::capturePages(const QString& folder) {
    QDir().mkpath(folder);  // a failure shows up as capture errors
    // The Files & runner page is captured with the example program open in the editor.
    ProjectModel& project = m_workspace->project;
    const QString sample = QDir(project.folder()).filePath(QStringLiteral("hello.py"));
    if (project.hasFolder() && project.selectedFile().isEmpty() && QFileInfo::exists(sample)) {
        project.openFile(FileEntry{sample, false});
    }
    QTimer::singleShot(1000, this, [this, folder] { captureNextPage(folder, 0); });
}

void VelkApplication::captureNextPage(const QString& folder, int index) {
    // The pages in the theme VELK starts with, then again in the light preset, named
    // "Workspace (Paper light).png" and so on.
    if (index == kCapturedPages.size() && !m_terminalCaptured) {
        m_terminalCaptured = true;
        captureTerminal(folder, [this, folder, index] { captureNextPage(folder, index); });
        return;
    }
    if (index == kCapturedPages.size() && !m_reviewCaptured) {
        m_reviewCaptured = true;
        captureReview(folder, [this, folder, index] { captureNextPage(folder, index); });
        return;
    }
    if (index == kCapturedPages.size()) {
        captureCompanionWindows(folder);
        m_theme->apply(ThemePreset::all().constLast());
    }
    if (index >= 2 * kCapturedPages.size()) {
        QCoreApplication::quit();
        return;
    }
    const Destination page = kCapturedPages[index % kCapturedPages.size()];
    const QString suffix = index < kCapturedPages.size()
                               ? QString()
                               : QStringLiteral(" (%1)").arg(ThemePreset::all().constLast().title);
    m_navigator->setDestination(page);
    QTimer::singleShot(800, this, [this, folder, index, page, suffix] {
        const QString path =
            folder + QLatin1Char('/') + displayName(page) + suffix + QStringLiteral(".png");
        if (const Result<void> captured = captureWindow(m_window.get(), path); !captured) {
            std::fprintf(stdout, "Capture error: %s\n", qPrintable(captured.error().message));
            std::fflush(stdout);
        }
        captureNextPage(folder, index + 1);
    });
}

// The companion's two floating windows, drawn as previews: capture never shows them.
void VelkApplication::captureCompanionWindows(const QString& folder) {
    DesktopPet pet(*m_companion, *m_theme, nullptr);
    pet.resize(int(CompanionController::kPetWidth), int(CompanionController::kPetHeight));
    QWidget panel;
    panel.setAttribute(Qt::WA_TranslucentBackground);
    auto* layout = new QVBoxLayout(&panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new CompanionControls(*m_companion, *m_theme, {}));
    panel.resize(int(CompanionController::kControlsWidth),
                 int(CompanionController::kControlsHeight));
    const QList<std::pair<QWidget*, QString>> previews = {
        {&pet, QStringLiteral("Companion pet.png")}, {&panel, QStringLiteral("Quick draft.png")}};
    for (const auto& [widget, name] : previews) {
        if (!widget->grab().save(folder + QLatin1Char('/') + name, "PNG")) {
            std::fprintf(stdout, "Capture error: could not write %s\n", qPrintable(name));
            std::fflush(stdout);
        }
    }
}
