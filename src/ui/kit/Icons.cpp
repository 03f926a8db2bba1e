#include "ui/kit/Icons.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QPainter>
#include <QStandardPaths>
#include <QSvgRenderer>

namespace {

// Symbol name → Adwaita symbolic icon (folder/name, without "-symbolic.svg").
const QHash<QString, QString>& symbolTable() {
    static const QHash<QString, QString> table = {
        {QStringLiteral("square.grid.2x2"), QStringLiteral("actions/view-grid")},
        {QStringLiteral("square.stack.3d.up"), QStringLiteral("actions/view-paged")},
        {QStringLiteral("sparkles"), QStringLiteral("status/starred")},
        {QStringLiteral("curlybraces"), QStringLiteral("mimetypes/text-x-generic")},
        {QStringLiteral("clock.arrow.circlepath"), QStringLiteral("actions/document-open-recent")},
        {QStringLiteral("desktopcomputer"), QStringLiteral("devices/computer")},
        {QStringLiteral("pawprint"), QStringLiteral("categories/emoji-nature")},
        {QStringLiteral("paintpalette"), QStringLiteral("actions/color-select")},
        {QStringLiteral("slider.horizontal.3"), QStringLiteral("categories/preferences-system")},
        {QStringLiteral("folder"), QStringLiteral("places/folder")},
        {QStringLiteral("doc"), QStringLiteral("mimetypes/text-x-generic")},
        {QStringLiteral("folder.badge.plus"), QStringLiteral("actions/folder-new")},
        {QStringLiteral("arrow.clockwise"), QStringLiteral("actions/view-refresh")},
        {QStringLiteral("hammer"), QStringLiteral("categories/applications-engineering")},
        {QStringLiteral("checkmark.shield"), QStringLiteral("status/security-high")},
        {QStringLiteral("magnifyingglass"), QStringLiteral("actions/system-search")},
        {QStringLiteral("terminal"), QStringLiteral("legacy/utilities-terminal")},
        {QStringLiteral("ellipsis"), QStringLiteral("actions/view-more-horizontal")},
        {QStringLiteral("plus"), QStringLiteral("actions/list-add")},
        {QStringLiteral("arrow.up"), QStringLiteral("actions/go-up")},
        {QStringLiteral("checkmark.square.fill"), QStringLiteral("ui/checkbox-checked")},
        {QStringLiteral("square"), QStringLiteral("ui/checkbox")},
        {QStringLiteral("xmark"), QStringLiteral("ui/window-close")},
        {QStringLiteral("stop"), QStringLiteral("actions/media-playback-stop")},
        {QStringLiteral("doc.on.doc"), QStringLiteral("actions/edit-copy")},
        {QStringLiteral("square.and.arrow.up"), QStringLiteral("actions/document-send")},
        {QStringLiteral("person.crop.circle"), QStringLiteral("status/avatar-default")},
        {QStringLiteral("book"), QStringLiteral("apps/help-contents")},
        {QStringLiteral("puzzlepiece.extension"), QStringLiteral("mimetypes/application-x-addon")},
        {QStringLiteral("asterisk"), QStringLiteral("emblems/emblem-system")},
        {QStringLiteral("sparkle"), QStringLiteral("status/starred")},
        {QStringLiteral("circle.hexagongrid"), QStringLiteral("actions/view-app-grid")},
        {QStringLiteral("mic"), QStringLiteral("devices/audio-input-microphone")},
        {QStringLiteral("speaker.wave.2"), QStringLiteral("status/audio-volume-high")},
        {QStringLiteral("photo"), QStringLiteral("mimetypes/image-x-generic")},
        {QStringLiteral("location"), QStringLiteral("actions/find-location")},
        {QStringLiteral("arrow.uturn.backward"), QStringLiteral("actions/edit-undo")},
    };
    return table;
}

}  // namespace

namespace Icons {

QString filePath(const QString& symbolName) {
    const QString entry = symbolTable().value(symbolName);
    if (entry.isEmpty()) {
        return {};
    }
    return QStandardPaths::locate(
        QStandardPaths::GenericDataLocation,
        QStringLiteral("icons/Adwaita/scalable/") + entry + QStringLiteral("-symbolic.svg"));
}

QPixmap pixmap(const QString& symbolName, const QColor& color, int size) {
    static QHash<QString, QPixmap> cache;
    const qreal ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    const QString key = symbolName + QLatin1Char('|') + color.name(QColor::HexArgb) +
                        QLatin1Char('|') + QString::number(size) + QLatin1Char('@') +
                        QString::number(ratio);
    if (auto found = cache.constFind(key); found != cache.constEnd()) {
        return *found;
    }
    QPixmap result;
    QSvgRenderer renderer(filePath(symbolName));
    if (renderer.isValid()) {
        QImage image(QSize(size, size) * ratio, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        renderer.render(&painter);
        // Symbolic icons are shapes: keep the shape, paint it in the wanted colour.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
        painter.end();
        result = QPixmap::fromImage(image);
        result.setDevicePixelRatio(ratio);
    }
    cache.insert(key, result);
    return result;
}

QIcon icon(const QString& symbolName, const QColor& color, int size) {
    return QIcon(pixmap(symbolName, color, size));
}

}  // namespace Icons
