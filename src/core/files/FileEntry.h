#pragma once

#include <QFileInfo>
#include <QString>

// One entry of the file browser's listing; identified by its full path.
struct FileEntry {
    QString path;  // absolute
    bool isDirectory = false;

    bool operator==(const FileEntry&) const = default;

    const QString& id() const { return path; }
    QString name() const { return QFileInfo(path).fileName(); }
};
