#pragma once

#include <QString>

#include <optional>

// One file that differs between a run's baseline and an assistant's copy.
struct FileChange {
    QString path;                   // relative path, "/" between components
    std::optional<QString> before;  // content hash in the baseline; absent if not there
    std::optional<QString> after;   // content hash in the copy; absent if not there
    std::optional<int> beforeMode;  // permission bits in the baseline, with `before`
    std::optional<int> afterMode;   // permission bits in the copy, with `after`
    // The copy's setup command left the file this way (a review sets it): such a file is
    // applied only when the user ticks it.
    bool madeBySetup = false;

    bool operator==(const FileChange&) const = default;

    // "Added", "Changed" (content or permission bits) or "Removed".
    QString kind() const {
        if (!before) {
            return QStringLiteral("Added");
        }
        return after ? QStringLiteral("Changed") : QStringLiteral("Removed");
    }
};
