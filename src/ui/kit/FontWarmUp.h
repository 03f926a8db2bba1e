#pragma once

// Reads the system's font configuration (fontconfig's files and the list of installed fonts)
// on a pool thread. The first text the window measures needs it; started as the application
// starts, the reading overlaps the building of the window instead of stalling it.
void warmUpFontDatabase();
