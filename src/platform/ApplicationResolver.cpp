#include "platform/ApplicationResolver.h"

#include "platform/DesktopModule.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <functional>
#include <vector>

namespace {

// Launchers whose name says nothing about the application they start.
const QStringList kGenericExecutables = {"env",    "sh",      "bash",    "zsh",     "dash",
                                         "python", "python3", "perl",    "flatpak", "snap",
                                         "java",   "gjs",     "xdg-open"};

QString text(const char* value) {
    return QString::fromUtf8(value);
}

ApplicationResolver::Entry entryFrom(const DesktopApplication& application) {
    ApplicationResolver::Entry entry;
    entry.desktopFile = text(application.file);
    entry.desktopID = text(application.id);
    if (entry.desktopID.isEmpty()) {
        entry.desktopID = QFileInfo(entry.desktopFile).fileName();
    }
    entry.name = text(application.name);
    QStringList classes = {text(application.windowClass)};
    QString base = entry.desktopID;
    base.chop(base.endsWith(u".desktop") ? 8 : 0);
    classes.append(base);
    const QString executable = QFileInfo(text(application.executable)).fileName();
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

// Application lookups through the desktop module, which is loaded before any is made.
class Registry {
public:
    explicit Registry(const DesktopModuleFunctions& module) : m_module(module) {}

    // The first application of the lookup that `accept` takes.
    std::optional<ApplicationResolver::Entry> find(
        DesktopApplicationLookup lookup, const QByteArray& key,
        const std::function<bool(const DesktopApplication&)>& accept = {}) const {
        struct Search {
            const std::function<bool(const DesktopApplication&)>& accept;
            std::optional<ApplicationResolver::Entry> found;
        } search{accept, std::nullopt};
        m_module.findApplications(
            lookup, key.constData(),
            [](const DesktopApplication& application, void* payload) {
                auto* state = static_cast<Search*>(payload);
                if (state->accept && !state->accept(application)) {
                    return false;
                }
                state->found = entryFrom(application);
                return true;
            },
            &search);
        return search.found;
    }

    std::optional<ApplicationResolver::Entry> fromFile(const QString& desktopFile) const {
        return find(DesktopApplicationLookup::FromFile, QFile::encodeName(desktopFile));
    }

    std::optional<ApplicationResolver::Entry> fromID(const QString& desktopID) const {
        if (auto entry = find(DesktopApplicationLookup::ByID, desktopID.toUtf8())) {
            return entry;
        }
        // GIO indexes the data folders once and refreshes on change notifications; a file
        // written moments ago may not be indexed yet, so look for it directly too.
        const QString file =
            QStandardPaths::locate(QStandardPaths::ApplicationsLocation, desktopID);
        return file.isEmpty() ? std::nullopt : fromFile(file);
    }

    // Every installed application of a freedesktop category, the desktop's own first.
    std::optional<ApplicationResolver::Entry> byCategory(const char* category,
                                                         const QStringList& preferredIDs) const {
        for (const QString& id : preferredIDs) {
            if (auto entry = fromID(id)) {
                return entry;
            }
        }
        return find(DesktopApplicationLookup::Shown, {}, [&](const DesktopApplication& found) {
            return text(found.categories)
                .split(u';', Qt::SkipEmptyParts)
                .contains(QLatin1String(category));
        });
    }

    std::optional<ApplicationResolver::Entry> defaultFor(const char* contentType) const {
        return find(DesktopApplicationLookup::DefaultForType, contentType);
    }

    std::optional<ApplicationResolver::Entry> defaultForScheme(const char* scheme) const {
        return find(DesktopApplicationLookup::DefaultForScheme, scheme);
    }

private:
    const DesktopModuleFunctions& m_module;
};

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

Result<Entry> resolve(const QString& identifier) {
    const Result<const DesktopModuleFunctions*>& module = DesktopModule::functions();
    if (!module) {
        return module.error();
    }
    const Registry registry(**module);
    const std::optional<Entry> entry = [&]() -> std::optional<Entry> {
        if (const std::optional<Role> role = aliasRole(identifier)) {
            switch (*role) {
                case Role::TextEditor:
                    if (auto entry = registry.defaultFor("text/plain")) {
                        return entry;
                    }
                    return registry.byCategory("TextEditor", {});
                case Role::WebBrowser:
                    if (auto entry = registry.defaultForScheme("https")) {
                        return entry;
                    }
                    if (auto entry = registry.defaultFor("x-scheme-handler/http")) {
                        return entry;
                    }
                    return registry.byCategory("WebBrowser", {});
                case Role::Terminal:
                    return registry.byCategory("TerminalEmulator", desktopPrograms(*role));
                case Role::Calculator:
                    return registry.byCategory("Calculator", desktopPrograms(*role));
                case Role::FileManager:
                    if (auto entry = registry.defaultFor("inode/directory")) {
                        return entry;
                    }
                    return registry.byCategory("FileManager", {});
            }
        }
        if (identifier.isEmpty() || identifier.contains(u'/')) {
            return std::nullopt;
        }
        return registry.fromID(identifier.endsWith(u".desktop")
                                   ? identifier
                                   : identifier + QStringLiteral(".desktop"));
    }();
    if (!entry) {
        return Error{Error::Kind::NotFound,
                     QStringLiteral("No installed app is known as %1.").arg(identifier)};
    }
    return *entry;
}

Result<qint64> launch(const QString& desktopFile, const QStringList& uris) {
    const Result<const DesktopModuleFunctions*>& module = DesktopModule::functions();
    if (!module) {
        return module.error();
    }
    std::vector<QByteArray> encoded;
    std::vector<const char*> list;
    for (const QString& uri : uris) {
        encoded.push_back(uri.toUtf8());
    }
    for (const QByteArray& uri : encoded) {
        list.push_back(uri.constData());
    }
    std::int64_t pid = 0;
    QString reason;
    const int launched = (*module)->launch(
        QFile::encodeName(desktopFile).constData(), list.data(), list.size(), &pid,
        [](const char* why, void* payload) { *static_cast<QString*>(payload) = text(why); },
        &reason);
    const QString name = QFileInfo(desktopFile).fileName();
    if (launched == 1) {
        return Error::invalid(
            QStringLiteral("“%1” is not an application that can be opened.").arg(name));
    }
    if (launched != 0) {
        return Error{Error::Kind::System,
                     QStringLiteral("“%1” could not be opened: %2").arg(name, reason)};
    }
    return static_cast<qint64>(pid);
}

}  // namespace ApplicationResolver
