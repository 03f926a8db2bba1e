#include "assistants/Provider.h"

#include "appearance/HexColor.h"
#include "assistants/CommandTemplate.h"
#include "terminal/TerminalSession.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>

namespace {

const QString kPlaceholder = QStringLiteral("{prompt}");

// The kimi and agy clients take their prompt through an option, so their stock templates
// carry no placeholder; the prompt is added by `command` instead.
bool isStockKimi(const Provider& provider) {
    return provider.id == u"kimi" && provider.templateText == u"kimi";
}

bool isStockAntigravity(const Provider& provider) {
    return provider.id == u"antigravity" && provider.templateText == u"agy";
}

// A built-in provider whose template the user has not changed: its one-shot form is known.
bool isUnchangedBuiltIn(const Provider& provider) {
    const QList<Provider>& builtIns = Provider::defaults();
    return std::any_of(builtIns.begin(), builtIns.end(), [&provider](const Provider& builtIn) {
        return builtIn.id == provider.id && builtIn.templateText == provider.templateText;
    });
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

Provider makeProvider(const char16_t* id, const char16_t* name, const char16_t* subtitle,
                      const char16_t* icon, const char16_t* colorHex, const char16_t* executable,
                      const char16_t* templateText, const char16_t* documentation) {
    return Provider{QString::fromUtf16(id),           QString::fromUtf16(name),
                    QString::fromUtf16(subtitle),     QString::fromUtf16(icon),
                    QString::fromUtf16(colorHex),     QString::fromUtf16(executable),
                    QString::fromUtf16(templateText), QString::fromUtf16(documentation)};
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

qsizetype maximumCommandBytes() {
    return kMaximumArgumentBytes - 1 - qsizetype(qstrlen(TerminalSession::kPathPrefix));
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
    static const QList<Provider> providers = {
        makeProvider(u"claude", u"Claude Code", u"Anthropic · coding agent", u"asterisk", u"E3AF94",
                     u"claude", u"claude {prompt}", u"https://code.claude.com/docs/en/overview"),
        makeProvider(u"codex", u"Codex", u"OpenAI · coding agent",
                     u"chevron.left.forwardslash.chevron.right", u"A6C9F8", u"codex",
                     u"codex --sandbox workspace-write {prompt}",
                     u"https://developers.openai.com/codex/cli"),
        makeProvider(u"kimi", u"Kimi Code", u"Moonshot · K3 via your CLI settings", u"k.square",
                     u"C0AAF9", u"kimi", u"kimi", u"https://www.kimi.com/code/docs/en/"),
        makeProvider(u"antigravity", u"Antigravity", u"Google · coding agent", u"sparkle",
                     u"99D8BA", u"agy", u"agy", u"https://antigravity.google/docs/home"),
        makeProvider(u"zai", u"Z.ai", u"GLM · configure a separate CLI profile", u"z.square",
                     u"7EE6E3", u"claude", u"", u"https://docs.z.ai/devpack/tool/claude"),
        makeProvider(u"shell", u"Terminal", u"Your Mac · Zsh shell", u"terminal", u"90A4BE",
                     u"/bin/zsh", u"/bin/zsh -l", u""),
    };
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

std::optional<QString> Provider::templateError() const {
    return CommandTemplate::review(templateText).error;
}

std::optional<QString> Provider::templateWarning() const {
    if (!templateText.contains(kPlaceholder)) {
        return std::nullopt;
    }
    return CommandTemplate::review(templateText).warning;
}

bool Provider::receivesTasks() const {
    if (templateError()) {
        return false;
    }
    return templateText.contains(kPlaceholder) || isStockKimi(*this) || isStockAntigravity(*this);
}

QString Provider::command(const QString& prompt) const {
    if (isStockKimi(*this)) {
        return prompt.isEmpty() ? QStringLiteral("kimi")
                                : QStringLiteral("kimi --prompt ") + shellQuote(prompt);
    }
    if (isStockAntigravity(*this)) {
        return prompt.isEmpty() ? QStringLiteral("agy")
                                : QStringLiteral("agy --prompt-interactive ") + shellQuote(prompt);
    }
    const QString quoted = prompt.isEmpty() ? QString() : shellQuote(prompt);
    QString line = templateText;
    line.replace(kPlaceholder, quoted);
    return trimmedHorizontally(line);
}

QString Provider::batchCommand(const QString& prompt) const {
    if (!isUnchangedBuiltIn(*this)) {
        return command(prompt);
    }
    const QString quoted = shellQuote(prompt);
    if (id == u"codex") {
        return QStringLiteral("codex exec --skip-git-repo-check --sandbox workspace-write ") +
               quoted;
    }
    if (id == u"claude") {
        return QStringLiteral("claude --print ") + quoted;
    }
    if (id == u"kimi") {
        return QStringLiteral("kimi --prompt ") + quoted;
    }
    if (id == u"antigravity") {
        return QStringLiteral("agy --print ") + quoted;
    }
    return command(prompt);
}

bool Provider::readsBatchTaskFromInput() const {
    return isUnchangedBuiltIn(*this) && (id == u"codex" || id == u"claude");
}

std::optional<QString> Provider::batchCommandReadingFile(const QString& taskFile) const {
    if (!readsBatchTaskFromInput()) {
        return std::nullopt;
    }
    // `codex exec -` and `claude --print` without a prompt read the task to its end.
    const QString input = QStringLiteral(" < ") + shellQuote(taskFile);
    if (id == u"codex") {
        return QStringLiteral("codex exec --skip-git-repo-check --sandbox workspace-write -") +
               input;
    }
    return QStringLiteral("claude --print") + input;
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
