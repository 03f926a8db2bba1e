#pragma once

#include <cstdint>

#include <sys/stat.h>
#include <time.h>

// What stat says about a file: enough to tell, without reading it, that it was not
// written since (git's index rule). A write changes the modification time or, when that
// is put back, the change time, which no one can set.
struct FileStamp {
    std::int64_t size = 0;
    std::int64_t modified = 0;  // nanoseconds since the epoch
    std::int64_t changed = 0;   // nanoseconds since the epoch
    std::int64_t inode = 0;

    bool operator==(const FileStamp&) const = default;
    static FileStamp of(const struct stat& status);
};

// A file-system time in nanoseconds since the epoch.
inline std::int64_t nanosecondsOf(const timespec& time) {
    return std::int64_t(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}
