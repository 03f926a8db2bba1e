#include "core/base/LoadableModule.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

namespace LoadableModule {

QStringList candidates(const char* variable, const QString& file) {
    const QString configured = qEnvironmentVariable(variable);
    if (!configured.isEmpty()) {
        return {configured};
    }
    const QDir executableFolder =
        QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absoluteDir();
    return {
        executableFolder.absoluteFilePath(file),
        QDir::cleanPath(executableFolder.absoluteFilePath(QStringLiteral("../lib/velk/") + file))};
}

Result<void*> openSymbol(const QStringList& candidates, const char* symbol, const QString& name,
                         const std::function<QString(const QString& why)>& unavailable) {
    for (const QString& candidate : candidates) {
        if (!QFileInfo(candidate).isFile()) {
            continue;
        }
        void* module = dlopen(QFile::encodeName(candidate).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            return Error{Error::Kind::Unavailable,
                         unavailable(QStringLiteral("the %1 did not load (%2).")
                                         .arg(name, QString::fromLocal8Bit(dlerror())))};
        }
        void* found = dlsym(module, symbol);
        if (!found) {
            return Error{
                Error::Kind::Unavailable,
                unavailable(
                    QStringLiteral("%1 is not VELK's %2 of this version.").arg(candidate, name))};
        }
        return found;
    }
    return Error{Error::Kind::NotFound,
                 unavailable(QStringLiteral("the %1 is missing (looked for %2).")
                                 .arg(name, candidates.join(QStringLiteral(", "))))};
}

}  // namespace LoadableModule
