#pragma once

// Qt loads every image-format plugin the first time it reads an image: each one is asked
// whether it reads the format before the built-in reader is chosen. In the window that first
// read is the menu bar's extension-button icon (a PNG of the common style), and loading the
// plugins and their libraries is nearly all of the menu bar's cost. This starts that loading
// on a pool thread, so it overlaps the building of the window instead of delaying its first
// frame; a read on the main thread that comes before it finishes waits for it.
void preloadImageFormatPlugins();
