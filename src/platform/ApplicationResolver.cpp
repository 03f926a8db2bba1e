#include "platform/ApplicationResolver.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

// GLib's headers come after Qt's: with Qt keywords off nothing clashes.
#include <gio/gdesktopappinfo.h>

#include <memory>
#include <vector>

namespace {

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using AppInfo = std::unique_ptr<GAppInfo, ObjectUnref>;

// Launchers whose name says nothing about the application they start.
const QStringList kGenericExecutables = {"env",    "sh",      "bash",    "zsh",     "dash",
                                         "python", "python3", "perl",    "flatpak", "snap",
                                         "java",   "gjs",     "xdg-open"};

QString text(const char* value) {
    return QString::fromUtf8(value ? value : "");
}

std::optional<ApplicationResolver::Entry> entryFrom(GAppInfo* info) {
    if (!info || !G_IS_DESKTOP_APP_INFO(info)) {
        return std::nullopt;
    }
    GDesktopAppInfo* desktop = G_DESKTOP_APP_INFO(info);
    if (g_desktop_app_info_get_is_hidden(desktop)) {
        return std::nullopt;
    }
    ApplicationResolver::Entry entry;
    entry.desktopFile = text(g_desktop_app_info_get_filename(desktop));
    entry.desktopID = text(g_app_info_get_id(info));
    if (entry.desktopID.isEmpty()) {
        entry.desktopID = QFileInfo(entry.desktopFile).fileName();
    }
    entry.name = text(g_app_info_get_name(info));
    QStringList classes = {text(g_desktop_app_info_get_startup_wm_class(desktop))};
    QString base = entry.desktopID;
    base.chop(base.endsWith(u".desktop") ? 8 : 0);
    classes.append(base);
    const QString executable = QFileInfo(text(g_app_info_get_executable(info))).fileName();
    if (!kGenericExecutables.contains(executable)) {
        classes.append(executable);
    }
    for (const QString& name : classes) {
        if (!name.isEmpty() && !entry.windowClasses.contains(name.toLower())) {
            entry.windowClasses.append(name.toLower());
        }
    }
    return entry;
}

std::optional<ApplicationResolver::Entry> entryFromID(const QString& desktopID) {
    AppInfo info(G_APP_INFO(g_desktop_app_info_new(desktopID.toUtf8().constData())));
    if (info) {
        return entryFrom(info.get());
    }
    // GIO indexes the data folders once and refreshes on change notifications; a file
    // written moments ago may not be indexed yet, so look for it directly too.
    const QString file = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, desktopID);
    return file.isEmpty() ? std::nullopt : ApplicationResolver::entryFromFile(file);
}

// Every installed application of a freedesktop category, the desktop's own first.
std::optional<ApplicationResolver::Entry> byCategory(const char* category,
                                                     const QStringList& preferredIDs) {
    for (const QString& id : preferredIDs) {
        if (auto entry = entryFromID(id)) {
            return entry;
        }
    }
    GList* all = g_app_info_get_all();
    std::optional<ApplicationResolver::Entry> found;
    for (GList* item = all; item && !found; item = item->next) {
        auto* info = static_cast<GAppInfo*>(item->data);
        if (!G_IS_DESKTOP_APP_INFO(info) || !g_app_info_should_show(info)) {
            continue;
        }
        const QStringList categories =
            text(g_desktop_app_info_get_categories(G_DESKTOP_APP_INFO(info)))
                .split(u';', Qt::SkipEmptyParts);
        if (categories.contains(QLatin1String(category))) {
            found = entryFrom(info);
        }
    }
    g_list_free_full(all, g_object_unref);
    return found;
}

std::optional<ApplicationResolver::Entry> defaultFor(const char* contentType) {
    AppInfo info(g_app_info_get_default_for_type(contentType, FALSE));
    return info ? entryFrom(info.get()) : std::nullopt;
}

std::optional<ApplicationResolver::Entry> defaultForScheme(const char* scheme) {
    AppInfo info(g_app_info_get_default_for_uri_scheme(scheme));
    return info ? entryFrom(info.get()) : std::nullopt;
}

