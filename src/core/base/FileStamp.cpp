#include "core/base/FileStamp.h"

FileStamp FileStamp::of(const struct stat& status) {
    return {std::int64_t(status.st_size), nanosecondsOf(status.st_mtim),
            nanosecondsOf(status.st_ctim), std::int64_t(status.st_ino)};
}
