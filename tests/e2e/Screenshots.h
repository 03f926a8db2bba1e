#pragma once

#include <QString>

// The folder where an end-to-end test keeps its screenshots for a person to look at:
// $VELK_SCREENSHOT_DIR/<name> when that is set, else screenshots/<name> beside the test
// program. It is emptied first and its path printed.
QString screenshotFolder(const QString& name);
