// A user's journey through the real application on an X display of its own with a window
// manager. The application object builds the models, the main window and its menus exactly
// as a real start does (with a fresh home folder and the fake assistant tools on PATH), and
// every step is taken through the widgets: clicks and keys on the real buttons, fields and
// dialogs. The models are only read, to check what the steps did. One screenshot per stage
// goes into the folder the test prints.
#include "DialogScript.h"
#include "E2eSupport.h"
#include "PrivateDisplay.h"
#include "app/VelkApplication.h"
#include "core/actions/ComputerPlan.h"
#include "core/actions/ComputerPlanner.h"
#include "core/appearance/Theme.h"
#include "core/appearance/ThemePreset.h"
#include "core/companion/CompanionModel.h"
#include "core/services/Preferences.h"
#include "core/terminal/TerminalScreen.h"
#include "core/terminal/TerminalSession.h"
#include "core/workspace/Workspace.h"
#include "platform/X11Windows.h"
#include "support/TestSupport.h"
#include "ui/actions/ComputerActionsPage.h"
#include "ui/appearance/AppearancePage.h"
#include "ui/assistants/AssistantsPage.h"
#include "ui/assistants/ConnectorEditor.h"
#include "ui/companion/CompanionController.h"
#include "ui/companion/CompanionControls.h"
#include "ui/companion/DesktopPet.h"
#include "ui/files/CodeEditor.h"
#include "ui/files/FilesPage.h"
#include "ui/history/HistoryPage.h"
#include "ui/navigation/Navigator.h"
#include "ui/runs/TeamRunsPage.h"
#include "ui/terminal/TerminalView.h"
#include "ui/window/MainWindow.h"
#include "ui/workspace/Composer.h"
#include "ui/workspace/SessionDeck.h"
#include "ui/workspace/TerminalPane.h"
#include "ui/workspace/WorkspacePage.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <utility>

using namespace std::chrono_literals;
using testing_support::readFile;
using testing_support::waitUntil;
using testing_support::writeFile;

