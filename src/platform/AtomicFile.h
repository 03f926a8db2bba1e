#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Replaces a file's contents all at once: the data goes into a temporary file in the same
// folder, which is flushed to disk and then renamed over the target, so a reader sees
// either the old or the new contents, never a part.
namespace AtomicFile {

// Writes `data` to `path`. An existing file keeps its permission bits (an executable
// stays executable) and, where allowed, its owner; a symbolic link stays a link and its
// target is replaced. A new file gets the usual mode (0666 less the umask). Returns the
// error description on failure, in which case the target is unchanged.
std::optional<QString> write(const QString& path, const QByteArray& data);

}  // namespace AtomicFile
