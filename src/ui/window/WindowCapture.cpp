#include "ui/window/WindowCapture.h"

#include <QBuffer>
#include <QImage>
#include <QMainWindow>
#include <QSaveFile>
#include <QWidget>

Result<void> captureWindow(QWidget* window, const QString& path) {
    QWidget* content = window;
    if (auto* main = qobject_cast<QMainWindow*>(window); main && main->centralWidget()) {
        content = main->centralWidget();
    }
    if (!content || content->size().isEmpty()) {
        return Error::invalid(
            QStringLiteral("The window has no content to capture. (VELK error 1)"));
    }
    const QImage image = content->grab().toImage();
    if (image.isNull()) {
        return Error::invalid(
            QStringLiteral("The window could not be drawn into an image. (VELK error 1)"));
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) {
        return Error::invalid(
            QStringLiteral("The image could not be encoded as PNG. (VELK error 2)"));
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(png) != png.size() || !file.commit()) {
        return Error{Error::Kind::System, file.errorString()};
    }
    return {};
}
