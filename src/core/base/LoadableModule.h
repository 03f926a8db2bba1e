#pragma once

#include "core/base/Result.h"

#include <QString>
#include <QStringList>

#include <functional>

// Parts of VELK that bring large libraries (speech, libgit2) live in modules of their own,
// opened with dlopen on first use, so the program starts without loading those libraries.
namespace LoadableModule {

// Where module `file` is looked for, in order: $`variable` alone when set, else beside the
// executable (the build tree), else ../lib/velk/ from it (the installed layout). Works also
// where no application object exists (tools, threads started before it).
QStringList candidates(const char* variable, const QString& file);

// Opens the first candidate that exists, once and for good (its code stays in use until the
// process ends), and returns its exported `symbol`. Errors name the module by `name` ("diff
// module") and are worded by `unavailable`, which receives the reason.
Result<void*> openSymbol(const QStringList& candidates, const char* symbol, const QString& name,
                         const std::function<QString(const QString& why)>& unavailable);

}  // namespace LoadableModule