namespace {

const QString kTypingTarget = QStringLiteral("org.velk.TypingTarget");
const QString kTypedLine = QStringLiteral("Hello from VELK");

class Journey : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PrivateDisplay::current()) {
            GTEST_SKIP() << "needs a private X display with a window manager";
        }
        // A fresh home: nothing remembered, so the first start prepares the example project.
        ASSERT_TRUE(m_home.ready());
        m_home.apply();
        m_typingLog = path("typing-target.log");
        ASSERT_TRUE(writeFile(path("data/applications/" + kTypingTarget + ".desktop"),
                              "[Desktop Entry]\nType=Application\nName=Typing Target\nExec=" +
                                  QByteArray(VELK_TYPING_TARGET) + ' ' + m_typingLog.toUtf8() +
                                  "\nStartupWMClass=velk-typing-target\n"));
        m_shots = screenshotFolder("journey");
    }

    void TearDown() override {
        for (const X11Windows::Window& window : X11Windows::clientWindows()) {
            if (window.pid > 0 && window.windowClasses.contains("velk-typing-target")) {
                ::kill(pid_t(window.pid), SIGTERM);
            }
        }
        for (const char* name : {"VELK_FAKE_WRITE_FILE", "FAKE_CODEX_ANSWER"}) {
            qunsetenv(name);
        }
    }

    QString path(const QString& relative) const { return m_home.path(relative); }

    Workspace& workspace() const { return *m_app->workspace(); }
    Navigator& navigator() const { return *m_app->navigator(); }
    MainWindow& window() const { return *m_app->window(); }
    template <typename Page>
    Page* page(Destination destination) const {
        return qobject_cast<Page*>(window().page(destination));
    }

    // What the display shows, once two grabs a little apart agree.
    void snap(const QString& name) {
        EXPECT_TRUE(settledGrab(0).save(m_shots + '/' + name + ".png")) << name.toStdString();
    }

    QAbstractButton* buttonTitled(QWidget* area, const QString& title) const {
        const QList<QAbstractButton*> buttons = area->findChildren<QAbstractButton*>();
        const auto found = std::find_if(buttons.begin(), buttons.end(), [&](auto* button) {
            return button->isVisible() && button->text().replace("&&", "&") == title;
        });
        return found == buttons.end() ? nullptr : *found;
    }

    void click(QWidget* widget) {
        ASSERT_TRUE(widget);
        QPointer<QWidget> target(widget);
        // Shown and laid out: a widget without its size yet takes no click.
        ASSERT_TRUE(waitUntil(
            [&] { return !target || (target->isVisible() && !target->rect().isEmpty()); }));
        ASSERT_TRUE(target) << "the widget went away before it could be clicked";
        ASSERT_TRUE(widget->isEnabled()) << widget->metaObject()->className();
        QTest::mouseClick(widget, Qt::LeftButton);
    }

    // A page entry of the sidebar, as the user picks it.
    void go(Destination destination) {
        ASSERT_NO_FATAL_FAILURE(click(buttonTitled(&window(), displayName(destination))));
        ASSERT_EQ(navigator().destination(), destination);
        ASSERT_EQ(window().currentPage(), window().page(destination));
    }

    void typeInto(QWidget* field, const QString& text) {
        ASSERT_TRUE(field);
        QTest::mouseClick(field, Qt::LeftButton);
        QTest::keyClicks(field, text);
    }

    void runTask(const QString& task, bool separateCopies) {
        Composer* composer = page<WorkspacePage>(Destination::Workspace)->composer();
        typeInto(composer->editor(), task);
        ASSERT_EQ(workspace().launcher.prompt(), task);
        click(separateCopies ? composer->separateCopiesButton() : composer->sharedFolderButton());
        ASSERT_EQ(workspace().launcher.separateCopies(), separateCopies);
        click(composer->runButton());
    }

    QStringList typedLines() const {
        return QString::fromUtf8(readFile(m_typingLog)).split('\n', Qt::SkipEmptyParts);
    }

    // The stages, in the order the user takes them.
    void firstStartOpensTheExampleProject();
    void openAnotherProject();
    void runATaskInTwoAssistantsInTheSharedFolder();
    void runATeamRunAndApplyOneCopysFile();
    void findTheSessionsInHistoryAndExportOne();
    void addAConnectorAfterABadTemplateIsRefused();
    void changeTheTheme();
    void planDesktopActionsAndOpenAnApplication();
    void draftInTheCompanionAndHandItToTheWorkspace();
    void quitWhileASessionRuns();

    VelkHome m_home;
    QString m_shots;
    QString m_typingLog;
    QString m_project;
    std::unique_ptr<VelkApplication> m_app;
    DialogScript m_dialogs;
};

void Journey::firstStartOpensTheExampleProject() {
    m_app =
        std::make_unique<VelkApplication>(CommandLine{}, std::make_unique<SettingsPreferences>());
    m_app->launch();
    ASSERT_TRUE(m_app->window());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
    // The window manager hands the new window the focus.
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &window(); }));

    const QString example = path("data/Kelo AI/Example Project");
    EXPECT_EQ(QDir(workspace().project.folder()).canonicalPath(), QDir(example).canonicalPath());
    EXPECT_TRUE(QFileInfo::exists(example + "/hello.py"));
    EXPECT_EQ(navigator().destination(), Destination::Workspace);
    Composer* composer = page<WorkspacePage>(Destination::Workspace)->composer();
    EXPECT_EQ(composer->projectLabel()->text(), "Example Project");
    EXPECT_TRUE(composer->editor()->hasFocus()) << "the caret starts in the task field";
    ASSERT_TRUE(waitUntil([&] {
        return workspace().providers.available().contains("claude") &&
               workspace().providers.available().contains("codex");
    }));
    // Qt guesses an image's format by loading every image-format plugin and asking each: the
    // window and its first pages are built without one such read. Icons are drawn through the
    // SVG plugin alone.
    QFile maps(QStringLiteral("/proc/self/maps"));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    const QString loaded = QString::fromLocal8Bit(maps.readAll());
    const QRegularExpression plugin(QStringLiteral("/imageformats/(lib\\w+\\.so)"));
    QSet<QString> plugins;
    for (const QRegularExpressionMatch& match : plugin.globalMatch(loaded)) {
        plugins.insert(match.captured(1));
    }
    plugins.remove(QStringLiteral("libqsvg.so"));
    EXPECT_TRUE(plugins.isEmpty())
        << "an image read during start-up loaded the image-format plugins: "
        << QStringList(plugins.values()).join(QStringLiteral(", ")).toStdString();
    snap("01-first-start");
}

