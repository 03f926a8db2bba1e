#include "platform/DesktopModule.h"

#include "core/base/LoadableModule.h"

namespace {

const QString kModuleFile = QStringLiteral("velk-desktop.so");

QString unavailable(const QString& why) {
    return QStringLiteral(
               "The desktop's applications and keyboard are out of reach: %1 Reinstall VELK "
               "to use them.")
        .arg(why);
}

}  // namespace

namespace DesktopModule {

QStringList candidates() {
    return LoadableModule::candidates("VELK_DESKTOP_MODULE", kModuleFile);
}

Result<const DesktopModuleFunctions*> load(const QStringList& candidates) {
    Result<void*> found = LoadableModule::openSymbol(candidates, kDesktopModuleEntry,
                                                     QStringLiteral("desktop module"), unavailable);
    if (!found) {
        return found.error();
    }
    return reinterpret_cast<DesktopModuleEntry>(*found)();
}

const Result<const DesktopModuleFunctions*>& functions() {
    static const Result<const DesktopModuleFunctions*> loaded = load(candidates());
    return loaded;
}

}  // namespace DesktopModule
