#pragma once

#include "core/base/Result.h"

#include <QString>

class QWidget;

// Renders a window's content at its size and writes it as a PNG. Fails when there is no
// content or no image (VELK error 1), when PNG encoding failed (VELK error 2), or with the
// file system's own message when writing failed.
Result<void> captureWindow(QWidget* window, const QString& path);
