#pragma once

#include "core/base/Result.h"

#include <QStringList>

#include <git2/diff.h>

#include <cstddef>
#include <cstdint>

// The review's line diffs come from libgit2, which lives in a module of its own
// (velk-diff.so): the program starts without loading libgit2 and the TLS, SSH and HTTP
// libraries it brings. The module is opened the first time a review compares two files.

// The function the module exports: libgit2's diff of two buffers, compared as text with
// `algorithm` (a git_diff_option_t) and `contextLines` of context, reported line by line
// through the callbacks. Returns libgit2's error code, 0 on success.
inline constexpr char kDiffModuleEntry[] = "velk_diff_buffers_v1";
using DiffModuleEntry = int (*)(const char* oldText, std::size_t oldSize, const char* newText,
                                std::size_t newSize, std::uint32_t algorithm,
                                std::uint32_t contextLines, git_diff_hunk_cb hunk,
                                git_diff_line_cb line, void* payload);

namespace DiffModule {

// Where the module is looked for, in order: $VELK_DIFF_MODULE when set, else beside the
// executable (the build tree), else ../lib/velk/ from it (the installed layout).
QStringList candidates();

// Opens the first candidate that exists and finds its function. The error says which file
// was tried and why it did not load.
Result<DiffModuleEntry> load(const QStringList& candidates);

// The module's function, loaded from candidates() on the first call from any thread; the
// error (the same for the life of the process) says why line diffs are unavailable.
const Result<DiffModuleEntry>& entry();

}  // namespace DiffModule
