#pragma once

#include "core/base/Result.h"

#include <QString>
#include <QStringList>

#include <optional>

// Finds installed applications by desktop-entry id, with a small alias table that maps
// well-known macOS bundle identifiers to the desktop's own application of the same kind. The
// lookups and launches go through GIO, in the desktop module (platform/DesktopModule.h).
namespace ApplicationResolver {

struct Entry {
    QString desktopID;    // "org.gnome.TextEditor.desktop"
    QString desktopFile;  // its absolute path
    QString name;
    QStringList windowClasses;  // lower case: StartupWMClass, the id, the executable's name

    bool operator==(const Entry&) const = default;
};

// The kind of application a well-known macOS identifier stands for.
enum class Role { TextEditor, WebBrowser, Terminal, Calculator, FileManager };

// The role of a macOS identifier (compared case-insensitively), or nothing.
std::optional<Role> aliasRole(const QString& identifier);

// The application for an identifier: an alias resolved through the default-application
// associations (and the desktop's usual programs), else the desktop entry "<identifier>.desktop"
// from the XDG data folders. Hidden entries count as missing (Error::Kind::NotFound); other
// errors say why no application could be looked up (the desktop module did not load).
Result<Entry> resolve(const QString& identifier);

// Starts the application of a .desktop file, handing it the URIs (may be empty). Gives the
// process id, or 0 when the application was started another way (D-Bus activation).
Result<qint64> launch(const QString& desktopFile, const QStringList& uris);

}  // namespace ApplicationResolver
