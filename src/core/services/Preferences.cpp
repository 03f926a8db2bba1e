#include "core/services/Preferences.h"

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

#include <cmath>

// The preferences file keeps the type of every value, which Qt's INI format does not (a
// bool comes back as the text "true", an empty text array as nothing). Each line is
//     key=<JSON value>
// with texts as JSON strings, booleans and finite doubles as JSON literals, text arrays as
// arrays of strings, and the other types as small tagged objects: {"bytes": base64},
// {"int": n}, {"variant": base64 of the QDataStream form}. Keys are percent-encoded.
// A line that does not decode is skipped, so a damaged file loses only the damaged values.
//
// The variant form is written for types without a tag of their own but never read back:
// every value VELK stores has its own tag, and deserialising an arbitrary Qt type costs
// what its contents say, not what the file holds (a small compressed image expands to a
// huge one). A line over kMaximumValueBytes is skipped unread. The largest values VELK
// writes are the companion's picture (at most 10,000,000 bytes, 13.4 MB as base64) and the
// history (50 snapshots of 60,000 characters: 4 MB as base64 for plain text, about 12 MB
// for text of three-byte characters), well inside the limit.
namespace {

const QString kPreferencesFolder = QStringLiteral("Kelo AI");
const QString kBytesTag = QStringLiteral("bytes");
const QString kIntTag = QStringLiteral("int");
const QString kVariantTag = QStringLiteral("variant");
constexpr qint64 kMaximumValueBytes = 32 * 1024 * 1024;

bool isTextArray(const QVariant& value) {
    return value.typeId() == QMetaType::QStringList;
}

QJsonValue encodeValue(const QVariant& value) {
    switch (value.typeId()) {
        case QMetaType::QString:
            return value.toString();
        case QMetaType::Bool:
            return value.toBool();
        case QMetaType::Double:
        case QMetaType::Float:
            if (std::isfinite(value.toDouble())) {
                return value.toDouble();
            }
            break;
        case QMetaType::QByteArray:
            return QJsonObject{{kBytesTag, QString::fromLatin1(value.toByteArray().toBase64())}};
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
            // Text keeps all 64 bits exact; a JSON number would pass through a double.
            return QJsonObject{{kIntTag, QString::number(value.toLongLong())}};
        default:
            if (isTextArray(value)) {
                return QJsonArray::fromStringList(value.toStringList());
            }
            break;
    }
    qWarning("A preference value of type %s is stored in a form VELK does not read back",
             value.isValid() ? value.typeName() : "none");
    QByteArray streamed;
    QDataStream stream(&streamed, QIODevice::WriteOnly);
    stream << value;
    return QJsonObject{{kVariantTag, QString::fromLatin1(streamed.toBase64())}};
}

// An invalid QVariant when the JSON does not hold a value written by encodeValue.
QVariant decodeValue(const QJsonValue& json) {
    if (json.isString()) {
        return json.toString();
    }
    if (json.isBool()) {
        return json.toBool();
    }
    if (json.isDouble()) {
        return json.toDouble();
    }
    if (json.isArray()) {
        QStringList texts;
        for (const QJsonValue& element : json.toArray()) {
            if (!element.isString()) {
                return {};
            }
            texts.append(element.toString());
        }
        return texts;
    }
    if (!json.isObject() || json.toObject().size() != 1) {
        return {};
    }
    const QJsonObject object = json.toObject();
    const QString tag = object.begin().key();
    const QJsonValue payload = object.begin().value();
    if (!payload.isString()) {
        return {};
    }
    if (tag == kIntTag) {
        bool ok = false;
        const qlonglong number = payload.toString().toLongLong(&ok);
        return ok ? QVariant(number) : QVariant();
    }
    const auto decoded = QByteArray::fromBase64Encoding(payload.toString().toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        return {};
    }
    if (tag == kBytesTag) {
        return *decoded;
    }
    if (tag == kVariantTag) {
        // Only the stream's leading type id is read, to name the type in the warning.
        QDataStream stream(*decoded);
        quint32 typeId = 0;
        stream >> typeId;
        const QMetaType type = QMetaType(int(typeId));
        const QByteArray name =
            type.isValid() ? QByteArray(type.name()) : QByteArray::number(typeId);
        qWarning("A preference value of type %s is ignored: VELK does not store that type",
                 name.constData());
        return {};
    }
    return {};
}

// One line read in pieces, so that an overlong one is never held whole: `complete` is false
// when the line is longer than `limit`, in which case `bytes` holds only its beginning and
// the rest has been skipped.
struct BoundedLine {
    QByteArray bytes;
    bool complete = true;
};

BoundedLine readBoundedLine(QIODevice& device, qint64 limit) {
    constexpr qint64 kPiece = 64 * 1024;
    BoundedLine line;
    while (!device.atEnd()) {
        const QByteArray piece = device.readLine(kPiece);
        if (piece.isEmpty()) {
            break;
        }
        if (line.complete) {
            line.bytes += piece;
            if (line.bytes.size() > limit) {
                line.complete = false;
                line.bytes.truncate(kPiece);  // enough for the key
            }
        }
        if (piece.endsWith('\n')) {
            break;
        }
    }
    return line;
}

bool readPreferencesFile(QIODevice& device, QSettings::SettingsMap& map) {
    // A key is short; room for it is left beyond the value's limit.
    constexpr qint64 kMaximumLineBytes = kMaximumValueBytes + 64 * 1024;
    while (!device.atEnd()) {
        const BoundedLine read = readBoundedLine(device, kMaximumLineBytes);
        const QByteArray line = read.bytes.trimmed();
        const qsizetype separator = line.indexOf('=');
        if (line.isEmpty() || line.startsWith('#') || separator <= 0) {
            continue;
        }
        const QString key = QUrl::fromPercentEncoding(line.left(separator));
        if (!read.complete || line.size() - separator - 1 > kMaximumValueBytes) {
            qWarning("The preference \"%s\" is ignored: its value is larger than %lld bytes",
                     qUtf8Printable(key), kMaximumValueBytes);
            continue;
        }
        // JSON documents must be arrays or objects, so the value is read inside an array.
        QJsonParseError error;
        const QJsonDocument document =
            QJsonDocument::fromJson("[" + line.mid(separator + 1) + "]", &error);
        if (error.error != QJsonParseError::NoError || document.array().size() != 1) {
            continue;
        }
        const QVariant value = decodeValue(document.array().first());
        if (value.isValid()) {
            map.insert(key, value);
        }
    }
    return true;
}

bool writePreferencesFile(QIODevice& device, const QSettings::SettingsMap& map) {
    QByteArray contents = "# VELK preferences: one key=JSON value per line\n";
    for (auto it = map.begin(); it != map.end(); ++it) {
        QByteArray encoded =
            QJsonDocument(QJsonArray{encodeValue(it.value())}).toJson(QJsonDocument::Compact);
        contents += it.key().toUtf8().toPercentEncoding("/") + "=" +
                    encoded.mid(1, encoded.size() - 2) + "\n";
    }
    return device.write(contents) == contents.size();
}

QSettings::Format preferencesFormat() {
    static const QSettings::Format format = QSettings::registerFormat(
        QStringLiteral("conf"), readPreferencesFile, writePreferencesFile, Qt::CaseSensitive);
    return format;
}

QString configFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/" +
           kPreferencesFolder;
}

}  // namespace

