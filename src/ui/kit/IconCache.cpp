#include "ui/kit/IconCache.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QSaveFile>

#include <algorithm>
#include <cstring>

#include <sys/stat.h>

// The cache file, in native byte order (a file from a machine of the other order fails the
// first check):
//   u32 magic, u32 format version, text Qt version, u32 n, n × text search folder,
//   u32 n, n × icon file { text path, i64 size, i64 modification and change times in ns,
//                          i64 inode,
//                          u32 n, n × text symbol name,
//                          u32 n, n × drawing { u32 side in device pixels,
//                                               side² × 4 bytes ARGB32 premultiplied } }
//   u64 checksum of all the bytes before it,
// where a text is a u32 byte count and that many bytes of UTF-8. The checksum catches a
// damaged drawing, which would otherwise read as a valid one.
namespace {

constexpr quint32 kMagic = 0x564C4B49;
constexpr quint32 kFormatVersion = 2;
// A few dozen icons at a few sizes take tens of KB; a larger file is not one VELK wrote.
constexpr qint64 kMaximumFileBytes = 1024 * 1024;
constexpr quint32 kMaximumDevicePixels = 512;
// Drawings kept in memory, bounded by the symbols and sizes in use.
constexpr qsizetype kDrawingsBytes = 512 * 1024;

// Reads the cache file's parts, each only if the bytes left hold it; after the first part
// that does not fit, every read fails.
class Reader {
public:
    Reader(const char* bytes, qsizetype size) : m_at(bytes), m_end(bytes + size) {}

    bool ok() const { return m_ok; }
    bool atEnd() const { return m_at == m_end; }

    const char* take(qint64 count) {
        if (!m_ok || count > m_end - m_at) {
            m_ok = false;
            return nullptr;
        }
        const char* at = m_at;
        m_at += count;
        return at;
    }

    template <typename Number>
    Number number() {
        Number value{};
        if (const char* at = take(sizeof(Number))) {
            std::memcpy(&value, at, sizeof(Number));
        }
        return value;
    }

    QString text() {
        const quint32 count = number<quint32>();
        const char* at = take(count);
        return at ? QString::fromUtf8(at, count) : QString();
    }

private:
    const char* m_at;
    const char* m_end;
    bool m_ok = true;
};

class Writer {
public:
    template <typename Number>
    void number(Number value) {
        m_bytes.append(reinterpret_cast<const char*>(&value), sizeof(Number));
    }

    void text(const QString& value) {
        const QByteArray utf8 = value.toUtf8();
        number(quint32(utf8.size()));
        m_bytes.append(utf8);
    }

    void pixels(const QImage& image) {
        for (int y = 0; y < image.height(); ++y) {
            m_bytes.append(reinterpret_cast<const char*>(image.constScanLine(y)),
                           image.width() * 4);
        }
    }

