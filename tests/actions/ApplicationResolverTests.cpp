// Applications found for plan identifiers: desktop-entry ids as they are, well-known macOS
// identifiers through the desktop's default applications and categories.
#include "platform/ApplicationResolver.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class ApplicationResolverTest : public ::testing::Test {
protected:
    // Before GIO first reads the data and configuration folders.
    static void SetUpTestSuite() {
        s_folder = new QTemporaryDir;
        const QDir root(s_folder->path());
        qputenv("XDG_DATA_HOME", root.filePath("data").toUtf8());
        qputenv("XDG_DATA_DIRS", root.filePath("system").toUtf8());
        qputenv("XDG_CONFIG_HOME", root.filePath("config").toUtf8());
        qputenv("XDG_CONFIG_DIRS", root.filePath("system-config").toUtf8());
        qputenv("XDG_CURRENT_DESKTOP", "X-Test");
        const auto entry = [&](const QString& id, const QByteArray& extra) {
            testing_support::writeFile(root.filePath("data/applications/" + id),
                                       "[Desktop Entry]\nType=Application\nName=" + id.toUtf8() +
                                           "\nExec=/bin/true %U\n" + extra);
        };
        entry(
            "org.example.Writer.desktop",
            "MimeType=text/plain;\nStartupWMClass=WriterWindow\nCategories=Utility;TextEditor;\n");
        entry("org.example.Notes.desktop",
              "MimeType=text/plain;\nCategories=Utility;TextEditor;\n");
        entry("org.example.Web.desktop",
              "MimeType=x-scheme-handler/https;x-scheme-handler/http;\n");
        entry("org.example.Sums.desktop", "Categories=Utility;Calculator;\n");
        entry("org.example.Shell.desktop", "Categories=System;TerminalEmulator;\n");
        entry("org.example.Gone.desktop", "Hidden=true\n");
        testing_support::writeFile(root.filePath("config/mimeapps.list"),
                                   "[Default Applications]\ntext/plain=org.example.Notes.desktop\n"
                                   "x-scheme-handler/https=org.example.Web.desktop\n");
    }
    static void TearDownTestSuite() { delete s_folder; }

    static inline QTemporaryDir* s_folder = nullptr;
};

}  // namespace

TEST_F(ApplicationResolverTest, desktopEntryIdsResolveAsTheyAreAndMacIdsToTheDesktopsOwnKind) {
    const auto writer = ApplicationResolver::resolve("org.example.Writer");
    ASSERT_TRUE(writer.ok());
    EXPECT_EQ(writer->desktopID, "org.example.Writer.desktop");
    EXPECT_TRUE(writer->desktopFile.endsWith("data/applications/org.example.Writer.desktop"));
    EXPECT_EQ(writer->windowClasses, (QStringList{"writerwindow", "org.example.writer", "true"}));

    // No file manager is installed here; hidden, missing and escaping ids find nothing.
    const std::vector<std::pair<QString, QString>> rows = {
        {"com.apple.TextEdit", "org.example.Notes.desktop"},
        {"com.apple.textedit", "org.example.Notes.desktop"},
        {"com.apple.Safari", "org.example.Web.desktop"},
        {"com.apple.calculator", "org.example.Sums.desktop"},
        {"com.apple.Terminal", "org.example.Shell.desktop"},
        {"org.example.Sums.desktop", "org.example.Sums.desktop"},
        {"com.apple.finder", "none"},
        {"com.apple.Mail", "none"},
        {"org.example.Gone", "none"},
        {"org.example.Missing", "none"},
        {"../applications/org.example.Writer", "none"},
    };
    for (const auto& [identifier, expected] : rows) {
        const auto entry = ApplicationResolver::resolve(identifier);
        EXPECT_EQ(entry ? entry->desktopID : "none", expected) << identifier.toStdString();
    }
}