struct SettingsPreferences::Private {
    explicit Private(const QString& path) : settings(path, preferencesFormat()) {}
    QSettings settings;
};

SettingsPreferences::SettingsPreferences() : SettingsPreferences(defaultPath()) {}

SettingsPreferences::SettingsPreferences(const QString& filePath)
    : d(std::make_unique<Private>(filePath)) {}

SettingsPreferences::~SettingsPreferences() = default;

QVariant SettingsPreferences::value(const QString& key) const {
    return d->settings.value(key);
}

bool SettingsPreferences::contains(const QString& key) const {
    return d->settings.contains(key);
}

void SettingsPreferences::setValue(const QString& key, const QVariant& value) {
    d->settings.setValue(key, value);
}

void SettingsPreferences::remove(const QString& key) {
    d->settings.remove(key);
}

void SettingsPreferences::sync() {
    d->settings.sync();
}

QString SettingsPreferences::folder() const {
    return QFileInfo(d->settings.fileName()).absolutePath();
}

QString SettingsPreferences::defaultPath() {
    return configFolder() + QStringLiteral("/VELK.conf");
}

QString SettingsPreferences::formerPreferencesPath() {
    return configFolder() + QStringLiteral("/Vira.conf");
}

QVariant MemoryPreferences::value(const QString& key) const {
    ++m_reads;
    return m_values.value(key);
}

bool MemoryPreferences::contains(const QString& key) const {
    ++m_reads;
    return m_values.contains(key);
}

void MemoryPreferences::setValue(const QString& key, const QVariant& value) {
    ++m_writes;
    m_values.insert(key, value);
}

void MemoryPreferences::remove(const QString& key) {
    ++m_writes;
    m_values.remove(key);
}
