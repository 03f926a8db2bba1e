#pragma once

#include <QString>

#include <optional>

class QWidget;

// Renders a window's content at its size and writes it as a PNG. Returns nothing on
// success, else the error's description: no content or no image (VELK error 1), PNG
// encoding failed (VELK error 2), or the file system's own message when writing failed.
std::optional<QString> captureWindow(QWidget* window, const QString& path);
