#include "core/runs/DiffModule.h"

#include "core/base/LoadableModule.h"

namespace {

const QString kModuleFile = QStringLiteral("velk-diff.so");

QString unavailable(const QString& why) {
    return QStringLiteral("Line comparisons are unavailable: %1 Reinstall VELK to see them.")
        .arg(why);
}

}  // namespace

namespace DiffModule {

QStringList candidates() {
    return LoadableModule::candidates("VELK_DIFF_MODULE", kModuleFile);
}

Result<DiffModuleEntry> load(const QStringList& candidates) {
    // Diffs run on pool threads until the process ends: the module is never closed.
    Result<void*> found = LoadableModule::openSymbol(candidates, kDiffModuleEntry,
                                                     QStringLiteral("diff module"), unavailable);
    if (!found) {
        return found.error();
    }
    return reinterpret_cast<DiffModuleEntry>(*found);
}

const Result<DiffModuleEntry>& entry() {
    static const Result<DiffModuleEntry> loaded = load(candidates());
    return loaded;
}

}  // namespace DiffModule
