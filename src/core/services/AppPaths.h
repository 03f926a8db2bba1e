#pragma once

#include <QString>

// Where VELK keeps things on disk.
namespace AppPaths {

// $XDG_DATA_HOME/Kelo AI (~/.local/share/Kelo AI). Nothing is created.
QString dataRoot();

// $XDG_CACHE_HOME/Kelo AI (~/.cache/Kelo AI): what can be made again, kept to save time.
// Nothing is created.
QString cacheRoot();

// The folder of read-only resources shipped with the application (the example project,
// the logo, the pet image): $VELK_RESOURCES when set, else the installed copy
// <executable folder>/../share/velk/resources, else the build tree's copy
// <executable folder>/resources. Empty when none exists.
QString resourcesFolder();

}  // namespace AppPaths
