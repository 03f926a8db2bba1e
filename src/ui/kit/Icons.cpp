#include "ui/kit/Icons.h"

#include <QCache>
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

// Where each symbol's file is, found once: locating a file stats every XDG data folder.
// Unknown symbols and missing files are remembered too, as an empty path.
QString locatedFile(const QString& symbolName) {
    static QHash<QString, QString> located;
    if (auto found = located.constFind(symbolName); found != located.constEnd()) {
        return *found;
    }
    const QString entry = symbolTable().value(symbolName);
    return *located.insert(
        symbolName, entry.isEmpty()
                        ? QString()
                        : QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                                 QStringLiteral("icons/Adwaita/scalable/") + entry +
                                                     QStringLiteral("-symbolic.svg")));
}

// One drawing of a file, in the file's own colour: the file at a size in device pixels.
struct ShapeKey {
    QString file;
    int devicePixels = 0;
    bool operator==(const ShapeKey&) const = default;
};

size_t qHash(const ShapeKey& key, size_t seed = 0) {
    return qHashMulti(seed, key.file, key.devicePixels);
}

// That shape painted in one colour, for screens of one pixel ratio.
struct TintKey {
    ShapeKey shape;
    qreal ratio = 1.0;
    quint64 rgba = 0;
    bool operator==(const TintKey&) const = default;
};

size_t qHash(const TintKey& key, size_t seed = 0) {
    return qHashMulti(seed, key.shape, key.ratio, key.rgba);
}

// Both caches are bounded in bytes: shapes by the symbols and sizes in use, painted icons
// also by the colours of the themes the user has tried.
constexpr qsizetype kShapeCacheBytes = 512 * 1024;
constexpr qsizetype kTintCacheBytes = 2 * 1024 * 1024;

}  // namespace

namespace Icons {

QString filePath(const QString& symbolName) {
    return locatedFile(symbolName);
}

QPixmap pixmap(const QString& symbolName, const QColor& color, int size) {
    const QString file = locatedFile(symbolName);
    if (file.isEmpty()) {
        return {};
    }
    const qreal ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    const TintKey key{{file, qRound(size * ratio)}, ratio, color.rgba64()};
    static QCache<TintKey, QPixmap> tinted(kTintCacheBytes);
    if (const QPixmap* found = tinted.object(key)) {
        return *found;
    }
    // Each file is parsed and drawn once per size however many colours it is painted in: the
    // drawing is kept and painted again for the next colour. A file that cannot be read is
    // remembered as a null drawing.
    static QCache<ShapeKey, QImage> shapes(kShapeCacheBytes);
    QImage image;
    QPainter painter;
    if (const QImage* shape = shapes.object(key.shape)) {
        if (shape->isNull()) {
            return {};
        }
        image = shape->copy();
        painter.begin(&image);
    } else {
        QSvgRenderer renderer(file);
        if (!renderer.isValid()) {
            shapes.insert(key.shape, new QImage, 1);
            return {};
        }
        image = QImage(key.shape.devicePixels, key.shape.devicePixels,
                       QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        painter.begin(&image);
        renderer.render(&painter);
        shapes.insert(key.shape, new QImage(image.copy()), image.sizeInBytes());
    }
    // Symbolic icons are shapes: keep the shape, paint it in the wanted colour. The result
    // depends only on the drawing's coverage, so a kept drawing paints the same pixels.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), color);
    painter.end();
    QPixmap result = QPixmap::fromImage(image);
    result.setDevicePixelRatio(ratio);
    tinted.insert(key, new QPixmap(result), image.sizeInBytes());
    return result;
}

QIcon icon(const QString& symbolName, const QColor& color, int size) {
    return QIcon(pixmap(symbolName, color, size));
}

}  // namespace Icons