void Journey::openAnotherProject() {
    m_project = path("greeting project");
    ASSERT_TRUE(writeFile(m_project + "/README.md", "# Greeting\n"));
    m_dialogs.chooseLocation(m_project);
    click(buttonTitled(&window(), "Open project"));
    ASSERT_TRUE(m_dialogs.done());
    EXPECT_EQ(workspace().project.folder(), QDir::cleanPath(m_project));
    EXPECT_EQ(page<WorkspacePage>(Destination::Workspace)->composer()->projectLabel()->text(),
              "greeting project");
    // The example project was opened for the user, not chosen: only this one is recent.
    EXPECT_EQ(window().shownRecentFolders(), QStringList({QDir::cleanPath(m_project)}));
    snap("02-another-project");
}

void Journey::runATaskInTwoAssistantsInTheSharedFolder() {
    runTask("Add a greeting", false);
    SessionDeck* deck = page<WorkspacePage>(Destination::Workspace)->deck();
    ASSERT_TRUE(waitUntil([&] { return deck->visiblePanes().size() == 2; }));
    const QList<TerminalPane*> panes = deck->visiblePanes();
    auto shown = [&](int index) { return panes[index]->session()->screen().plainText(); };
    ASSERT_TRUE(waitUntil(
        [&] {
            return shown(0).contains("FAKE_claude_DONE") && shown(1).contains("FAKE_codex_DONE");
        },
        20s))
        << shown(0).toStdString() << "\n---\n"
        << shown(1).toStdString();
    for (TerminalPane* pane : panes) {
        EXPECT_EQ(QDir(pane->session()->directory()).canonicalPath(),
                  QDir(m_project).canonicalPath());
        EXPECT_TRUE(pane->isVisible());
    }
    EXPECT_TRUE(workspace().launcher.prompt().isEmpty());
    ASSERT_TRUE(waitUntil([&] { return workspace().history.history().size() == 2; }));
    // Choosing a desktop notification brings the window back on that session.
    const QUuid asking = panes[0]->session()->id();
    navigator().setDestination(Destination::Settings);
    Q_EMIT workspace().attention.showRequested(asking);
    EXPECT_EQ(navigator().destination(), Destination::Workspace);
    EXPECT_EQ(workspace().sessions.activeSessionID(), asking);
    snap("03-shared-folder-task");
}

void Journey::runATeamRunAndApplyOneCopysFile() {
    // Each fake assistant writes this file in the folder it works in: its own copy.
    qputenv("VELK_FAKE_WRITE_FILE", "greeting.txt");
    runTask("Write a greeting file", true);
    ASSERT_TRUE(waitUntil([&] { return workspace().teamRuns.teamRuns().size() == 1; }, 20s));
    ASSERT_TRUE(waitUntil(
        [&] {
            const TeamRun run = workspace().teamRuns.teamRuns().first();
            return run.copies.size() == 2 && run.copies[0].exitCode && run.copies[1].exitCode;
        },
        20s));
    qunsetenv("VELK_FAKE_WRITE_FILE");
    EXPECT_FALSE(QFileInfo::exists(m_project + "/greeting.txt")) << "copies only, so far";

    ASSERT_NO_FATAL_FAILURE(go(Destination::TeamRuns));
    auto* runs = page<TeamRunsPage>(Destination::TeamRuns);
    // The cards are rebuilt whenever the run's record changes: the button is looked up and
    // clicked at once, until a review starts.
    QSignalSpy inspected(runs, &TeamRunsPage::inspectionFinished);
    ASSERT_TRUE(waitUntil([&] {
        QAbstractButton* review = buttonTitled(runs->cardsArea(), "Review files");
        // A card just rebuilt is laid out a moment later; until then it takes no click.
        if (review && !review->rect().isEmpty()) {
            QTest::mouseClick(review, Qt::LeftButton);
        }
        return runs->inspecting() || !inspected.isEmpty();
    }));
    ASSERT_TRUE(!inspected.isEmpty() || inspected.wait(10000));
    QListView* changes = runs->changeList();
    ASSERT_EQ(changes->model()->rowCount(), 1);
    const std::optional<RunCopy> copy = [&]() -> std::optional<RunCopy> {
        for (const RunCopy& candidate : workspace().teamRuns.teamRuns().first().copies) {
            if (candidate.id == runs->reviewedCopy()) {
                return candidate;
            }
        }
        return std::nullopt;
    }();
    ASSERT_TRUE(copy);
    // Tick the one changed file in the list, then apply it and confirm.
    const QRect row = changes->visualRect(changes->model()->index(0, 0));
    QTest::mouseClick(changes->viewport(), Qt::LeftButton, {}, row.center());
    changes->model()->setData(changes->model()->index(0, 0), Qt::Checked, Qt::CheckStateRole);
    QSignalSpy applied(runs, &TeamRunsPage::applyFinished);
    m_dialogs.clickButton("Apply changes");
    click(runs->applyButton());
    ASSERT_TRUE(m_dialogs.done());
    ASSERT_TRUE(!applied.isEmpty() || applied.wait(10000));
    EXPECT_EQ(readFile(m_project + "/greeting.txt"),
              "written by " + copy->provider.toUtf8() + "\n");
    EXPECT_TRUE(runs->status().startsWith("Applied 1 file")) << runs->status().toStdString();
    snap("04-team-run-applied");
}

