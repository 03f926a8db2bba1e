#include "core/runs/CopyStamps.h"

#include "core/services/AtomicFile.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>

namespace RunFiles::detail {

namespace {

constexpr char kMagic[] = "VELK-STAMPS-1\n";
constexpr qsizetype kMagicLength = sizeof kMagic - 1;

void put(QByteArray& bytes, std::int64_t value) {
    bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
}

void put(QByteArray& bytes, const std::string& text) {
    put(bytes, std::int64_t(text.size()));
    bytes.append(text.data(), qsizetype(text.size()));
}

void put(QByteArray& bytes, const FileStamp& stamp) {
    for (std::int64_t value : {stamp.size, stamp.modified, stamp.changed, stamp.inode}) {
        put(bytes, value);
    }
}

// Reads the values back; a short or damaged file fails the whole reading.
struct Reader {
    const QByteArray& bytes;
    qsizetype at = 0;
    bool ok = true;

    std::int64_t number() {
        std::int64_t value = 0;
        if (at + qsizetype(sizeof value) > bytes.size()) {
            ok = false;
            return 0;
        }
        std::memcpy(&value, bytes.constData() + at, sizeof value);
        at += sizeof value;
        return value;
    }
    std::string text() {
        const std::int64_t length = number();
        if (!ok || length < 0 || length > bytes.size() - at) {
            ok = false;
            return {};
        }
        std::string value(bytes.constData() + at, size_t(length));
        at += qsizetype(length);
        return value;
    }
    FileStamp stamp() {
        FileStamp value;
        value.size = number();
        value.modified = number();
        value.changed = number();
        value.inode = number();
        return value;
    }
};

}  // namespace

QString CopyStamps::pathFor(const QString& copyRoot) {
    const QFileInfo copy(copyRoot);
    return copy.absolutePath() + QStringLiteral("/.") + copy.fileName() +
           QStringLiteral(".velk-stamps");
}

bool CopyStamps::save() const {
    QByteArray bytes(kMagic, kMagicLength);
    put(bytes, source.toStdString());
    put(bytes, copy.toStdString());
    put(bytes, std::int64_t(files.size()));
    for (const StampedFile& file : files) {
        put(bytes, file.relative);
        put(bytes, file.source);
        put(bytes, file.copy);
    }
    return AtomicFile::write(pathFor(copy), bytes).ok();
}

CopyStamps CopyStamps::load(const QString& sourceRoot, const QString& copyRoot) {
    CopyStamps stamps;
    QFile file(pathFor(copyRoot));
    struct stat status;
    if (!file.open(QIODevice::ReadOnly) || ::fstat(file.handle(), &status) != 0) {
        return {};
    }
    const QByteArray bytes = file.readAll();
    if (!bytes.startsWith(QByteArray(kMagic, kMagicLength))) {
        return {};
    }
    Reader reader{bytes, kMagicLength};
    stamps.source = QString::fromStdString(reader.text());
    stamps.copy = QString::fromStdString(reader.text());
    const std::int64_t count = reader.number();
    if (!reader.ok || stamps.source != sourceRoot || stamps.copy != copyRoot || count < 0) {
        return {};
    }
    stamps.files.reserve(size_t(std::min<std::int64_t>(count, bytes.size())));
    for (std::int64_t index = 0; index < count && reader.ok; ++index) {
        StampedFile stamped;
        stamped.relative = reader.text();
        stamped.source = reader.stamp();
        stamped.copy = reader.stamp();
        stamps.files.push_back(std::move(stamped));
    }
    if (!reader.ok || !std::is_sorted(stamps.files.begin(), stamps.files.end(),
                                      [](const StampedFile& left, const StampedFile& right) {
                                          return left.relative < right.relative;
                                      })) {
        return {};
    }
    stamps.written = nanosecondsOf(status.st_mtim);
    return stamps;
}

bool CopyStamps::unchanged(const std::string& relative, const FileStamp& sourceNow,
                           const FileStamp& copyNow, std::size_t* cursor) const {
    // Everything before the cursor sorts before an earlier path, so before this one too; the
    // next file after it is most often the one asked for.
    const auto from = files.begin() + std::ptrdiff_t(cursor ? std::min(*cursor, files.size()) : 0);
    const auto found = from != files.end() && from->relative >= relative
                           ? from
                           : std::lower_bound(from, files.end(), relative,
                                              [](const StampedFile& file, const std::string& name) {
                                                  return file.relative < name;
                                              });
    if (cursor) {
        *cursor = std::size_t(found - files.begin()) +
                  (found != files.end() && found->relative == relative ? 1 : 0);
    }
    if (found == files.end() || found->relative != relative || found->source != sourceNow ||
        found->copy != copyNow) {
        return false;
    }
    // Racy: written in the same tick as the stamps, a later write could leave them equal.
    for (const FileStamp* stamp : {&sourceNow, &copyNow}) {
        if (stamp->modified >= written || stamp->changed >= written) {
            return false;
        }
    }
    return true;
}

}  // namespace RunFiles::detail
