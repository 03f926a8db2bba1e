#pragma once

#include <QString>

// Reads the system's font configuration ahead of the window. The first text the window
// measures needs fontconfig's configuration (some 60 XML files and the font caches, parsed)
// and Qt's list of installed fonts; read on other threads while the application and its
// window are set up, they overlap that work instead of stalling the first measurement.
//
// readFontConfiguration() starts fontconfig's part at once, before any Qt object exists; call
// it first thing in main(). warmUpFontDatabase() then lists the fonts on a pool thread once
// the configuration is read, and needs the GUI application.
void readFontConfiguration();
void warmUpFontDatabase();

// The installed family that the generic "Sans Serif" stands for, read with the configuration;
// any other family as it is. Qt looks a generic family up again for every size and weight it
// makes a font of (and finds the families to fall back on once); a font that names the
// installed family skips those look-ups and is drawn the same.
QString installedFamily(const QString& family);
