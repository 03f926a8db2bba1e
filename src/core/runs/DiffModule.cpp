#include "core/runs/DiffModule.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

namespace {

const QString kModuleFile = QStringLiteral("velk-diff.so");

QString unavailable(const QString& why) {
    return QStringLiteral("Line comparisons are unavailable: %1 Reinstall VELK to see them.")
        .arg(why);
}

}  // namespace

namespace DiffModule {

QStringList candidates() {
    const QString configured = qEnvironmentVariable("VELK_DIFF_MODULE");
    if (!configured.isEmpty()) {
        return {configured};
    }
    // The executable's own folder, also where no application object exists (tools, threads
    // started before it).
    const QDir executableFolder =
        QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absoluteDir();
    return {executableFolder.absoluteFilePath(kModuleFile),
            QDir::cleanPath(
                executableFolder.absoluteFilePath(QStringLiteral("../lib/velk/") + kModuleFile))};
}

Result<DiffModuleEntry> load(const QStringList& candidates) {
    for (const QString& candidate : candidates) {
        if (!QFileInfo(candidate).isFile()) {
            continue;
        }
        // Opened once and never closed: diffs run on pool threads until the process ends.
        void* module = dlopen(QFile::encodeName(candidate).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            return Error{Error::Kind::Unavailable,
                         unavailable(QStringLiteral("the diff module did not load (%1).")
                                         .arg(QString::fromLocal8Bit(dlerror())))};
        }
        const auto found = reinterpret_cast<DiffModuleEntry>(dlsym(module, kDiffModuleEntry));
        if (!found) {
            return Error{Error::Kind::Unavailable,
                         unavailable(QStringLiteral("%1 is not VELK's diff module of this "
                                                    "version.")
                                         .arg(candidate))};
        }
        return found;
    }
    return Error{Error::Kind::NotFound,
                 unavailable(QStringLiteral("the diff module is missing (looked for %1).")
                                 .arg(candidates.join(QStringLiteral(", "))))};
}

const Result<DiffModuleEntry>& entry() {
    static const Result<DiffModuleEntry> loaded = load(candidates());
    return loaded;
}

}  // namespace DiffModule
