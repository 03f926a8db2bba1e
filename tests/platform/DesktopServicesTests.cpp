#include "platform/ApplicationResolver.h"
#include "platform/DesktopModule.h"
#include "platform/LinuxDesktopServices.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

using testing_support::readFile;
using testing_support::ScopedEnvironment;
using testing_support::waitUntil;
using testing_support::writeFile;

namespace {

using Pane = DesktopServices::PrivacyPane;

// A folder of stand-in desktop programs that write their arguments, one per line, to
// "<program>.called" in the same folder. It is the whole PATH while the test runs.
class FakePrograms {
public:
    explicit FakePrograms(const QStringList& programs) : m_path("PATH", m_folder.path().toUtf8()) {
        for (const QString& program : programs) {
            const QString script = m_folder.filePath(program);
            writeFile(script, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.called\"\n");
            QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
    }

    // The arguments of the program's next run, once it has run.
    QStringList argumentsOf(const QString& program) const {
        const QString marker = m_folder.filePath(program + ".called");
        if (!waitUntil([&] { return readFile(marker).endsWith('\n'); })) {
            return {"(not called)"};
        }
        const QByteArray arguments = readFile(marker);
        QFile::remove(marker);
        return QString::fromUtf8(arguments).split('\n', Qt::SkipEmptyParts);
    }
    bool wasCalled(const QString& program) const {
        return QFile::exists(m_folder.filePath(program + ".called"));
    }

private:
    QTemporaryDir m_folder;
    ScopedEnvironment m_path;
};

}  // namespace

TEST(PrivacySettings, theDesktopsSettingsProgramOpensAtItsPanelOrTheNoticeIsGiven) {
    FakePrograms programs({"gnome-control-center", "systemsettings"});
    LinuxDesktopServices services;
    struct Row {
        const char* desktop;
        Pane pane;
        const char* program;  // the program started, or none for the notice
        const char* panel;
    };
    // XFCE's settings program is absent here.
    const Row rows[] = {
        {"ubuntu:GNOME", Pane::Accessibility, "gnome-control-center", "universal-access"},
        {"ubuntu:GNOME", Pane::ScreenRecording, "gnome-control-center", "privacy"},
        {"KDE", Pane::Accessibility, "systemsettings", "kcm_access"},
        {"KDE", Pane::ScreenRecording, nullptr, nullptr},
        {"", Pane::Accessibility, nullptr, nullptr},
        {"XFCE", Pane::Accessibility, nullptr, nullptr}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.desktop);
        ScopedEnvironment desktop("XDG_CURRENT_DESKTOP", row.desktop);
        const Result<void> opened = services.openPrivacySettings(row.pane);
        if (row.program) {
            EXPECT_TRUE(opened) << opened.error().message.toStdString();
            EXPECT_EQ(programs.argumentsOf(row.program), QStringList{row.panel});
        } else {
            ASSERT_FALSE(opened);
            EXPECT_EQ(opened.error().message, LinuxDesktopServices::missingSettingNotice(row.pane));
        }
    }
    EXPECT_FALSE(programs.wasCalled("gnome-control-center"));
    EXPECT_FALSE(programs.wasCalled("systemsettings"));
}

TEST(OpenUrl, foldersAndWebAddressesGoToTheDesktopOpenerAndOtherTextOpensNothing) {
    FakePrograms programs({"xdg-open"});
    LinuxDesktopServices services;
    EXPECT_FALSE(services.openUrl("relative/folder"));
    EXPECT_FALSE(services.openUrl(""));
    EXPECT_FALSE(programs.wasCalled("xdg-open"));

    QTemporaryDir project;
    const QString folder = project.filePath("my project");
    QDir().mkpath(folder);
    EXPECT_TRUE(services.openUrl(folder));
    EXPECT_EQ(programs.argumentsOf("xdg-open"),
              QStringList{QString::fromUtf8(QUrl::fromLocalFile(folder).toEncoded())});
    EXPECT_TRUE(services.openUrl("https://example.org/docs?q=a b"));
    EXPECT_EQ(programs.argumentsOf("xdg-open"), QStringList{"https://example.org/docs?q=a%20b"});
}

