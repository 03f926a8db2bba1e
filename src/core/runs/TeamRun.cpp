#include "core/runs/TeamRun.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>
#include <limits>

namespace {

// 2001-01-01T00:00:00Z, the origin of stored dates.
constexpr qint64 kReferenceEpochMSecs = 978307200000;

QString uuidText(const QUuid& id) {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<QUuid> uuidFrom(const QJsonValue& value) {
    if (!value.isString()) {
        return std::nullopt;
    }
    const QUuid id = QUuid::fromString(value.toString());
    if (id.isNull() && value.toString() != QStringLiteral("00000000-0000-0000-0000-000000000000")) {
        return std::nullopt;
    }
    return id;
}

std::optional<QString> stringFrom(const QJsonObject& object, const QString& key) {
    const QJsonValue value = object.value(key);
    if (!value.isString()) {
        return std::nullopt;
    }
    return value.toString();
}

// Dates are stored as (fractional) seconds since 2001-01-01; rounding to the nearest
// millisecond keeps a written date equal to itself when read back.
double secondsFrom(const QDateTime& time) {
    return double(time.toMSecsSinceEpoch() - kReferenceEpochMSecs) / 1000.0;
}

// Beyond 2^53 a count is no longer exact in a JSON number.
constexpr double kLargestCount = 9007199254740992.0;

// About 300,000 years either side: beyond it the millisecond count would overflow.
constexpr double kLargestSeconds = 1e13;

QDateTime dateFrom(double seconds) {
    return QDateTime::fromMSecsSinceEpoch(kReferenceEpochMSecs + std::llround(seconds * 1000.0),
                                          Qt::UTC);
}

std::optional<int> intFrom(const QJsonValue& value) {
    const double number = value.toDouble(std::nan(""));
    if (!value.isDouble() || number != std::trunc(number) ||
        number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    return int(number);
}

// What the preparation and the setup added to a copy; each key is left out when empty.
void insertCopyExtras(QJsonObject& object, const RunCopy& copy) {
    if (!copy.extraFiles.isEmpty()) {
        object.insert(QStringLiteral("extraFiles"), QJsonArray::fromStringList(copy.extraFiles));
    }
    if (copy.portBase) {
        object.insert(QStringLiteral("portBase"), *copy.portBase);
    }
    if (copy.setupSession) {
        object.insert(QStringLiteral("setupSession"), uuidText(*copy.setupSession));
    }
    if (copy.setupExitCode) {
        object.insert(QStringLiteral("setupExitCode"), *copy.setupExitCode);
    }
    if (!copy.madeBySetup.empty()) {
        QJsonObject files;
        for (const auto& [path, hash] : copy.madeBySetup) {
            files.insert(path, hash);
        }
        object.insert(QStringLiteral("madeBySetup"), files);
    }
}

// Older records have none of these; a malformed value is dropped, not the copy.
void readCopyExtras(const QJsonObject& object, RunCopy& copy) {
    for (const QJsonValue& file : object.value(QStringLiteral("extraFiles")).toArray()) {
        if (file.isString()) {
            copy.extraFiles.append(file.toString());
        }
    }
    copy.portBase = intFrom(object.value(QStringLiteral("portBase")));
    copy.setupSession = uuidFrom(object.value(QStringLiteral("setupSession")));
    copy.setupExitCode = intFrom(object.value(QStringLiteral("setupExitCode")));
    const QJsonObject made = object.value(QStringLiteral("madeBySetup")).toObject();
    for (auto entry = made.begin(); entry != made.end(); ++entry) {
        if (entry.value().isString()) {
            copy.madeBySetup[entry.key()] = entry.value().toString();
        }
    }
}

}  // namespace

QJsonObject RunCopy::toJson() const {
    QJsonObject object{
        {QStringLiteral("id"), uuidText(id)},
        {QStringLiteral("provider"), provider},
        {QStringLiteral("directory"), directory},
    };
    if (session) {
        object.insert(QStringLiteral("session"), uuidText(*session));
    }
    if (exitCode) {
        object.insert(QStringLiteral("exitCode"), *exitCode);
    }
    for (const auto& [key, hashes] : {std::pair{QStringLiteral("applied"), &applied},
                                      std::pair{QStringLiteral("partlyApplied"), &partlyApplied}}) {
        if (!hashes->empty()) {
            QJsonObject files;
            for (const auto& [path, hash] : *hashes) {
                files.insert(path, hash);
            }
            object.insert(key, files);
        }
    }
    insertCopyExtras(object, *this);
    return object;
}

std::optional<RunCopy> RunCopy::fromJson(const QJsonObject& object) {
    RunCopy copy;
    const auto id = uuidFrom(object.value(QStringLiteral("id")));
    const auto provider = stringFrom(object, QStringLiteral("provider"));
    const auto directory = stringFrom(object, QStringLiteral("directory"));
    if (!id || !provider || !directory) {
        return std::nullopt;
    }
    copy.id = *id;
    copy.provider = *provider;
    copy.directory = *directory;
    const QJsonValue session = object.value(QStringLiteral("session"));
    if (!session.isUndefined() && !session.isNull()) {
        copy.session = uuidFrom(session);
        if (!copy.session) {
            return std::nullopt;
        }
    }
    const QJsonValue exitCode = object.value(QStringLiteral("exitCode"));
    if (!exitCode.isUndefined() && !exitCode.isNull()) {
        const double number = exitCode.toDouble(std::nan(""));
        if (!exitCode.isDouble() || number != std::trunc(number) ||
            number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max()) {
            return std::nullopt;
        }
        copy.exitCode = int(number);
    }
    // Older records have no applied or partly applied files; a malformed entry is dropped,
    // not the copy.
    for (const auto& [key, hashes] :
         {std::pair{QStringLiteral("applied"), &copy.applied},
          std::pair{QStringLiteral("partlyApplied"), &copy.partlyApplied}}) {
        const QJsonObject files = object.value(key).toObject();
        for (auto entry = files.begin(); entry != files.end(); ++entry) {
            if (entry.value().isString()) {
                (*hashes)[entry.key()] = entry.value().toString();
            }
        }
    }
    readCopyExtras(object, copy);
    return copy;
}

QJsonObject TeamRun::toJson() const {
    QJsonArray copyArray;
    for (const RunCopy& copy : copies) {
        copyArray.append(copy.toJson());
    }
    QJsonObject object{
        {QStringLiteral("id"), uuidText(id)},
        {QStringLiteral("prompt"), prompt},
        {QStringLiteral("project"), project},
        {QStringLiteral("root"), root},
        {QStringLiteral("created"), secondsFrom(created)},
        {QStringLiteral("copies"), copyArray},
    };
    if (!name.isEmpty()) {
        object.insert(QStringLiteral("name"), name);
    }
    if (!setupCommand.isEmpty()) {
        object.insert(QStringLiteral("setup"),
                      QJsonObject{{QStringLiteral("command"), setupCommand},
                                  {QStringLiteral("timeout"), setupTimeoutSeconds}});
    }
    if (limits != RunLimits::standard()) {
        object.insert(QStringLiteral("limits"),
                      QJsonObject{{QStringLiteral("files"), double(limits.files)},
                                  {QStringLiteral("bytes"), double(limits.bytes)}});
    }
    return object;
}

std::optional<TeamRun> TeamRun::fromJson(const QJsonObject& object) {
    const auto id = uuidFrom(object.value(QStringLiteral("id")));
    const auto prompt = stringFrom(object, QStringLiteral("prompt"));
    const auto project = stringFrom(object, QStringLiteral("project"));
    const auto root = stringFrom(object, QStringLiteral("root"));
    const QJsonValue created = object.value(QStringLiteral("created"));
    const QJsonValue copies = object.value(QStringLiteral("copies"));
    if (!id || !prompt || !project || !root || !created.isDouble() || !copies.isArray() ||
        !(std::fabs(created.toDouble()) < kLargestSeconds)) {
        return std::nullopt;
    }
    TeamRun run;
    run.id = *id;
    run.prompt = *prompt;
    run.project = *project;
    run.root = *root;
    run.created = dateFrom(created.toDouble());
    for (const QJsonValue& value : copies.toArray()) {
        if (!value.isObject()) {
            return std::nullopt;
        }
        auto copy = RunCopy::fromJson(value.toObject());
        if (!copy) {
            return std::nullopt;
        }
        run.copies.push_back(std::move(*copy));
    }
    run.name = object.value(QStringLiteral("name")).toString();
    const QJsonObject setup = object.value(QStringLiteral("setup")).toObject();
    run.setupCommand = setup.value(QStringLiteral("command")).toString();
    run.setupTimeoutSeconds = setup.value(QStringLiteral("timeout")).toInt(run.setupTimeoutSeconds);
    // Limits that are not whole positive numbers are left at the standard ones.
    const QJsonObject limits = object.value(QStringLiteral("limits")).toObject();
    const double files = limits.value(QStringLiteral("files")).toDouble();
    const double bytes = limits.value(QStringLiteral("bytes")).toDouble();
    const auto count = [](double number) {
        return number >= 1 && number < kLargestCount && number == std::trunc(number);
    };
    if (count(files) && count(bytes)) {
        run.limits = {qint64(files), qint64(bytes)};
    }
    return run;
}

QByteArray TeamRun::toJsonBytes() const {
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
}

std::optional<TeamRun> TeamRun::fromJsonBytes(const QByteArray& bytes) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    return fromJson(document.object());
}
