// Plan steps carried out on a real X11 display with the openbox window manager: a test
// application registered by a desktop entry is opened, typed into and sent a shortcut, and
// nothing is typed once another window has taken the front.
#include "core/actions/ComputerPlanner.h"
#include "platform/LinuxStepRunner.h"

#include "PlannerTestKit.h"
#include "core/services/Dialogs.h"
#include "e2e/PrivateDisplay.h"
#include "platform/ApplicationResolver.h"
#include "platform/KeyboardSynthesis.h"
#include "platform/LinuxDesktopServices.h"
#include "platform/X11Windows.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>

using testing_support::readFile;
using testing_support::waitUntil;
using testing_support::writeFile;

namespace {

const QString kApp = QStringLiteral("org.velk.TypingTarget");
const QString kTyped = QString::fromUtf8("Grüße, café — ßø 世界 🙂 ok");

class DesktopSteps : public ::testing::Test {
protected:
    // A display of the suite's own, so that windows of other tests running at the same time
    // cannot take the focus.
    static void SetUpTestSuite() {
        s_data = new QTemporaryDir;
        // Before GIO first looks at the data folders: the entry below is found through them.
        qputenv("XDG_DATA_HOME", s_data->path().toUtf8());
        s_display = new PrivateDisplay;
        qputenv("QT_QPA_PLATFORM", "xcb");  // for the typing target started by the steps
        // The manager's check window appears before it has finished starting.
        testing_support::processEventsFor(std::chrono::milliseconds(500));
    }

    static void TearDownTestSuite() {
        delete s_display;
        delete s_data;
    }

    void SetUp() override {
        if (!s_display->ready()) {
            GTEST_SKIP() << s_display->problem().toStdString();
        }
        m_log = m_scratch.filePath("target.log");
        ASSERT_TRUE(writeFile(
            QDir(s_data->path()).filePath("applications/" + kApp + ".desktop"),
            "[Desktop Entry]\nType=Application\nName=Typing Target\nExec=" VELK_TYPING_TARGET " " +
                m_log.toUtf8() + "\nStartupWMClass=velk-typing-target\n"));
        host.answer = planJson();
        planner.setStepDelayMs(ComputerPlanner::kStepDelayMs);
        planner.setTask("type into the target");
        planner.prepare();
        ASSERT_TRUE(waitUntil([&] { return planner.plan().has_value(); }))
            << planner.message().toStdString();
    }

    void TearDown() override {
        for (const QString windowClass : {"velk-typing-target", "velk-intruder"}) {
            for (const X11Windows::Window& window : windowsOf(windowClass)) {
                ::kill(static_cast<pid_t>(window.pid), SIGTERM);
            }
        }
        waitUntil([] { return X11Windows::clientWindows().empty(); }, std::chrono::seconds(3));
    }

    // The managed windows of the typing target, or of another program playing an app.
    static std::vector<X11Windows::Window> windowsOf(const QString& windowClass) {
        std::vector<X11Windows::Window> found;
        for (const X11Windows::Window& window : X11Windows::clientWindows()) {
            if (window.pid > 0 && window.windowClasses.contains(windowClass)) {
                found.push_back(window);
            }
        }
        return found;
    }

    QByteArray planJson() const {
        return ComputerPlan{"Type into the target",
                            {{1, "Open the target", "open_app", kApp, ""},
                             {2, "Type the line", "type_text", kApp, kTyped},
                             {3, "Select everything", "key", kApp, "command+a"}}}
            .encode();
    }

    QStringList logLines() const {
        return QString::fromUtf8(readFile(m_log)).split(u'\n', Qt::SkipEmptyParts);
    }

    // Confirms the next step and waits for its outcome.
    void runStep() {
        dialogs.answerAlert(0);
        planner.runNext();
        ASSERT_TRUE(waitUntil([&] { return !planner.executing(); }, std::chrono::seconds(20)));
    }

    void openTarget() {
        runStep();
        ASSERT_EQ(planner.message(), "Step sent. Check the target app before continuing.");
        ASSERT_TRUE(waitUntil([&] { return logLines().contains("ready"); }));
        // Managed by the window manager; the next step raises it.
        ASSERT_TRUE(waitUntil([] { return !windowsOf("velk-typing-target").empty(); }));
    }