    QByteArray bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

// FNV-1a over 64-bit words, and the same in every process (unlike qHashBits, which is seeded
// per process). Each step is a bijection of the sum, so a change to any one word changes it.
quint64 checksum(const char* bytes, qsizetype size) {
    quint64 sum = 0xcbf29ce484222325 ^ quint64(size);
    quint64 word = 0;
    qsizetype at = 0;
    for (; at + 8 <= size; at += 8) {
        std::memcpy(&word, bytes + at, 8);
        sum = (sum ^ word) * 0x100000001b3;
    }
    word = 0;
    std::memcpy(&word, bytes + at, size - at);
    return (sum ^ word) * 0x100000001b3;
}

// Through Qt's SVG image plugin, which loads the SVG library only when an icon is drawn: with
// the drawings kept between runs, most starts draw none.
QImage draw(const QString& file, int devicePixels) {
    QImageReader reader(file, "svg");
    // A file that cannot be read is not offered to every other image plugin in turn.
    reader.setAutoDetectImageFormat(false);
    reader.setScaledSize(QSize(devicePixels, devicePixels));
    return reader.read().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

}  // namespace

IconCache::IconCache(QString cacheFile, QStringList searchFolders)
    : m_cacheFile(std::move(cacheFile)),
      m_searchFolders(std::move(searchFolders)),
      m_drawings(kDrawingsBytes) {}

QString IconCache::file(const QString& symbolName, const std::function<QString()>& locate) {
    if (auto found = m_located.constFind(symbolName); found != m_located.constEnd()) {
        return *found;
    }
    load();
    // Finding a file stats every search folder; the recorded one takes a single stat.
    const QString recorded = m_recordedSymbols.value(symbolName);
    return *m_located.insert(
        symbolName, !recorded.isEmpty() && recordStillHolds(recorded) ? recorded : locate());
}

QImage IconCache::drawing(const QString& file, int devicePixels) {
    const DrawingKey key{file, devicePixels};
    if (const QImage* kept = m_drawings.object(key)) {
        return *kept;
    }
    load();
    QImage image;
    if (recordStillHolds(file)) {
        image = m_recorded.constFind(file)->drawings.value(devicePixels);
    }
    if (image.isNull()) {
        // Stat before reading: a file changed in between is then drawn again next time.
        const bool recordable = stamp(file).has_value();
        image = draw(file, devicePixels);
        m_unsaved = m_unsaved || (recordable && !image.isNull());
    }
    m_drawings.insert(key, new QImage(image), std::max<qsizetype>(1, image.sizeInBytes()));
    return image;
}

QByteArray IconCache::takeUnsaved() {
    if (!m_unsaved) {
        return {};
    }
    m_unsaved = false;
    // Records not used in this run are kept as they are: each is checked when next used.
    QHash<QString, Recorded> files = m_recorded;
    const QList<DrawingKey> kept = m_drawings.keys();
    for (const DrawingKey& key : kept) {
        const QImage image = *m_drawings.object(key);
        const std::optional<FileStamp> now = m_stamps.value(key.file);
        if (!image.isNull() && now) {
            Recorded& record = files[key.file];
            record.stamp = *now;
            record.drawings.insert(key.devicePixels, image);
        }
    }
    for (auto located = m_located.cbegin(); located != m_located.cend(); ++located) {
        if (auto record = files.find(located.value());
            record != files.end() && !record->symbols.contains(located.key())) {
            record->symbols.append(located.key());
        }
    }

    Writer writer;
    writer.number(kMagic);
    writer.number(kFormatVersion);
    writer.text(QString::fromLatin1(qVersion()));
    writer.number(quint32(m_searchFolders.size()));
    for (const QString& folder : m_searchFolders) {
        writer.text(folder);
    }
    writer.number(quint32(files.size()));
    // Drawings past the pixel budget are left out, to be drawn again: the file stays within
    // what reading it accepts.
    qsizetype pixelBudget = kMaximumFileBytes / 2;
    for (auto record = files.cbegin(); record != files.cend(); ++record) {
        writer.text(record.key());
        writer.number(record->stamp.size);
        writer.number(record->stamp.modified);
        writer.number(record->stamp.changed);
        writer.number(record->stamp.inode);
        writer.number(quint32(record->symbols.size()));
        for (const QString& symbol : record->symbols) {
            writer.text(symbol);
        }
        QList<QImage> drawings;
        for (const QImage& image : record->drawings) {
            if (image.width() <= int(kMaximumDevicePixels) && image.sizeInBytes() <= pixelBudget) {
                pixelBudget -= image.sizeInBytes();
                drawings.append(image);
            }
        }
        writer.number(quint32(drawings.size()));
        for (const QImage& image : std::as_const(drawings)) {
            writer.number(quint32(image.width()));
            writer.pixels(image);
        }
    }
    QByteArray contents = writer.bytes();
    const quint64 sum = checksum(contents.constData(), contents.size());
    contents.append(reinterpret_cast<const char*>(&sum), sizeof(sum));
    return contents;
}

void IconCache::write(const QString& cacheFile, const QByteArray& contents) {
    QSaveFile file(cacheFile);
    if (!QDir().mkpath(QFileInfo(cacheFile).absolutePath()) || !file.open(QIODevice::WriteOnly) ||
        file.write(contents) != contents.size() || !file.commit()) {
        qWarning("The icon cache \"%s\" could not be written: %s", qUtf8Printable(cacheFile),
                 qUtf8Printable(file.errorString()));
    }
}

void IconCache::load() {
    if (m_loaded) {
        return;
    }
    m_loaded = true;
    QFile file(m_cacheFile);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaximumFileBytes) {
        return;
    }
    const QByteArray contents = file.read(kMaximumFileBytes + 1);
    if (contents.size() > kMaximumFileBytes || !parse(contents)) {
        m_recorded.clear();
        m_recordedSymbols.clear();
    }
}

bool IconCache::parse(const QByteArray& contents) {
    const qsizetype bodySize = contents.size() - qsizetype(sizeof(quint64));
    if (bodySize < 0) {
        return false;
    }
    quint64 sum = 0;
    std::memcpy(&sum, contents.constData() + bodySize, sizeof(sum));
    if (sum != checksum(contents.constData(), bodySize)) {
        return false;
    }
    Reader reader(contents.constData(), bodySize);
    if (reader.number<quint32>() != kMagic || reader.number<quint32>() != kFormatVersion ||
        reader.text() != QLatin1String(qVersion())) {
        return false;
    }
    QStringList folders;
    for (quint32 count = reader.number<quint32>(); reader.ok() && count > 0; --count) {
        folders.append(reader.text());
    }
    if (!reader.ok() || folders != m_searchFolders) {
        return false;
    }
    for (quint32 files = reader.number<quint32>(); reader.ok() && files > 0; --files) {
        const QString path = reader.text();
        Recorded record;
        record.stamp.size = reader.number<qint64>();
        record.stamp.modified = reader.number<qint64>();
        record.stamp.changed = reader.number<qint64>();
        record.stamp.inode = reader.number<qint64>();
        for (quint32 count = reader.number<quint32>(); reader.ok() && count > 0; --count) {
            record.symbols.append(reader.text());
        }
        for (quint32 count = reader.number<quint32>(); reader.ok() && count > 0; --count) {
            const quint32 side = reader.number<quint32>();
            if (side == 0 || side > kMaximumDevicePixels) {
                return false;
            }
            const char* pixels = reader.take(qint64(side) * side * 4);
            if (!pixels) {
                return false;
            }
            QImage image{int(side), int(side), QImage::Format_ARGB32_Premultiplied};
            uchar* bits = image.bits();
            for (quint32 y = 0; y < side; ++y) {
                std::memcpy(bits + y * image.bytesPerLine(), pixels + qsizetype(y) * side * 4,
                            side * 4);
            }
            record.drawings.insert(int(side), image);
        }
        for (const QString& symbol : std::as_const(record.symbols)) {
            m_recordedSymbols.insert(symbol, path);
        }
        m_recorded.insert(path, record);
    }
    return reader.ok() && reader.atEnd();
}

std::optional<FileStamp> IconCache::stamp(const QString& file) {
    if (auto found = m_stamps.constFind(file); found != m_stamps.constEnd()) {
        return *found;
    }
    std::optional<FileStamp> now;
    struct stat status {};
    if (::stat(QFile::encodeName(file).constData(), &status) == 0) {
        now = FileStamp::of(status);
    }
    return *m_stamps.insert(file, now);
}

bool IconCache::recordStillHolds(const QString& file) {
    const auto record = m_recorded.constFind(file);
    if (record == m_recorded.constEnd()) {
        return false;
    }
    if (stamp(file) == record->stamp) {
        return true;
    }
    for (const QString& symbol : record->symbols) {
        m_recordedSymbols.remove(symbol);
    }
    m_recorded.erase(record);
    return false;
}