void Journey::findTheSessionsInHistoryAndExportOne() {
    ASSERT_NO_FATAL_FAILURE(go(Destination::History));
    auto* history = page<HistoryPage>(Destination::History);
    // Two shared-folder sessions and the two sessions of the team run.
    ASSERT_EQ(history->list()->count(), 4);
    ASSERT_EQ(workspace().history.history().size(), 4);
    // The oldest: the first shared-folder session to finish.
    QListWidget* list = history->list();
    const QRect row = list->visualItemRect(list->item(3));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center());
    const HistoryEntry chosen = workspace().history.history().at(3);
    ASSERT_EQ(history->selectedID(), chosen.id);
    EXPECT_EQ(history->outputView()->toPlainText(), chosen.output);
    EXPECT_TRUE(chosen.output.contains("_DONE"));
    // The snapshot's provider, date and exit status fit in the detail panel beside a long path.
    QLabel* meta = nullptr;
    for (QLabel* label : history->findChildren<QLabel*>()) {
        if (label->isVisible() && label->text().contains(chosen.directory)) {
            meta = label;
        }
    }
    ASSERT_TRUE(meta);
    const QString summary = meta->text().section('\n', 0, 0);
    EXPECT_TRUE(summary.endsWith("Exit 0")) << summary.toStdString();
    EXPECT_LE(meta->fontMetrics().horizontalAdvance(summary), meta->contentsRect().width());

    const QString exported = path("exported session.txt");
    m_dialogs.chooseLocation(exported);
    click(history->exportButton());
    ASSERT_TRUE(m_dialogs.done());
    EXPECT_EQ(readFile(exported), chosen.output.toUtf8());
    EXPECT_EQ(workspace().notices.toast(), "Exported exported session.txt.");
    snap("05-history-exported");
}

void Journey::addAConnectorAfterABadTemplateIsRefused() {
    ASSERT_NO_FATAL_FAILURE(go(Destination::Assistants));
    auto* assistants = page<AssistantsPage>(Destination::Assistants);
    const int providersBefore = int(workspace().providers.providers().size());
    click(assistants->addConnectorButton());
    ConnectorEditor* editor = assistants->connectorEditor();
    ASSERT_TRUE(editor);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(editor));
    typeInto(editor->nameField(), "Open Code");
    typeInto(editor->executableField(), "fake-assistant");
    // The placeholder inside quotes would be quoted twice: refused.
    typeInto(editor->templateField(), "fake-assistant '{prompt}'");
    QLabel* error = editor->templateErrorLabel();
    EXPECT_TRUE(error->isVisible());
    EXPECT_FALSE(editor->saveButton()->isEnabled());
    // The sheet makes room for the message: it covers none of the texts around it.
    ASSERT_TRUE(waitUntil([&] { return error->height() >= error->heightForWidth(error->width()); }))
        << "the message is cut to " << error->height() << " pixels";
    for (QLabel* label : editor->findChildren<QLabel*>()) {
        if (label != error && label->isVisible() &&
            label->parentWidget() == error->parentWidget()) {
            EXPECT_FALSE(label->geometry().intersects(error->geometry()))
                << label->text().toStdString();
        }
    }
    QTest::keyClick(editor->templateField(), Qt::Key_Return);
    EXPECT_EQ(workspace().providers.providers().size(), providersBefore);
    snap("06-connector-refused");

    editor->templateField()->selectAll();
    QTest::keyClicks(editor->templateField(), "fake-assistant --task {prompt}");
    EXPECT_FALSE(editor->templateErrorLabel()->isVisible());
    click(editor->saveButton());
    ASSERT_TRUE(waitUntil([&] { return !assistants->connectorEditor(); }));
    ASSERT_EQ(workspace().providers.providers().size(), providersBefore + 1);
    // A new connector lands just before the Terminal card.
    const Provider added = workspace().providers.providers().at(providersBefore - 1);
    EXPECT_EQ(added.name, "Open Code");
    EXPECT_EQ(added.templateText, "fake-assistant --task {prompt}");
    EXPECT_TRUE(assistants->card(added.id));
    EXPECT_TRUE(workspace().providers.isReady(added)) << "its program is on PATH";
    snap("07-connector-added");
}

