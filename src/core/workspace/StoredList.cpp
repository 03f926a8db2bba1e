#include "core/workspace/StoredList.h"

#include "core/services/Preferences.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace StoredList {

namespace {

const QString kEntry = QStringLiteral("entry");
const QString kValue = QStringLiteral("value");

// The bytes a find takes in the compact JSON text, with the comma before it.
qsizetype encodedSize(const QJsonValue& value) {
    return QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact).size() - 1;
}

QJsonObject wholeValue(const QByteArray& bytes) {
    return QJsonObject{{kValue, QString::fromLatin1(bytes.toBase64())}};
}

// The finds already set aside. A value there that is no longer a list is itself kept, as
// the first find.
QJsonArray storedFinds(const Preferences& preferences, const QString& key) {
    const QByteArray stored = preferences.value(key).toByteArray();
    if (stored.isEmpty()) {
        return {};
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(stored, &error);
    if (error.error == QJsonParseError::NoError && document.isArray()) {
        return document.array();
    }
    return QJsonArray{wholeValue(stored)};
}

void setAside(Preferences& preferences, const QString& key, const QList<QJsonObject>& finds) {
    const QString target = damagedKey(key);
    QJsonArray kept = storedFinds(preferences, target);
    const qsizetype keptBefore = kept.size();
    for (const QJsonObject& find : finds) {
        if (encodedSize(find) > kDamagedBytes) {
            qWarning("A damaged \"%s\" value is too large to keep aside", qUtf8Printable(key));
        } else if (!kept.contains(find)) {
            kept.append(find);
        }
    }
    if (kept.size() == keptBefore) {
        return;
    }
    qsizetype bytes = 0;
    for (const QJsonValue& find : kept) {
        bytes += encodedSize(find);
    }
    while (kept.size() > kDamagedLimit || bytes > kDamagedBytes) {
        bytes -= encodedSize(kept.first());
        kept.removeFirst();
    }
    preferences.setValue(target, QJsonDocument(kept).toJson(QJsonDocument::Compact));
}

}  // namespace

QString damagedKey(const QString& key) {
    return key + QStringLiteral(".damaged");
}

Reading read(Preferences& preferences, const QString& key,
             const std::function<bool(const QJsonValue&)>& take) {
    Reading reading;
    const QByteArray stored = preferences.value(key).toByteArray();
    if (stored.isEmpty()) {
        return reading;
    }
    QList<QJsonObject> finds;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(stored, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray()) {
        finds.append(wholeValue(stored));
    } else {
        reading.list = true;
        for (const QJsonValue& entry : document.array()) {
            if (take(entry)) {
                ++reading.taken;
            } else {
                finds.append(QJsonObject{{kEntry, entry}});
            }
        }
    }
    reading.damaged = int(finds.size());
    if (!finds.isEmpty()) {
        setAside(preferences, key, finds);
    }
    return reading;
}

}  // namespace StoredList
