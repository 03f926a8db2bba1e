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

    static QString resolvedID(const QString& identifier) {
        const auto entry = ApplicationResolver::resolve(identifier);
        return entry ? entry->desktopID : QStringLiteral("none");
    }

    static inline QTemporaryDir* s_folder = nullptr;
};

}  // namespace

TEST_F(ApplicationResolverTest, desktopEntryIdsResolveAsTheyAreWithTheirWindowClasses) {
    const auto writer = ApplicationResolver::resolve("org.example.Writer");
    ASSERT_TRUE(writer.has_value());
    EXPECT_EQ(writer->desktopID, "org.example.Writer.desktop");
    EXPECT_TRUE(writer->desktopFile.endsWith("data/applications/org.example.Writer.desktop"));
    EXPECT_EQ(writer->windowClasses, (QStringList{"writerwindow", "org.example.writer", "true"}));

    EXPECT_EQ(resolvedID("org.example.Gone"), "none");
    EXPECT_EQ(resolvedID("org.example.Missing"), "none");
    EXPECT_EQ(resolvedID("../applications/org.example.Writer"), "none");
}

TEST_F(ApplicationResolverTest, macIdentifiersResolveToTheDesktopsOwnApplicationOfTheirKind) {
    EXPECT_EQ(resolvedID("com.apple.TextEdit"), "org.example.Notes.desktop");
    EXPECT_EQ(resolvedID("com.apple.textedit"), "org.example.Notes.desktop");
    EXPECT_EQ(resolvedID("com.apple.Safari"), "org.example.Web.desktop");
    EXPECT_EQ(resolvedID("com.apple.calculator"), "org.example.Sums.desktop");
    EXPECT_EQ(resolvedID("com.apple.Terminal"), "org.example.Shell.desktop");
    // No file manager is installed here.
    EXPECT_EQ(resolvedID("com.apple.finder"), "none");
    EXPECT_EQ(resolvedID("com.apple.Mail"), "none");
}
