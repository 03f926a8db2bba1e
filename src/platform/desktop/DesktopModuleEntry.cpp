// velk-desktop.so: the desktop's application registry and settings through GIO, and synthetic
// keys through XTEST and libxdo, behind the one table the program finds with dlsym (see
// platform/DesktopModule.h, which names it and its types).
#include "platform/DesktopModule.h"

// GLib's and Xlib's headers come after Qt's: with Qt keywords off nothing clashes.
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

extern "C" {
#include <xdo.h>
}
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

#include <unistd.h>

namespace {

// --- Applications -------------------------------------------------------------------------

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using AppInfo = std::unique_ptr<GAppInfo, ObjectUnref>;

const char* text(const char* value) {
    return value ? value : "";
}

// Hands a visible desktop application to `visit`; false for anything else.
bool visitApplication(GAppInfo* info, DesktopApplicationVisitor visit, void* payload, bool* stop) {
    if (!info || !G_IS_DESKTOP_APP_INFO(info)) {
        return false;
    }
    GDesktopAppInfo* desktop = G_DESKTOP_APP_INFO(info);
    if (g_desktop_app_info_get_is_hidden(desktop)) {
        return false;
    }
    const DesktopApplication application{text(g_app_info_get_id(info)),
                                         text(g_desktop_app_info_get_filename(desktop)),
                                         text(g_app_info_get_name(info)),
                                         text(g_desktop_app_info_get_startup_wm_class(desktop)),
                                         text(g_app_info_get_executable(info)),
                                         text(g_desktop_app_info_get_categories(desktop))};
    *stop = visit(application, payload);
    return true;
}

void findApplications(DesktopApplicationLookup lookup, const char* key,
                      DesktopApplicationVisitor visit, void* payload) {
    bool stop = false;
    AppInfo info;
    switch (lookup) {
        case DesktopApplicationLookup::ByID:
            info.reset(G_APP_INFO(g_desktop_app_info_new(key)));
            break;
        case DesktopApplicationLookup::FromFile:
            info.reset(G_APP_INFO(g_desktop_app_info_new_from_filename(key)));
            break;
        case DesktopApplicationLookup::DefaultForType:
            info.reset(g_app_info_get_default_for_type(key, FALSE));
            break;
        case DesktopApplicationLookup::DefaultForScheme:
            info.reset(g_app_info_get_default_for_uri_scheme(key));
            break;
        case DesktopApplicationLookup::Shown: {
            GList* all = g_app_info_get_all();
            for (GList* item = all; item && !stop; item = item->next) {
                auto* shown = static_cast<GAppInfo*>(item->data);
                if (g_app_info_should_show(shown)) {
                    visitApplication(shown, visit, payload, &stop);
                }
            }
            g_list_free_full(all, g_object_unref);
            return;
        }
    }
    visitApplication(info.get(), visit, payload, &stop);
}

int launch(const char* desktopFile, const char* const* uris, std::size_t uriCount,
           std::int64_t* pid, void (*failed)(const char* reason, void* payload), void* payload) {
    std::unique_ptr<GDesktopAppInfo, ObjectUnref> info(
        g_desktop_app_info_new_from_filename(desktopFile));
    if (!info) {
        return 1;
    }
    GList* list = nullptr;
    for (std::size_t index = uriCount; index > 0; --index) {
        list = g_list_prepend(list, const_cast<char*>(uris[index - 1]));
    }
    GPid launched = 0;
    GError* error = nullptr;
    const auto reportPid = [](GDesktopAppInfo*, GPid started, gpointer data) {
        *static_cast<GPid*>(data) = started;
    };
    const gboolean started =
        g_desktop_app_info_launch_uris_as_manager(info.get(), list, nullptr, G_SPAWN_SEARCH_PATH,
                                                  nullptr, nullptr, reportPid, &launched, &error);
    g_list_free(list);
    if (!started) {
        failed(error ? error->message : "", payload);
        g_clear_error(&error);
        return 2;
    }
    *pid = launched;
    return 0;
}

// --- The motion setting -------------------------------------------------------------------

constexpr const char* kMotionSchema = "org.gnome.desktop.interface";
constexpr const char* kMotionKey = "enable-animations";

// The schema, when it is installed and has the key; null otherwise. GSettings aborts the
// process on a schema that is not installed, so it is looked up first.
GSettingsSchema* lookUpMotionSchema(const char* schemaFolder) {
    GSettingsSchemaSource* source = nullptr;
    if (!schemaFolder) {
        source = g_settings_schema_source_get_default();
        if (source) {
            g_settings_schema_source_ref(source);
        }
    } else {
        source = g_settings_schema_source_new_from_directory(schemaFolder, nullptr, FALSE, nullptr);
    }
    if (!source) {
        return nullptr;
    }
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, kMotionSchema, TRUE);
    g_settings_schema_source_unref(source);
    if (schema && !g_settings_schema_has_key(schema, kMotionKey)) {
        g_settings_schema_unref(schema);
        return nullptr;
    }
    return schema;
}

