#include "core/workspace/HistoryEntry.h"

#include "core/base/Ids.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>

#include <climits>
#include <cmath>

namespace {

const QString kId = QStringLiteral("id");
const QString kProvider = QStringLiteral("provider");
const QString kTitle = QStringLiteral("title");
const QString kDirectory = QStringLiteral("directory");
const QString kStarted = QStringLiteral("started");
const QString kExitCode = QStringLiteral("exitCode");
const QString kOutput = QStringLiteral("output");
const QString kAssistant = QStringLiteral("assistant");
const QString kState = QStringLiteral("state");

bool isUuidText(const QString& text) {
    return text.size() == 36 && !QUuid::fromString(text).isNull();
}

}  // namespace

QJsonObject HistoryEntry::toJson() const {
    return QJsonObject{
        {kId, id},
        {kProvider, provider},
        {kTitle, title},
        {kDirectory, directory},
        {kStarted, Ids::referenceSeconds(started)},
        {kExitCode, exitCode},
        {kOutput, output},
        {kAssistant, assistant},
        {kState, state},
    };
}

std::optional<HistoryEntry> HistoryEntry::fromJson(const QJsonValue& value) {
    if (!value.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    for (const QString& key : {kId, kProvider, kTitle, kDirectory, kOutput}) {
        if (!object.value(key).isString()) {
            return std::nullopt;
        }
    }
    const QJsonValue started = object.value(kStarted);
    const QJsonValue exitCode = object.value(kExitCode);
    if (!started.isDouble() || !std::isfinite(started.toDouble()) || !exitCode.isDouble()) {
        return std::nullopt;
    }
    const double code = exitCode.toDouble();
    if (code != std::floor(code) || code < INT_MIN || code > INT_MAX) {
        return std::nullopt;
    }
    const QString idText = object.value(kId).toString();
    if (!isUuidText(idText)) {
        return std::nullopt;
    }

    HistoryEntry entry;
    entry.id = idText.toUpper();
    entry.provider = object.value(kProvider).toString();
    entry.title = object.value(kTitle).toString();
    entry.directory = object.value(kDirectory).toString();
    entry.started = Ids::fromReferenceSeconds(started.toDouble());
    entry.exitCode = int(code);
    entry.assistant = object.value(kAssistant).toString();
    entry.state = object.value(kState).toString();
    entry.output = object.value(kOutput).toString();
    return entry;
}

QByteArray HistoryEntry::encodeList(const QList<HistoryEntry>& entries) {
    QJsonArray array;
    for (const HistoryEntry& entry : entries) {
        array.append(entry.toJson());
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<HistoryEntry>> HistoryEntry::decodeList(const QByteArray& data) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray()) {
        return std::nullopt;
    }
    QList<HistoryEntry> entries;
    for (const QJsonValue& value : document.array()) {
        const auto entry = fromJson(value);
        if (!entry) {
            return std::nullopt;
        }
        entries.append(*entry);
    }
    return entries;
}
