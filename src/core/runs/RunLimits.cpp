#include "core/runs/RunLimits.h"

#include <algorithm>
#include <cmath>

namespace {

// "1,234,567": the group separator of the messages, whatever the locale.
QString grouped(qint64 number) {
    QString digits = QString::number(number);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3) {
        digits.insert(at, u',');
    }
    return digits;
}

}  // namespace

QString RunLimits::fileCount(qint64 files) {
    return grouped(files) + QStringLiteral(" files");
}

QString RunLimits::size(qint64 bytes) {
    // Gigabytes (one decimal below ten, unless whole), else megabytes, else kilobytes.
    if (bytes >= 1'000'000'000) {
        const bool whole = bytes >= 10'000'000'000 || bytes % 1'000'000'000 == 0;
        return QString::number(double(bytes) / 1e9, 'f', whole ? 0 : 1) + QStringLiteral(" GB");
    }
    if (bytes < 1'000'000) {
        return grouped((bytes + 500) / 1000) + QStringLiteral(" KB");
    }
    return grouped((bytes + 500'000) / 1'000'000) + QStringLiteral(" MB");
}

QString RunLimits::projectTooLarge() const {
    return QStringLiteral(
               "Separate copies currently support up to %1 and %2. Choose a smaller "
               "project folder or use the shared-folder mode.")
        .arg(fileCount(files), size(bytes));
}

QString RunLimits::copyTooLarge() const {
    const RunLimits copy = forCopy();
    return QStringLiteral(
               "This copy holds more than %1 or %2, twice what a separate copy starts "
               "with. Review its changes outside VELK.")
        .arg(fileCount(copy.files), size(copy.bytes));
}

QString RunLimits::tooManyToApply() const {
    return QStringLiteral(
               "Separate copies currently support up to %1 and %2. Nothing was "
               "applied; apply fewer files at a time.")
        .arg(fileCount(files), size(bytes));
}

QString RunLimits::grownTooLarge(const QString& path) const {
    return QStringLiteral("The assistant changed ") + path +
           QStringLiteral(
               " after this review opened: the files to apply are now larger than "
               "the %1 that separate copies support. Refresh changes before applying.")
               .arg(size(bytes));
}

qint64 CopyEstimate::seconds() const {
    const double each = double(bytes) / std::max(1.0, bytesPerSecond) +
                        double(files) / std::max(1.0, filesPerSecond);
    return std::max<qint64>(1, qint64(std::ceil(each * std::max(1, snapshots))));
}

bool CopyEstimate::worthShowing() const {
    return files > RunLimits::kStandardFiles || bytes > RunLimits::kStandardBytes ||
           seconds() >= 10;
}

QString CopyEstimate::duration(qint64 seconds) {
    if (seconds < 90) {
        return QStringLiteral("about %1 s").arg(seconds);
    }
    if (seconds < 90 * 60) {
        return QStringLiteral("about %1 min").arg((seconds + 30) / 60);
    }
    return QStringLiteral("about %1 h").arg(QString::number(double(seconds) / 3600, 'f', 1));
}

QString CopyEstimate::describe() const {
    return QStringLiteral("Estimated copy time: %1 (%2, %3, copied %4).")
        .arg(duration(seconds()), RunLimits::fileCount(files), RunLimits::size(bytes),
             snapshots == 1   ? QStringLiteral("once")
             : snapshots == 2 ? QStringLiteral("twice")
                              : QStringLiteral("%1 times").arg(snapshots));
}