void Journey::changeTheTheme() {
    ASSERT_NO_FATAL_FAILURE(go(Destination::Appearance));
    auto* appearance = page<AppearancePage>(Destination::Appearance);
    Theme& theme = *m_app->theme();
    const QList<ThemePreset>& presets = ThemePreset::all();
    const auto other = std::find_if(presets.begin(), presets.end(), [&](const ThemePreset& p) {
        return p.id != theme.presetID() && p.background != theme.backgroundHex();
    });
    ASSERT_NE(other, presets.end());
    const QColor windowBefore = window().grab().toImage().pixelColor(window().width() / 2, 40);
    click(appearance->presetCard(other->id));
    EXPECT_EQ(theme.presetID(), other->id);
    EXPECT_EQ(theme.backgroundHex(), other->background);
    // The whole window follows the theme at once.
    EXPECT_NE(window().grab().toImage().pixelColor(window().width() / 2, 40), windowBefore);
    snap("08-theme-changed");
}

void Journey::planDesktopActionsAndOpenAnApplication() {
    // The planner's Codex answers with this plan.
    const QString answer = path("plan-answer.json");
    ASSERT_TRUE(writeFile(
        answer, ComputerPlan{"Greet in the typing target",
                             {{1, "Open the typing target", "open_app", kTypingTarget, ""},
                              {2, "Type the greeting", "type_text", kTypingTarget, kTypedLine}}}
                    .encode()));
    qputenv("FAKE_CODEX_ANSWER", answer.toUtf8());
    qputenv("PATH", QByteArray(VELK_FIXTURES_DIR "/bin-actions:") + qgetenv("PATH"));
    // The header's refresh finds the planning Codex now first on PATH.
    QToolButton* refresh = nullptr;
    for (QToolButton* button : window().findChildren<QToolButton*>()) {
        if (button->toolTip() == "Refresh installed tools and files") {
            refresh = button;
        }
    }
    ASSERT_NO_FATAL_FAILURE(click(refresh));
    ASSERT_TRUE(waitUntil([&] {
        return workspace().providers.available().value("codex") == VELK_FIXTURES_DIR
               "/bin-actions/codex";
    }));

    ASSERT_NO_FATAL_FAILURE(go(Destination::DesktopActions));
    auto* actions = page<ComputerActionsPage>(Destination::DesktopActions);
    ASSERT_TRUE(actions) << "the Desktop actions page needs the planner";
    ComputerPlanner& planner = *m_app->planner();
    typeInto(actions->taskEditor(), "Type a greeting into the typing target");
    click(actions->planButton());
    ASSERT_TRUE(waitUntil([&] { return !planner.planning(); }, 20s));
    ASSERT_TRUE(planner.plan()) << planner.message().toStdString();
    EXPECT_EQ(actions->shownSteps(),
              QStringList({"1. Open the typing target", "2. Type the greeting"}));
    if (navigator().destination() != Destination::DesktopActions) {
        ASSERT_NO_FATAL_FAILURE(go(Destination::DesktopActions));
    }
    snap("09-plan-drafted");

    // The first step opens the target through the desktop; typing into it is the desktop
    // step tests' business.
    m_dialogs.clickButton("Run this step");
    click(actions->runButton());
    ASSERT_TRUE(waitUntil([&] { return !planner.executing(); }, 20s));
    EXPECT_EQ(planner.completed(), 1) << planner.message().toStdString();
    EXPECT_EQ(planner.message(), "Step sent. Check the target app before continuing.");
    EXPECT_TRUE(waitUntil([&] { return typedLines().contains("ready"); }));
    EXPECT_EQ(m_dialogs.messages().last(), "Open the typing target?");
    snap("10-target-opened");
    qputenv("PATH", m_home.environment.value("PATH").toUtf8());
}