// The programs each desktop ships for a role, most likely first.
QStringList desktopPrograms(ApplicationResolver::Role role) {
    using Role = ApplicationResolver::Role;
    const QString desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP").toUpper();
    const bool kde = desktop.contains(u"KDE");
    const bool xfce = desktop.contains(u"XFCE");
    switch (role) {
        case Role::Terminal:
            if (kde) {
                return {"org.kde.konsole.desktop"};
            }
            if (xfce) {
                return {"xfce4-terminal.desktop"};
            }
            return {"org.gnome.Console.desktop", "org.gnome.Terminal.desktop",
                    "xfce4-terminal.desktop",    "org.kde.konsole.desktop",
                    "debian-xterm.desktop",      "xterm.desktop"};
        case Role::Calculator:
            if (kde) {
                return {"org.kde.kcalc.desktop", "org.kde.kalk.desktop"};
            }
            return {"org.gnome.Calculator.desktop",
                    "gnome-calculator.desktop",
                    "mate-calc.desktop",
                    "galculator.desktop",
                    "org.kde.kcalc.desktop",
                    "qalculate-gtk.desktop"};
        default:
            return {};
    }
}

}  // namespace

namespace ApplicationResolver {

std::optional<Role> aliasRole(const QString& identifier) {
    static const QList<QPair<QString, Role>> aliases = {
        {"com.apple.textedit", Role::TextEditor}, {"com.apple.safari", Role::WebBrowser},
        {"com.apple.terminal", Role::Terminal},   {"com.apple.calculator", Role::Calculator},
        {"com.apple.finder", Role::FileManager},
    };
    const QString key = identifier.toLower();
    for (const auto& [alias, role] : aliases) {
        if (alias == key) {
            return role;
        }
    }
    return std::nullopt;
}

std::optional<Entry> resolve(const QString& identifier) {
    if (const std::optional<Role> role = aliasRole(identifier)) {
        switch (*role) {
            case Role::TextEditor:
                if (auto entry = defaultFor("text/plain")) {
                    return entry;
                }
                return byCategory("TextEditor", {});
            case Role::WebBrowser:
                if (auto entry = defaultForScheme("https")) {
                    return entry;
                }
                if (auto entry = defaultFor("x-scheme-handler/http")) {
                    return entry;
                }
                return byCategory("WebBrowser", {});
            case Role::Terminal:
                return byCategory("TerminalEmulator", desktopPrograms(*role));
            case Role::Calculator:
                return byCategory("Calculator", desktopPrograms(*role));
            case Role::FileManager:
                if (auto entry = defaultFor("inode/directory")) {
                    return entry;
                }
                return byCategory("FileManager", {});
        }
    }
    if (identifier.isEmpty() || identifier.contains(u'/')) {
        return std::nullopt;
    }
    return entryFromID(identifier.endsWith(u".desktop") ? identifier
                                                        : identifier + QStringLiteral(".desktop"));
}

std::optional<Entry> entryFromFile(const QString& desktopFile) {
    AppInfo info(G_APP_INFO(g_desktop_app_info_new_from_filename(desktopFile.toLocal8Bit())));
    return info ? entryFrom(info.get()) : std::nullopt;
}

}  // namespace ApplicationResolver

namespace ApplicationResolver {

Result<qint64> launch(const QString& desktopFile, const QStringList& uris) {
    const QString name = QFileInfo(desktopFile).fileName();
    std::unique_ptr<GDesktopAppInfo, ObjectUnref> info(
        g_desktop_app_info_new_from_filename(desktopFile.toLocal8Bit()));
    if (!info) {
        return Error::invalid(
            QStringLiteral("“%1” is not an application that can be opened.").arg(name));
    }
    std::vector<QByteArray> encoded;
    GList* list = nullptr;
    for (const QString& uri : uris) {
        encoded.push_back(uri.toUtf8());
    }
    for (auto it = encoded.rbegin(); it != encoded.rend(); ++it) {
        list = g_list_prepend(list, it->data());
    }
    GPid pid = 0;
    GError* error = nullptr;
    const auto reportPid = [](GDesktopAppInfo*, GPid launched, gpointer data) {
        *static_cast<GPid*>(data) = launched;
    };
    const gboolean launched = g_desktop_app_info_launch_uris_as_manager(
        info.get(), list, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, reportPid, &pid, &error);
    g_list_free(list);
    if (!launched) {
        const QString reason = error ? text(error->message) : QString();
        g_clear_error(&error);
        return Error{Error::Kind::System,
                     QStringLiteral("“%1” could not be opened: %2").arg(name, reason)};
    }
    return static_cast<qint64>(pid);
}

}  // namespace ApplicationResolver
