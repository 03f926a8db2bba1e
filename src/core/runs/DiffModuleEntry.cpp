// The one symbol velk-diff.so exports; the program finds it with dlsym (see
// core/runs/DiffModule.h, which names it and its type).
#include "core/runs/DiffModule.h"

#include <git2.h>

#include <type_traits>

extern "C" __attribute__((visibility("default"))) int velk_diff_buffers_v1(
    const char* oldText, std::size_t oldSize, const char* newText, std::size_t newSize,
    std::uint32_t algorithm, std::uint32_t contextLines, git_diff_hunk_cb hunk,
    git_diff_line_cb line, void* payload) {
    // libgit2 keeps global state (allocators, thread-local error slots); it is set up once for
    // the life of the process and never shut down, as other threads may still be diffing.
    static const int initialised = git_libgit2_init();
    (void)initialised;
    // Binary content is found beforehand (with the UTF-8 check): both buffers are text here.
    git_diff_options options;
    git_diff_options_init(&options, GIT_DIFF_OPTIONS_VERSION);
    options.flags = algorithm | GIT_DIFF_FORCE_TEXT;
    options.context_lines = contextLines;
    options.interhunk_lines = 0;
    return git_diff_buffers(oldText, oldSize, nullptr, newText, newSize, nullptr, &options, nullptr,
                            nullptr, hunk, line, payload);
}

static_assert(std::is_same_v<decltype(&velk_diff_buffers_v1), DiffModuleEntry>,
              "the exported function and the program's idea of it differ");
