#pragma once

#include "core/base/Result.h"

#include <QStringList>

#include <cstddef>
#include <cstdint>

// The desktop's application registry and settings (GIO) and synthetic keyboard input (libxdo
// and XTEST) live in a module of their own (velk-desktop.so): the program starts without
// loading GIO, GObject, libmount, libselinux, libxdo and the X extension libraries they bring.
// The module is opened the first time an application is looked up or launched, the motion
// setting is read, or keys are sent. Its functions speak plain C types and own no Qt objects.

// An installed application as its desktop entry describes it; the texts live only for the
// call that receives them. Hidden entries and applications without a desktop entry are never
// handed out.
struct DesktopApplication {
    const char* id;    // "org.gnome.TextEditor.desktop"
    const char* file;  // its absolute path
    const char* name;
    const char* windowClass;  // StartupWMClass, or empty
    const char* executable;   // the command's program, or empty
    const char* categories;   // "Utility;TextEditor;"
};

// Receives each application found; returning true stops the search.
using DesktopApplicationVisitor = bool (*)(const DesktopApplication& application, void* payload);

enum class DesktopApplicationLookup : std::uint32_t {
    ByID,              // `key` is a desktop-entry id
    FromFile,          // `key` is the path of a .desktop file
    DefaultForType,    // `key` is a content type ("text/plain")
    DefaultForScheme,  // `key` is a URI scheme ("https")
    Shown,             // every application the menus show; `key` is unused
};

struct DesktopModuleFunctions {
    // Hands the applications the lookup finds to `visit`.
    void (*findApplications)(DesktopApplicationLookup lookup, const char* key,
                             DesktopApplicationVisitor visit, void* payload);
    // Starts the application of a .desktop file with `uriCount` URIs. Returns 0 and its
    // process id in `pid` (0 when started through D-Bus activation), 1 when the file is not
    // an application, 2 when it did not start: `failed` then receives GLib's reason.
    int (*launch)(const char* desktopFile, const char* const* uris, std::size_t uriCount,
                  std::int64_t* pid, void (*failed)(const char* reason, void* payload),
                  void* payload);

    // GNOME's `org.gnome.desktop.interface enable-animations`: null when the schema (in
    // `schemaFolder`, or the system's folders when null) or its key is missing. `changed`
    // runs from GLib's main context whenever the setting changes.
    void* (*openMotionSetting)(const char* schemaFolder, void (*changed)(void* payload),
                               void* payload);
    bool (*animationsEnabled)(void* setting);
    void (*closeMotionSetting)(void* setting);

    // A connection to the X display of $DISPLAY for synthetic keys, or null. One thread at a
    // time uses a connection.
    void* (*openKeyboard)();
    // Makes sure every character has a key, binding missing ones to free keycodes. False when
    // the keyboard has too few free keys.
    bool (*prepareCharacters)(void* keyboard, const std::uint32_t* scalars, std::size_t count);
    // Types one prepared character, then waits `delayMicroseconds`.
    void (*typeCharacter)(void* keyboard, std::uint32_t scalar, std::uint32_t delayMicroseconds);
    // Presses and releases an xdo key sequence ("ctrl+a") in the focused window.
    bool (*pressKeys)(void* keyboard, const char* sequence, std::uint32_t delayMicroseconds);
    void (*closeKeyboard)(void* keyboard);
};

// The function the module exports: its table, which lives as long as the process.
inline constexpr char kDesktopModuleEntry[] = "velk_desktop_functions_v1";
using DesktopModuleEntry = const DesktopModuleFunctions* (*)();

namespace DesktopModule {

// Where the module is looked for, in order: $VELK_DESKTOP_MODULE when set, else beside the
// executable (the build tree), else ../lib/velk/ from it (the installed layout).
QStringList candidates();

// Opens the first candidate that exists and takes its table. The error says which file was
// tried and why it did not load.
Result<const DesktopModuleFunctions*> load(const QStringList& candidates);

// The module's table, loaded from candidates() on the first call from any thread; the error
// (the same for the life of the process) says why the desktop's applications, settings and
// keyboard are out of reach.
const Result<const DesktopModuleFunctions*>& functions();

}  // namespace DesktopModule
