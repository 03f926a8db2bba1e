#pragma once

// Shared by the RunFiles sources only.

#include "runs/PosixFiles.h"
#include "runs/RunFiles.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace RunFiles::detail {

// The listing's limits; an apply writes no more than a listing may hold.
constexpr int kMaximumFiles = 5000;
constexpr qint64 kMaximumBytes = 150'000'000;

struct ListedFile {
    std::string relative;  // UTF-8 bytes; byte order is code-point order
    off_t size = 0;
};

// A listed folder, kept open so later reads resolve below the same folder.
struct ListedTree {
    QString root;  // standardised absolute path
    PosixFiles::UniqueFd folder;
    std::vector<ListedFile> files;  // sorted by `relative`
};

// An entry left out of a listing: its path below the root and why.
struct SkippedItem {
    std::string relative;  // bytes as on disk, possibly not UTF-8
    QString reason;
};

// "Cannot be read: " and the system's description of `errorNumber`.
QString unreadableReason(int errorNumber);

// Lists `root`. Without `skipped`, an entry that cannot be listed (a name that is not UTF-8,
// a folder that cannot be read or is nested too deep) fails the listing; with it, the entry
// is appended there and the listing goes on. The size limits fail it either way. `open`,
// when set, opens the folders below the root instead of PosixFiles::openBeneath.
ListedTree listTree(const QString& root, std::vector<SkippedItem>* skipped = nullptr,
                    const OpenBeneath& open = {});

// A change path checked by safeURL: the resolved root and the path below it.
struct SafePath {
    QString base;
    QString location;
    std::string relative;
};

SafePath resolveSafely(const QString& path, const QString& root);

// Runs job(0) … job(count - 1) on up to four threads (both cores here). The first exception
// stops the remaining jobs and is rethrown.
//
// The helpers are short-lived threads of this one operation, not jobs on the background pool:
// the operation itself runs as a pool job and waits for its helpers, and pool jobs that wait
// for other jobs of the same pool deadlock it once every pool thread is such a waiter (a few
// copies and reviews at once suffice). A thread costs far less than the copying or hashing it
// does, and the calling thread takes its share of the jobs too.
template <typename Job>
void runInParallel(size_t count, const Job& job) {
    const size_t threads =
        std::min<size_t>(count, std::clamp<unsigned>(std::thread::hardware_concurrency(), 1, 4));
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr firstError;
    std::mutex errorMutex;
    auto worker = [&] {
        while (!failed.load(std::memory_order_relaxed)) {
            const size_t index = next.fetch_add(1);
            if (index >= count) {
                return;
            }
            try {
                job(index);
            } catch (...) {
                std::lock_guard lock(errorMutex);
                if (!firstError) {
                    firstError = std::current_exception();
                }
                failed.store(true);
            }
        }
    };
    std::vector<std::thread> pool;
    for (size_t index = 1; index < threads; ++index) {
        pool.emplace_back(worker);
    }
    worker();
    for (std::thread& thread : pool) {
        thread.join();
    }
    if (firstError) {
        std::rethrow_exception(firstError);
    }
}

}  // namespace RunFiles::detail
