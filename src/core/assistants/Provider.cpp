#include "core/assistants/Provider.h"

#include "core/appearance/HexColor.h"
#include "core/assistants/AssistantTraits.h"
#include "core/assistants/CommandTemplate.h"
#include "core/assistants/LoginShell.h"
#include "core/terminal/SpawnRequest.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

const QString kPlaceholder = QStringLiteral("{prompt}");

// A built-in whose stock template carries no placeholder because its client takes the task
// through an option; the option is added by `command`.
bool takesTaskThroughOption(const Provider& provider) {
    const AssistantTraits& traits = AssistantTraits::of(provider.id);
    return traits.hasStockTemplate(provider) && !traits.commands.interactiveWithTask.isEmpty();
}

// Blanks that end a command line: tabs and the Unicode space separators, never line breaks.
bool isHorizontalSpace(QChar c) {
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

QString trimmedHorizontally(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isHorizontalSpace(text[begin])) {
        ++begin;
    }
    while (end > begin && isHorizontalSpace(text[end - 1])) {
        --end;
    }
    return text.sliced(begin, end - begin);
}

struct JsonKey {
    const char* name;
    QString Provider::*field;
};

// The eight keys of the stored form, each one text field of the record.
constexpr JsonKey kJsonKeys[] = {
    {"id", &Provider::id},
    {"name", &Provider::name},
    {"subtitle", &Provider::subtitle},
    {"icon", &Provider::icon},
    {"colorHex", &Provider::colorHex},
    {"executable", &Provider::executable},
    {"template", &Provider::templateText},
    {"documentation", &Provider::documentation},
};

}  // namespace

QString shellQuote(const QString& text) {
    QString quoted = text;
    quoted.replace(u'\'', QStringLiteral("'\\''"));
    return u'\'' + quoted + u'\'';
}

SpawnRequest shellSpawnRequest(const QString& command, const QString& directory) {
    SpawnRequest request;
    request.program = QStringLiteral("/bin/zsh");
    request.arguments = {QStringLiteral("zsh"), QStringLiteral("-l"), QStringLiteral("-c"),
                         QString::fromUtf8(kShellPathPrefix) + command};
    request.environment = LoginShell::adoptedEntries();
    request.directory = directory;
    return request;
}

qsizetype maximumCommandBytes() {
    return kMaximumArgumentBytes - 1 - qsizetype(qstrlen(kShellPathPrefix));
}

bool commandLineFits(const QString& command) {
    return command.toUtf8().size() <= maximumCommandBytes();
}

QString taskTooLongNotice(const QString& toolName, const QString& command) {
    // The argument's size as the kernel counts it, in whole KB rounded up.
    const qsizetype bytes =
        command.toUtf8().size() + (kMaximumArgumentBytes - maximumCommandBytes());
    return QStringLiteral(
               "This task is too long to pass to %1 (%2 KB; the limit is %3 KB). "
               "Put the details in a file in the project and refer to it.")
        .arg(toolName)
        .arg((bytes + 1023) / 1024)
        .arg(kMaximumArgumentBytes / 1024);
}

const QList<Provider>& Provider::defaults() {
    static const QList<Provider> providers = [] {
        QList<Provider> stock;
        for (const AssistantTraits& traits : AssistantTraits::all()) {
            stock.append(traits.stock);
        }
        return stock;
    }();
    return providers;
}

QColor Provider::color() const {
    return colorFromHex(colorHex);
}

std::optional<QUrl> Provider::documentationURL() const {
    if (documentation.isEmpty()) {
        return std::nullopt;
    }
    const QUrl url(documentation, QUrl::StrictMode);
    if (!url.isValid()) {
        return std::nullopt;
    }
    const QString scheme = url.scheme().toLower();
    if ((scheme != u"https" && scheme != u"http") || url.host().isEmpty()) {
        return std::nullopt;
    }
    return url;
}

Result<void> Provider::checkTemplate() const {
    const CommandTemplate::Review review = CommandTemplate::review(templateText);
    if (review.error) {
        return Error::invalid(*review.error);
    }
    return {};
}

std::optional<QString> Provider::templateWarning() const {
    if (!templateText.contains(kPlaceholder)) {
        return std::nullopt;
    }
    return CommandTemplate::review(templateText).warning;
}

bool Provider::receivesTasks() const {
    if (!checkTemplate()) {
        return false;
    }
    return templateText.contains(kPlaceholder) || takesTaskThroughOption(*this);
}

QString Provider::command(const QString& prompt) const {
    if (!prompt.isEmpty() && takesTaskThroughOption(*this)) {
        return AssistantTraits::withTask(AssistantTraits::of(id).commands.interactiveWithTask,
                                         prompt);
    }
    const QString quoted = prompt.isEmpty() ? QString() : shellQuote(prompt);
    QString line = templateText;
    line.replace(kPlaceholder, quoted);
    // The stock template starts with the executable; its options follow it.
    const AssistantTraits& traits = AssistantTraits::of(id);
    if (!traits.commands.notifications.isEmpty() && traits.hasStockTemplate(*this)) {
        const qsizetype space = line.indexOf(u' ');
        line.insert(space < 0 ? line.size() : space, u' ' + traits.commands.notifications);
    }
    return trimmedHorizontally(line);
}

QString Provider::batchCommand(const QString& prompt) const {
    const AssistantTraits& traits = AssistantTraits::of(id);
    if (!traits.hasStockTemplate(*this) || traits.commands.batch.isEmpty()) {
        return command(prompt);
    }
    return AssistantTraits::withTask(traits.commands.batch, prompt);
}

bool Provider::readsBatchTaskFromInput() const {
    const AssistantTraits& traits = AssistantTraits::of(id);
    return traits.hasStockTemplate(*this) && !traits.commands.batch.isEmpty() &&
           traits.commands.taskFromInput.has_value();
}

std::optional<QString> Provider::batchCommandReadingFile(const QString& taskFile) const {
    if (!readsBatchTaskFromInput()) {
        return std::nullopt;
    }
    const AssistantTraits& traits = AssistantTraits::of(id);
    return traits.withTaskFromFile(traits.commands.batch, taskFile);
}

QJsonObject Provider::toJson() const {
    QJsonObject object;
    for (const JsonKey& key : kJsonKeys) {
        object.insert(QLatin1String(key.name), this->*key.field);
    }
    return object;
}

std::optional<Provider> Provider::fromJson(const QJsonValue& value) {
    if (!value.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    Provider provider;
    for (const JsonKey& key : kJsonKeys) {
        const QJsonValue field = object.value(QLatin1String(key.name));
        if (!field.isString()) {
            return std::nullopt;
        }
        provider.*key.field = field.toString();
    }
    return provider;
}

QByteArray Provider::encodeList(const QList<Provider>& providers) {
    QJsonArray array;
    for (const Provider& provider : providers) {
        array.append(provider.toJson());
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<Provider>> Provider::decodeList(const QByteArray& data) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray()) {
        return std::nullopt;
    }
    QList<Provider> providers;
    const QJsonArray array = document.array();
    providers.reserve(array.size());
    for (const QJsonValue& value : array) {
        std::optional<Provider> provider = fromJson(value);
        if (!provider) {
            return std::nullopt;
        }
        providers.append(std::move(*provider));
    }
    return providers;
}