TEST(DesktopEntry, anEntryRunsItsCommandAndOnesThatCannotRunGiveAnErrorNamingThem) {
    QTemporaryDir folder;
    const QString script = folder.filePath("make marker.sh");
    const QString marker = folder.filePath("launched");
    ASSERT_TRUE(
        writeFile(script, "#!/bin/sh\necho \"launched $1\" > \"" + marker.toUtf8() + "\"\n"));
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString entry = folder.filePath("marker.desktop");
    ASSERT_TRUE(writeFile(entry, "[Desktop Entry]\nType=Application\nName=Marker\nExec=\"" +
                                     script.toUtf8() + "\" with-argument\n"));
    LinuxDesktopServices services;
    const Result<void> launched = services.launchDesktopEntry(entry);
    EXPECT_TRUE(launched) << launched.error().message.toStdString();
    ASSERT_TRUE(waitUntil([&] { return readFile(marker).endsWith('\n'); }));
    EXPECT_EQ(readFile(marker), "launched with-argument\n");

    ASSERT_TRUE(writeFile(folder.filePath("notes.desktop"), "just some text\n"));
    ASSERT_TRUE(writeFile(folder.filePath("missing.desktop"),
                          "[Desktop Entry]\nType=Application\nName=Gone\n"
                          "Exec=/nonexistent/velk-no-such-program\n"));
    for (const char* name : {"notes.desktop", "missing.desktop", "absent.desktop"}) {
        const Result<void> failed = services.launchDesktopEntry(folder.filePath(name));
        ASSERT_FALSE(failed) << name;
        if (QString(name) != "absent.desktop") {
            EXPECT_TRUE(failed.error().message.contains(name))
                << failed.error().message.toStdString();
        }
    }
}

// Without its desktop module (an installation missing a file) launching and looking up
// applications say why they cannot, and what was looked for; a file of another kind in its
// place is refused.
TEST(DesktopEntry, aMissingDesktopModuleIsReported) {
    const QString missing = "/nonexistent/velk-desktop.so";
    const Result<const DesktopModuleFunctions*> notFound = DesktopModule::load({missing});
    ASSERT_FALSE(notFound);
    EXPECT_EQ(notFound.error().message,
              "The desktop's applications and keyboard are out of reach: the desktop module is "
              "missing (looked for " +
                  missing + "). Reinstall VELK to use them.");
    QTemporaryDir folder;
    const QString other = folder.filePath("velk-desktop.so");
    ASSERT_TRUE(writeFile(other, "not a library"));
    const Result<const DesktopModuleFunctions*> notLoaded = DesktopModule::load({other});
    ASSERT_FALSE(notLoaded);
    EXPECT_TRUE(notLoaded.error().message.startsWith(
        "The desktop's applications and keyboard are out of reach: the desktop module did not "
        "load ("));

    // A process of its own, where the module was never opened, finds none to be opened.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            qputenv("VELK_DESKTOP_MODULE", missing.toUtf8());
            const Result<void> launched =
                LinuxDesktopServices().launchDesktopEntry(folder.filePath("any.desktop"));
            const Result<ApplicationResolver::Entry> found =
                ApplicationResolver::resolve("com.apple.TextEdit");
            std::fputs(qPrintable(launched ? QString() : launched.error().message), stderr);
            std::exit(!launched && !found && found.error() == launched.error() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "the desktop module is missing \\(looked for /nonexistent");
}

TEST(Accessibility, trustedOnAnX11DisplayWithXTestAndNotWithoutADisplay) {
    LinuxDesktopServices services;
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        GTEST_SKIP() << "no X11 display (scripts/test.sh starts one)";
    }
    EXPECT_TRUE(services.accessibilityTrusted());
    {
        ScopedEnvironment noDisplay("DISPLAY", "");
        EXPECT_FALSE(services.accessibilityTrusted());
    }
    ScopedEnvironment unreachable("DISPLAY", ":999");
    EXPECT_FALSE(services.accessibilityTrusted());
}
