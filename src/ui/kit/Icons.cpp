#include "ui/kit/Icons.h"

#include "core/base/Background.h"
#include "core/services/AppPaths.h"
#include "ui/kit/IconCache.h"

#include <QCache>
#include <QGuiApplication>
#include <QHash>
#include <QPainter>
#include <QStandardPaths>
#include <QTimer>

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

// Drawings of the icon files, kept in memory and between runs.
IconCache& iconCache() {
    static IconCache cache(AppPaths::cacheRoot() + QStringLiteral("/icons.cache"),
                           QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation));
    return cache;
}

// Where each symbol's file is, found once. Unknown symbols and missing files are remembered
// too, as an empty path.
QString locatedFile(const QString& symbolName) {
    return iconCache().file(symbolName, [&] {
        const QString entry = symbolTable().value(symbolName);
        return entry.isEmpty()
                   ? QString()
                   : QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                            QStringLiteral("icons/Adwaita/scalable/") + entry +
                                                QStringLiteral("-symbolic.svg"));
    });
}

// New drawings go to the cache file a few seconds later, off the start-up path, and are
// written on a background thread.
constexpr int kSaveDelayMs = 5000;

void saveLater() {
    static bool scheduled = false;
    if (scheduled || !QCoreApplication::instance()) {
        return;
    }
    scheduled = true;
    QTimer::singleShot(kSaveDelayMs, QCoreApplication::instance(), [] {
        scheduled = false;
        const QByteArray contents = iconCache().takeUnsaved();
        if (!contents.isEmpty()) {
            Background::start(
                [file = iconCache().cacheFile(), contents] { IconCache::write(file, contents); });
        }
    });
}

// A drawing painted in one colour, for screens of one pixel ratio.
struct TintKey {
    QString file;
    int devicePixels = 0;
    qreal ratio = 1.0;
    quint64 rgba = 0;
    bool operator==(const TintKey&) const = default;
};

size_t qHash(const TintKey& key, size_t seed = 0) {
    return qHashMulti(seed, key.file, key.devicePixels, key.ratio, key.rgba);
}

// Bounded in bytes by the symbols and sizes in use and the colours of the themes the user
// has tried.
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
    const TintKey key{file, qRound(size * ratio), ratio, color.rgba64()};
    static QCache<TintKey, QPixmap> tinted(kTintCacheBytes);
    if (const QPixmap* found = tinted.object(key)) {
        return *found;
    }
    // Each file is drawn once per size however many colours it is painted in.
    const QImage drawing = iconCache().drawing(file, key.devicePixels);
    if (iconCache().hasUnsaved()) {
        saveLater();
    }
    if (drawing.isNull()) {
        return {};
    }
    // Symbolic icons are shapes: keep the shape, paint it in the wanted colour. The result
    // depends only on the drawing's coverage.
    QImage image = drawing.copy();
    QPainter painter(&image);
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