struct MotionSetting {
    GSettings* settings;
    gulong handler;
    void (*changed)(void*);
    void* payload;
};

void* openMotionSetting(const char* schemaFolder, void (*changed)(void*), void* payload) {
    GSettingsSchema* schema = lookUpMotionSchema(schemaFolder);
    if (!schema) {
        return nullptr;
    }
    auto* setting =
        new MotionSetting{g_settings_new_full(schema, nullptr, nullptr), 0, changed, payload};
    g_settings_schema_unref(schema);
    if (changed) {
        setting->handler = g_signal_connect(setting->settings, "changed::enable-animations",
                                            G_CALLBACK(+[](GSettings*, const char*, gpointer data) {
                                                auto* self = static_cast<MotionSetting*>(data);
                                                self->changed(self->payload);
                                            }),
                                            setting);
    }
    // GSettings sends change signals only for keys read since it was created.
    g_settings_get_boolean(setting->settings, kMotionKey);
    return setting;
}

bool animationsEnabled(void* setting) {
    return g_settings_get_boolean(static_cast<MotionSetting*>(setting)->settings, kMotionKey);
}

void closeMotionSetting(void* opened) {
    auto* setting = static_cast<MotionSetting*>(opened);
    if (setting->handler) {
        g_signal_handler_disconnect(setting->settings, setting->handler);
    }
    g_object_unref(setting->settings);
    delete setting;
}

// --- Synthetic keys -----------------------------------------------------------------------

// How long clients get to handle keys typed with a binding before it changes.
constexpr useconds_t kRebindPauseMicroseconds = 500000;

// Types Unicode text with XTEST key events. Characters the keyboard map lacks are bound to
// unused keycodes first. Clients look the map up again when it changes, and they do so in
// order with the key events, so added bindings are safe at once; a binding is only changed
// or removed after a pause that lets clients handle every key typed with it (libxdo's
// per-character rebinding loses characters to exactly that race).
class KeymapTyping {
public:
    explicit KeymapTyping(Display* display) : m_display(display) {
        XDisplayKeycodes(m_display, &m_minimum, &m_maximum);
        KeySym* map = XGetKeyboardMapping(m_display, KeyCode(m_minimum), m_maximum - m_minimum + 1,
                                          &m_perKeycode);
        if (map) {
            m_map.assign(map, map + (m_maximum - m_minimum + 1) * m_perKeycode);
            XFree(map);
        }
        for (int code = m_minimum; code <= m_maximum; ++code) {
            bool empty = true;
            for (int level = 0; level < m_perKeycode; ++level) {
                empty = empty && symbol(code, level) == NoSymbol;
            }
            if (empty) {
                m_spare.push_back(code);
            }
        }
        m_shift = XKeysymToKeycode(m_display, XK_Shift_L);
    }

    ~KeymapTyping() { releaseBindings(); }
    KeymapTyping(const KeymapTyping&) = delete;
    KeymapTyping& operator=(const KeymapTyping&) = delete;

    bool prepare(const std::uint32_t* scalars, std::size_t count) {
        std::vector<KeySym> missing;
        for (std::size_t index = 0; index < count; ++index) {
            const KeySym sym = keysymFor(scalars[index]);
            if (!stroke(sym) && std::find(missing.begin(), missing.end(), sym) == missing.end()) {
                missing.push_back(sym);
            }
        }
        if (missing.empty()) {
            return true;
        }
        if (missing.size() > m_spare.size()) {
            return false;
        }
        if (m_bound.size() + missing.size() > m_spare.size()) {
            releaseBindings();
        }
        for (KeySym sym : missing) {
            const int code = m_spare[m_bound.size()];
            bind(code, sym);
            m_bound.push_back(code);
        }
        XSync(m_display, False);
        return true;
    }

    void type(std::uint32_t scalar, useconds_t delay) {
        const std::optional<std::pair<int, bool>> key = stroke(keysymFor(scalar));
        if (!key) {
            return;
        }
        const auto [code, shifted] = *key;
        if (shifted && m_shift) {
            XTestFakeKeyEvent(m_display, m_shift, True, 0);
        }
        XTestFakeKeyEvent(m_display, code, True, 0);
        XTestFakeKeyEvent(m_display, code, False, 0);
        if (shifted && m_shift) {
            XTestFakeKeyEvent(m_display, m_shift, False, 0);
        }
        XSync(m_display, False);
        usleep(delay);
    }

private:
    static KeySym keysymFor(std::uint32_t scalar) {
        const bool latin1 =
            (scalar >= 0x20 && scalar <= 0x7E) || (scalar >= 0xA0 && scalar <= 0xFF);
        return latin1 ? KeySym(scalar) : KeySym(0x01000000 | scalar);
    }

