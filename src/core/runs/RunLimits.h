#pragma once

#include <QString>
#include <QtGlobal>

// How large a project separate copies take: the listing of a project (and so its snapshot,
// the comparison of a copy and an apply) fails beyond `files` regular files or `bytes` bytes
// in all. A copy is compared within twice these, since what it holds beyond its snapshot is
// what an assistant created there. The standard limits keep a run quick on any disk; the
// "Large projects" setting raises them for projects that need it.
struct RunLimits {
    static constexpr qint64 kStandardFiles = 5000;
    static constexpr qint64 kStandardBytes = 150'000'000;
    static constexpr qint64 kLargeFiles = 200'000;
    static constexpr qint64 kLargeBytes = 20'000'000'000;
    // A copy may hold this many times its snapshot's limits.
    static constexpr int kCopyFactor = 2;

    qint64 files = kStandardFiles;
    qint64 bytes = kStandardBytes;

    static RunLimits standard() { return {}; }
    static RunLimits largeProjects() { return {kLargeFiles, kLargeBytes}; }

    bool operator==(const RunLimits&) const = default;

    // The limits a copy is compared within.
    RunLimits forCopy() const { return {files * kCopyFactor, bytes * kCopyFactor}; }

    // "5,000 files", "150 MB", "20 GB": as the messages name the limits.
    static QString fileCount(qint64 files);
    static QString size(qint64 bytes);

    // Why a project beyond the limits has no separate copies.
    QString projectTooLarge() const;
    // Why a copy beyond twice the limits cannot be reviewed.
    QString copyTooLarge() const;
    // Why an apply of more files than the limits was refused.
    QString tooManyToApply() const;
    // Why an apply was refused when a file grew past the limits after the review.
    QString grownTooLarge(const QString& path) const;
};

// How long copying a project for a team run may take, from its listing and a copy rate
// (bytes per second, with a cost per file on top). A guess: the disk, its cache and reflinks
// change the real time, so it is only shown as an estimate.
struct CopyEstimate {
    // Rates assumed before anything was copied: a cold local SSD with no reflinks.
    static constexpr double kAssumedBytesPerSecond = 250e6;
    static constexpr double kAssumedFilesPerSecond = 8000;

    qint64 files = 0;
    qint64 bytes = 0;
    int snapshots = 1;  // the baseline and one per assistant
    double bytesPerSecond = kAssumedBytesPerSecond;
    double filesPerSecond = kAssumedFilesPerSecond;

    bool operator==(const CopyEstimate&) const = default;

    // Seconds for every snapshot, rounded up to whole seconds (at least 1).
    qint64 seconds() const;
    // Whether the project is large enough for the estimate to be worth showing: beyond the
    // standard limits, or taking longer than a few seconds.
    bool worthShowing() const;
    // "about 40 s" / "about 3 min", for the status line.
    static QString duration(qint64 seconds);
    // "Estimated copy time: about 40 s (50,000 files, 1.5 GB, copied 3 times)."
    QString describe() const;
};
