#pragma once

#include "core/base/Result.h"

#include <QByteArray>
#include <QString>

// Replaces a file's contents all at once: the data goes into a temporary file in the same
// folder, which is flushed to disk and then renamed over the target, so a reader sees
// either the old or the new contents, never a part.
namespace AtomicFile {

// Writes `data` to `path`. An existing file keeps its permission bits (an executable
// stays executable) and, where allowed, its owner; a symbolic link stays a link and its
// target is replaced. A new file gets the usual mode (0666 less the umask). On failure the
// target is unchanged and the error names the file and the system's reason.
Result<void> write(const QString& path, const QByteArray& data);

}  // namespace AtomicFile
