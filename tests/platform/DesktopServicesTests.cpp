#include "platform/LinuxDesktopServices.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

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

TEST(PrivacySettings, gnomeOpensTheControlCenterAtTheMatchingPanel) {
    FakePrograms programs({"gnome-control-center"});
    ScopedEnvironment desktop("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
    LinuxDesktopServices services;

    EXPECT_EQ(services.openPrivacySettings(Pane::Accessibility), std::nullopt);
    EXPECT_EQ(programs.argumentsOf("gnome-control-center"), QStringList{"universal-access"});
    EXPECT_EQ(services.openPrivacySettings(Pane::ScreenRecording), std::nullopt);
    EXPECT_EQ(programs.argumentsOf("gnome-control-center"), QStringList{"privacy"});
}

TEST(PrivacySettings, aPaneTheDesktopDoesNotHaveGivesTheNoticeAndStartsNothing) {
    FakePrograms programs({"systemsettings"});
    ScopedEnvironment desktop("XDG_CURRENT_DESKTOP", "KDE");
    LinuxDesktopServices services;

    EXPECT_EQ(services.openPrivacySettings(Pane::ScreenRecording),
              LinuxDesktopServices::missingSettingNotice(Pane::ScreenRecording));
    EXPECT_EQ(services.openPrivacySettings(Pane::Accessibility), std::nullopt);
    EXPECT_EQ(programs.argumentsOf("systemsettings"), QStringList{"kcm_access"});
}

TEST(PrivacySettings, anUnknownDesktopOrAMissingSettingsProgramGivesTheNotice) {
    FakePrograms programs({"gnome-control-center"});
    LinuxDesktopServices services;
    {
        ScopedEnvironment desktop("XDG_CURRENT_DESKTOP", "");
        EXPECT_EQ(services.openPrivacySettings(Pane::Accessibility),
                  LinuxDesktopServices::missingSettingNotice(Pane::Accessibility));
    }
    {
        ScopedEnvironment desktop("XDG_CURRENT_DESKTOP", "XFCE");  // its program is absent
        EXPECT_EQ(services.openPrivacySettings(Pane::Accessibility),
                  LinuxDesktopServices::missingSettingNotice(Pane::Accessibility));
    }
    EXPECT_FALSE(programs.wasCalled("gnome-control-center"));
}

TEST(OpenUrl, foldersAndWebAddressesGoToTheDesktopOpener) {
    FakePrograms programs({"xdg-open"});
    LinuxDesktopServices services;
    QTemporaryDir project;
    const QString folder = project.filePath("my project");
    QDir().mkpath(folder);

    EXPECT_TRUE(services.openUrl(folder));
    EXPECT_EQ(programs.argumentsOf("xdg-open"),
              QStringList{QString::fromUtf8(QUrl::fromLocalFile(folder).toEncoded())});

    EXPECT_TRUE(services.openUrl("https://example.org/docs?q=a b"));
    EXPECT_EQ(programs.argumentsOf("xdg-open"), QStringList{"https://example.org/docs?q=a%20b"});
}

TEST(OpenUrl, textThatIsNoAddressOpensNothing) {
    FakePrograms programs({"xdg-open"});
    LinuxDesktopServices services;
    EXPECT_FALSE(services.openUrl("relative/folder"));
    EXPECT_FALSE(services.openUrl(""));
    EXPECT_FALSE(programs.wasCalled("xdg-open"));
}

TEST(DesktopEntry, launchingAnEntryRunsItsCommand) {
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
    EXPECT_EQ(services.launchDesktopEntry(entry), std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return readFile(marker).endsWith('\n'); }));
    EXPECT_EQ(readFile(marker), "launched with-argument\n");
}

TEST(DesktopEntry, entriesThatCannotRunGiveAnErrorText) {
    QTemporaryDir folder;
    const QString notAnEntry = folder.filePath("notes.desktop");
    ASSERT_TRUE(writeFile(notAnEntry, "just some text\n"));
    const QString missingProgram = folder.filePath("missing.desktop");
    ASSERT_TRUE(writeFile(missingProgram,
                          "[Desktop Entry]\nType=Application\nName=Gone\n"
                          "Exec=/nonexistent/velk-no-such-program\n"));

    LinuxDesktopServices services;
    const auto notAnEntryError = services.launchDesktopEntry(notAnEntry);
    ASSERT_TRUE(notAnEntryError.has_value());
    EXPECT_TRUE(notAnEntryError->contains("notes.desktop"));
    EXPECT_TRUE(services.launchDesktopEntry(folder.filePath("absent.desktop")).has_value());
    const auto missingError = services.launchDesktopEntry(missingProgram);
    ASSERT_TRUE(missingError.has_value());
    EXPECT_TRUE(missingError->contains("missing.desktop"));
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