    KeySym symbol(int code, int level) const {
        const size_t index = size_t(code - m_minimum) * m_perKeycode + level;
        return index < m_map.size() ? m_map[index] : NoSymbol;
    }

    // The keycode that produces the keysym, and whether Shift is needed.
    std::optional<std::pair<int, bool>> stroke(KeySym sym) const {
        for (int level = 0; level < std::min(m_perKeycode, 2); ++level) {
            for (int code = m_minimum; code <= m_maximum; ++code) {
                if (symbol(code, level) == sym) {
                    return std::pair(code, level == 1);
                }
            }
        }
        return std::nullopt;
    }

    void bind(int code, KeySym sym) {
        std::vector<KeySym> row(size_t(m_perKeycode), NoSymbol);
        if (sym != NoSymbol) {
            row[0] = sym;
            if (m_perKeycode > 1) {
                row[1] = sym;
            }
        }
        XChangeKeyboardMapping(m_display, code, m_perKeycode, row.data(), 1);
        std::copy(row.begin(), row.end(), m_map.begin() + (code - m_minimum) * m_perKeycode);
    }

    void releaseBindings() {
        if (m_bound.empty()) {
            return;
        }
        usleep(kRebindPauseMicroseconds);
        for (int code : m_bound) {
            bind(code, NoSymbol);
        }
        m_bound.clear();
        XSync(m_display, False);
    }

    Display* m_display;
    int m_minimum = 8, m_maximum = 255, m_perKeycode = 1;
    std::vector<KeySym> m_map;
    std::vector<int> m_spare;  // keycodes without any symbol
    std::vector<int> m_bound;  // spare keycodes bound for this text, in m_spare order
    KeyCode m_shift = 0;
};

// One display connection; the keyboard map and libxdo are taken on first use.
struct Keyboard {
    Display* display;
    std::optional<KeymapTyping> typing;
    xdo_t* xdo = nullptr;
};

void* openKeyboard() {
    Display* display = XOpenDisplay(nullptr);
    return display ? new Keyboard{display, std::nullopt} : nullptr;
}

bool prepareCharacters(void* opened, const std::uint32_t* scalars, std::size_t count) {
    auto* keyboard = static_cast<Keyboard*>(opened);
    if (!keyboard->typing) {
        keyboard->typing.emplace(keyboard->display);
    }
    return keyboard->typing->prepare(scalars, count);
}

void typeCharacter(void* opened, std::uint32_t scalar, std::uint32_t delayMicroseconds) {
    auto* keyboard = static_cast<Keyboard*>(opened);
    if (keyboard->typing) {
        keyboard->typing->type(scalar, delayMicroseconds);
    }
}

bool pressKeys(void* opened, const char* sequence, std::uint32_t delayMicroseconds) {
    auto* keyboard = static_cast<Keyboard*>(opened);
    if (!keyboard->xdo) {
        keyboard->xdo = xdo_new_with_opened_display(keyboard->display, nullptr, 0);
    }
    return keyboard->xdo && xdo_send_keysequence_window(keyboard->xdo, CURRENTWINDOW, sequence,
                                                        delayMicroseconds) == XDO_SUCCESS;
}

void closeKeyboard(void* opened) {
    auto* keyboard = static_cast<Keyboard*>(opened);
    keyboard->typing.reset();  // releases its bindings through the connection
    if (keyboard->xdo) {
        xdo_free(keyboard->xdo);
    }
    XCloseDisplay(keyboard->display);
    delete keyboard;
}

const DesktopModuleFunctions kFunctions{
    .findApplications = findApplications,
    .launch = launch,
    .openMotionSetting = openMotionSetting,
    .animationsEnabled = animationsEnabled,
    .closeMotionSetting = closeMotionSetting,
    .openKeyboard = openKeyboard,
    .prepareCharacters = prepareCharacters,
    .typeCharacter = typeCharacter,
    .pressKeys = pressKeys,
    .closeKeyboard = closeKeyboard,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const DesktopModuleFunctions*
velk_desktop_functions_v1() {
    return &kFunctions;
}

static_assert(std::is_same_v<decltype(&velk_desktop_functions_v1), DesktopModuleEntry>,
              "the exported function and the program's idea of it differ");