void Journey::draftInTheCompanionAndHandItToTheWorkspace() {
    CompanionController* companion = m_app->companionController();
    ASSERT_TRUE(companion) << "the desktop companion starts with the application";
    ASSERT_TRUE(waitUntil([&] { return companion->panel()->isVisible(); }));
    // A click on the pet opens the quick draft beside it.
    QTest::mouseClick(companion->pet()->interaction(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return companion->controlsPanel()->isVisible(); }));
    CompanionControls* controls = companion->controls();
    const QString draft = "Say hello from the companion";
    typeInto(controls->editor(), draft);
    EXPECT_EQ(m_app->companion()->draft(), draft);
    snap("11-companion-draft");

    click(controls->useDraftButton());
    EXPECT_EQ(workspace().launcher.prompt(), draft);
    EXPECT_EQ(navigator().destination(), Destination::Workspace);
    EXPECT_EQ(workspace().notices.toast(),
              "Companion draft added. Choose your assistants and run it when ready.");

    // The draft is now the task in the composer; running a task from there is an earlier
    // stage's.
    Composer* composer = page<WorkspacePage>(Destination::Workspace)->composer();
    EXPECT_EQ(composer->editor()->toPlainText(), draft);
    snap("12-companion-draft-in-the-composer");
}

void Journey::quitWhileASessionRuns() {
    // Back to the main window, as a user clicking it would.
    X11Windows::activate(window().winId());
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &window(); }));
    ASSERT_NO_FATAL_FAILURE(go(Destination::Workspace));
    const int sessionsBefore = int(workspace().sessions.sessions().size());
    QTest::keyClick(&window(), Qt::Key_N, Qt::ControlModifier);  // New Terminal
    ASSERT_EQ(workspace().sessions.sessions().size(), sessionsBefore + 1);
    const SessionPointer shell = workspace().sessions.sessions().last();
    ASSERT_TRUE(waitUntil([&] { return shell->running(); }));
    // The new terminal comes into view below the earlier sessions.
    TerminalPane* shellPane =
        page<WorkspacePage>(Destination::Workspace)->deck()->paneFor(shell->id());
    ASSERT_TRUE(shellPane);
    EXPECT_TRUE(waitUntil([&] {
        return shellPane->isVisible() &&
               shellPane->visibleRegion().boundingRect().height() > shellPane->height() / 2;
    })) << "the new terminal is out of sight";

    // Quitting works wherever the focus is: Ctrl+Q outside a terminal, Ctrl+Shift+Q
    // everywhere; inside a terminal Ctrl+Q stays with the program.
    auto* terminal = shellPane->findChild<TerminalView*>();
    ASSERT_TRUE(terminal);
    EXPECT_TRUE(terminal->hasFocus()) << "the new terminal does not have the keyboard focus";
    // Window shortcuts need the window active again after each dialog.
    const auto press = [this](QWidget* focus, Qt::Key key, Qt::KeyboardModifiers modifiers) {
        X11Windows::activate(window().winId());
        ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &window(); }));
        focus->setFocus();
        QTest::keyClick(focus, key, modifiers);
    };
    const qsizetype asked = m_dialogs.messages().size();
    press(terminal, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(m_dialogs.messages().size(), asked) << "Ctrl+Q in a terminal is the program's";
    ASSERT_NO_FATAL_FAILURE(go(Destination::FilesAndRunner));
    QWidget* editor = page<FilesPage>(Destination::FilesAndRunner)->editor();
    ASSERT_NO_FATAL_FAILURE(go(Destination::Workspace));
    QWidget* composer = page<WorkspacePage>(Destination::Workspace)->composer()->editor();
    const std::vector<std::pair<QWidget*, Qt::KeyboardModifiers>> quits = {
        {terminal, Qt::ControlModifier | Qt::ShiftModifier},
        {composer, Qt::ControlModifier},
        {composer, Qt::ControlModifier | Qt::ShiftModifier},
        {&window(), Qt::ControlModifier},
    };
    for (const auto& [focus, modifiers] : quits) {
        const qsizetype before = m_dialogs.messages().size();
        m_dialogs.clickButton("Cancel");
        press(focus, Qt::Key_Q, modifiers);
        ASSERT_TRUE(m_dialogs.done()) << focus->metaObject()->className() << " " << modifiers;
        EXPECT_EQ(m_dialogs.messages().size(), before + 1);
    }
    ASSERT_NO_FATAL_FAILURE(go(Destination::FilesAndRunner));
    m_dialogs.clickButton("Cancel");
    press(editor, Qt::Key_Q, Qt::ControlModifier);
    ASSERT_TRUE(m_dialogs.done()) << "Ctrl+Q in the editor";
    ASSERT_NO_FATAL_FAILURE(go(Destination::Workspace));

    // Ctrl+PageDown moves to the next session; inside a terminal Ctrl+Shift+PageDown does.
    const auto active = [&] { return workspace().sessions.activeSessionID(); };
    workspace().sessions.setActiveSessionID(shell->id());
    press(&window(), Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_NE(active(), shell->id());
    press(&window(), Qt::Key_PageUp, Qt::ControlModifier);
    EXPECT_EQ(active(), shell->id());
    press(terminal, Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(active(), shell->id()) << "Ctrl+PageDown in a terminal is the program's";
    press(terminal, Qt::Key_PageDown, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_NE(active(), shell->id());
    workspace().sessions.setActiveSessionID(shell->id());

    // Without a tray, closing the window runs the quit policy; Cancel keeps it open.
    m_dialogs.clickButton("Cancel");
    window().close();
    ASSERT_TRUE(m_dialogs.done());
    EXPECT_EQ(m_dialogs.messages().last(), "Quit and stop running sessions?");
    EXPECT_TRUE(window().isVisible());
    testing_support::processEventsFor(200ms);
    EXPECT_TRUE(shell->running()) << "Cancel keeps the sessions";
    snap("13-quit-cancelled");

    // The second time, "Quit & stop" ends the event loop the application runs in; from
    // inside the terminal, where Ctrl+Q is the program's, the quit is Ctrl+Shift+Q.
    m_dialogs.clickButton("Quit & stop");
    QTimer::singleShot(0, terminal, [terminal] {
        terminal->setFocus();
        QTest::keyClick(terminal, Qt::Key_Q, Qt::ControlModifier | Qt::ShiftModifier);
    });
    QTimer::singleShot(20000, [] { QCoreApplication::exit(2); });
    EXPECT_EQ(QApplication::exec(), 0) << "the application did not quit";
    EXPECT_TRUE(m_dialogs.done());
    ASSERT_TRUE(waitUntil([&] { return !shell->running(); }, 5s));
}

TEST_F(Journey, fromFirstStartToQuitThroughTheRealWindow) {
    ASSERT_NO_FATAL_FAILURE(firstStartOpensTheExampleProject());
    ASSERT_NO_FATAL_FAILURE(openAnotherProject());
    ASSERT_NO_FATAL_FAILURE(runATaskInTwoAssistantsInTheSharedFolder());
    ASSERT_NO_FATAL_FAILURE(runATeamRunAndApplyOneCopysFile());
    ASSERT_NO_FATAL_FAILURE(findTheSessionsInHistoryAndExportOne());
    ASSERT_NO_FATAL_FAILURE(addAConnectorAfterABadTemplateIsRefused());
    ASSERT_NO_FATAL_FAILURE(changeTheTheme());
    ASSERT_NO_FATAL_FAILURE(planDesktopActionsAndOpenAnApplication());
    ASSERT_NO_FATAL_FAILURE(draftInTheCompanionAndHandItToTheWorkspace());
    ASSERT_NO_FATAL_FAILURE(quitWhileASessionRuns());
}

}  // namespace
