#pragma once

#include "core/base/FileStamp.h"

#include <QByteArray>
#include <QCache>
#include <QHash>
#include <QImage>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Icon files drawn once and kept between runs in one small cache file, so that a start reads
// that file instead of finding, reading, parsing and drawing each SVG. Nothing in the file is
// trusted unchecked: a file written by another format or Qt version, or for other folders to
// find icons in, is ignored whole, as is one that is damaged anywhere; each icon file it
// records is used only while one stat still gives the recorded size and modification time.
// Anything else is found and drawn as if there were no cache. Main thread only.
class IconCache {
public:
    // `cacheFile` is read on the first request; `searchFolders` are the folders icon files are
    // found in, in order.
    IconCache(QString cacheFile, QStringList searchFolders);

    const QString& cacheFile() const { return m_cacheFile; }

    // The icon file of `symbolName`: the one an earlier run found while it is unchanged, else
    // what `locate` finds now (empty for none). Each symbol is looked up once. A file added
    // since to an earlier search folder is therefore noticed only once the recorded one
    // changes or the cache file goes.
    QString file(const QString& symbolName, const std::function<QString()>& locate);

    // `file` drawn in its own colours as a square of `devicePixels`; null when it cannot be
    // drawn. Each file is drawn once per size, and not at all when the cache file holds it.
    QImage drawing(const QString& file, int devicePixels);

    // Whether something was drawn that the cache file does not hold yet.
    bool hasUnsaved() const { return m_unsaved; }

    // The cache file's new contents when something was drawn since it was read or last taken;
    // empty otherwise.
    QByteArray takeUnsaved();

    // Replaces the cache file with `contents` in one step; a failure is only logged, since the
    // cache saves time and nothing else. Callable from any thread.
    static void write(const QString& cacheFile, const QByteArray& contents);

private:
    // An icon file as the cache file records it.
    struct Recorded {
        FileStamp stamp;
        QStringList symbols;
        QHash<int, QImage> drawings;  // by size in device pixels
    };
    struct DrawingKey {
        QString file;
        int devicePixels = 0;
        bool operator==(const DrawingKey&) const = default;
        friend size_t qHash(const DrawingKey& key, size_t seed = 0) {
            return qHashMulti(seed, key.file, key.devicePixels);
        }
    };

    void load();
    bool parse(const QByteArray& contents);
    std::optional<FileStamp> stamp(const QString& file);
    // Whether the cache file's record of `file` may be used; a record found stale is dropped.
    bool recordStillHolds(const QString& file);

    QString m_cacheFile;
    QStringList m_searchFolders;
    bool m_loaded = false;
    bool m_unsaved = false;
    QHash<QString, Recorded> m_recorded;                // by icon file
    QHash<QString, QString> m_recordedSymbols;          // symbol → icon file, as recorded
    QHash<QString, std::optional<FileStamp>> m_stamps;  // each file's stat, taken once
    QHash<QString, QString> m_located;                  // symbol → icon file, this run
    // Bounded by the symbols and sizes in use; a file that cannot be drawn is kept as a null
    // image.
    QCache<DrawingKey, QImage> m_drawings;
};