    static inline QTemporaryDir* s_data = nullptr;
    static inline PrivateDisplay* s_display = nullptr;

    QTemporaryDir m_scratch;
    QString m_log;
    LinuxDesktopServices desktop;
    LinuxStepRunner runner{desktop};
    FakePlannerHost host;
    ScriptedDialogs dialogs;
    ComputerPlanner planner{host, runner, dialogs};
};

}  // namespace

TEST_F(DesktopSteps, theOpenedAppReceivesTheTypedLineAndCommandShortcutsAsControl) {
    const Result<InstalledApplication> app = runner.application(kApp);
    ASSERT_TRUE(app.ok());
    EXPECT_TRUE(app->windowClasses.contains("velk-typing-target"));

    openTarget();
    runStep();
    EXPECT_EQ(planner.message(), "Step sent. Check the target app before continuing.");
    EXPECT_TRUE(waitUntil([&] { return logLines().contains("text: " + kTyped); }))
        << logLines().join('\n').toStdString();

    runStep();
    EXPECT_EQ(planner.completed(), 3);
    EXPECT_TRUE(waitUntil([&] { return logLines().contains("selected: " + kTyped); }))
        << logLines().join('\n').toStdString();
    EXPECT_TRUE(logLines().contains("control+a"));
    // The raised window was reused: one target process only.
    EXPECT_EQ(windowsOf("velk-typing-target").size(), 1u);
}

TEST_F(DesktopSteps, nothingIsTypedWhenAnotherWindowTakesTheFrontDuringTheWait) {
    openTarget();

    QProcess intruder;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("RESOURCE_NAME", "velk-intruder");
    environment.insert("TYPING_TARGET_NAME", "velk-intruder");
    intruder.setProcessEnvironment(environment);
    const QString intruderLog = m_scratch.filePath("intruder.log");
    intruder.start(VELK_TYPING_TARGET, {intruderLog});
    ASSERT_TRUE(waitUntil([] { return !windowsOf("velk-intruder").empty(); }));

    dialogs.answerAlert(0);
    planner.runNext();
    ASSERT_TRUE(planner.executing());
    // The runner raises the target first; the intruder takes the front during the wait.
    testing_support::processEventsFor(std::chrono::milliseconds(250));
    X11Windows::activate(windowsOf("velk-intruder").front().id);
    ASSERT_TRUE(waitUntil([&] { return !planner.executing(); }));
    EXPECT_EQ(planner.message(),
              "The target app is no longer active. Nothing was typed. Try this step again.");
    EXPECT_EQ(planner.completed(), 1);
    testing_support::processEventsFor(std::chrono::milliseconds(300));
    for (const QString& line : logLines() + QString::fromUtf8(readFile(intruderLog)).split('\n')) {
        EXPECT_FALSE(line.startsWith("text: ")) << line.toStdString();
    }
    intruder.terminate();
    intruder.waitForFinished(3000);
}

TEST_F(DesktopSteps, typingStopsAtTheFirstCheckThatFindsTheFocusElsewhere) {
    openTarget();
    X11Windows::activate(windowsOf("velk-typing-target").front().id);
    ASSERT_TRUE(waitUntil([] {
        const auto focused = X11Windows::focusedWindow();
        return focused && focused->windowClasses.contains("velk-typing-target");
    }));
    int checks = 0;
    const Result<void> typed = KeyboardSynthesis::typeText(
        QString::fromUtf8("abcdefgh→ijklmnopqrs"), [&] { return ++checks == 1; });
    ASSERT_FALSE(typed);
    EXPECT_EQ(typed.error().message,
              "The target app lost the keyboard focus while typing. Typing stopped after 8 "
              "of 20 characters.");
    EXPECT_TRUE(waitUntil([&] { return logLines().contains("text: abcdefgh"); }));
    testing_support::processEventsFor(std::chrono::milliseconds(200));
    EXPECT_EQ(logLines().last(), "text: abcdefgh");

    const Result<void> refused = KeyboardSynthesis::typeText("x", [] { return false; });
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().message,
              "The target app is no longer active. Nothing was typed. Try this step again.");
}
