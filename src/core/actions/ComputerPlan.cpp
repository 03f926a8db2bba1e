#include "core/actions/ComputerPlan.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSet>
#include <QTextBoundaryFinder>
#include <QUrl>
#include <QVariant>

#include <algorithm>
#include <cmath>

namespace {

const QString kTooLarge =
    QStringLiteral("The plan is too large or contains duplicate steps. Try a simpler request.");
const QString kInvalidAppOrTitle =
    QStringLiteral("The plan contains an invalid app or step title.");
const QString kUnexpectedOpenData =
    QStringLiteral("An app-opening step contained unexpected data.");
const QString kUnsupportedAddress =
    QStringLiteral("Only ordinary HTTP or HTTPS web addresses are supported.");
const QString kUnsupportedTyping = QStringLiteral(
    "Typing steps support up to 2,000 characters on one line. Use separate Return steps for "
    "line breaks.");
const QString kUnsupportedShortcut =
    QStringLiteral("The plan requested an unsupported keyboard shortcut.");
const QString kUnsupportedAction = QStringLiteral("The plan requested an unsupported action.");
const QString kTitleLayout =
    QStringLiteral("The plan contains a step title with a line break or text-direction control.");
const QString kExplanationControls =
    QStringLiteral("The plan’s explanation contains a text-direction control.");

// A text within a limit of user-perceived characters. One character can carry any number
// of combining marks, so the text is first held to four UTF-16 units per character; that
// also keeps counting cheap.
bool withinCharacters(const QString& text, int limit) {
    return text.size() <= qsizetype(limit) * 4 && PlanText::characterCount(text) <= limit;
}

bool isLineBreak(char16_t unit) {
    switch (unit) {
        case 0x000A:
        case 0x000B:
        case 0x000C:
        case 0x000D:
        case 0x0085:
        case 0x2028:
        case 0x2029:
            return true;
        default:
            return false;
    }
}

bool containsDirectionControl(const QString& text) {
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return PlanText::isDirectionControl(c.unicode()); });
}

bool containsWhiteSpace(const QString& text) {
    const QList<uint> scalars = text.toUcs4();
    return std::any_of(scalars.begin(), scalars.end(),
                       [](uint scalar) { return PlanText::isWhiteSpace(scalar); });
}

bool validApp(const QString& app) {
    if (app.isEmpty() || !withinCharacters(app, ComputerPlan::kMaximumAppCharacters)) {
        return false;
    }
    if (app.split(u'.', Qt::SkipEmptyParts).size() < 2) {
        return false;
    }
    // The confirmation and the step list show the app: a direction control would reorder it
    // and the action shown after it.
    return !app.contains(u'/') && !containsWhiteSpace(app) && !containsDirectionControl(app);
}

// The authority of an absolute "scheme://authority/…" text as written, before any
// normalisation, so that an empty user name ("https://@host") is seen as well.
QStringView rawAuthority(const QString& text) {
    const qsizetype colon = text.indexOf(u':');
    if (colon < 0 || !QStringView(text).sliced(colon + 1).startsWith(u"//")) {
        return {};
    }
    QStringView rest = QStringView(text).sliced(colon + 3);
    qsizetype end = 0;
    while (end < rest.size() && rest[end] != u'/' && rest[end] != u'?' && rest[end] != u'#') {
        ++end;
    }
    return rest.first(end);
}

// An ordinary web address: an absolute http or https URL with a host and no user
// information. Parsing is strict (RFC 3986): blanks, controls, backslashes and other
// characters outside URL syntax make the address invalid instead of being repaired.
bool ordinaryWebAddress(const QString& value) {
    if (!withinCharacters(value, ComputerPlan::kMaximumAddressCharacters)) {
        return false;
    }
    for (QChar c : value) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || PlanText::isWhiteSpace(c.unicode())) {
            return false;
        }
    }
    const QUrl url(value, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative()) {
        return false;
    }
    const QString scheme = url.scheme().toLower();
    if (scheme != u"http" && scheme != u"https") {
        return false;
    }
    if (url.host().isEmpty()) {
        return false;
    }
    return url.userName().isEmpty() && url.password().isEmpty() &&
           !rawAuthority(value).contains(u'@');
}

bool typeableLine(const QString& value) {
    if (value.isEmpty() || value.size() > ComputerPlan::kMaximumTypingUnits) {
        return false;
    }
    // Every scalar below U+0020 and U+007F is a single UTF-16 unit.
    for (QChar c : value) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            return false;
        }
    }
    return true;
}

// Nothing when the rule holds, else its message.
Result<void> passes(bool holds, const QString& message) {
    if (holds) {
        return {};
    }
    return Error::invalid(message);
}

Result<void> checkStep(const ComputerStep& step) {
    if (step.title.isEmpty() ||
        !withinCharacters(step.title, ComputerPlan::kMaximumTitleCharacters)) {
        return Error::invalid(kInvalidAppOrTitle);
    }
    // The confirmation names the step by its title: it must read as one line, in order.
    if (std::any_of(step.title.begin(), step.title.end(),
                    [](QChar c) { return isLineBreak(c.unicode()); }) ||
        containsDirectionControl(step.title)) {
        return Error::invalid(kTitleLayout);
    }
    if (!validApp(step.app)) {
        return Error::invalid(kInvalidAppOrTitle);
    }
    if (step.action == u"open_app") {
        return passes(step.value.isEmpty(), kUnexpectedOpenData);
    }
    if (step.action == u"open_url") {
        return passes(ordinaryWebAddress(step.value), kUnsupportedAddress);
    }
    if (step.action == u"type_text") {
        return passes(typeableLine(step.value), kUnsupportedTyping);
    }
    if (step.action == u"key") {
        return passes(ComputerPlan::keys().contains(step.value), kUnsupportedShortcut);
    }
    return Error::invalid(kUnsupportedAction);
}

// --- Strict decoding ---------------------------------------------------------------------

struct DecodeError {
    QString description;
};

QString place(int stepIndex) {
    return stepIndex < 0 ? QStringLiteral("The plan")
                         : QStringLiteral("Step %1").arg(stepIndex + 1);
}

QJsonValue required(const QJsonObject& object, const char* key, int stepIndex) {
    const auto found = object.constFind(QLatin1String(key));
    if (found == object.constEnd()) {
        throw DecodeError{QStringLiteral("%1 has no “%2” value.").arg(place(stepIndex), key)};
    }
    return *found;
}

QString requiredText(const QJsonObject& object, const char* key, int stepIndex) {
    const QJsonValue value = required(object, key, stepIndex);
    if (!value.isString()) {
        throw DecodeError{QStringLiteral("The “%1” value of %2 is not a text.")
                              .arg(key, place(stepIndex).toLower())};
    }
    return value.toString();
}

// A JSON number that is exactly a signed 64-bit integer: 3 and 3.0 are, 1.5 and 2^63 are not.
qint64 requiredInteger(const QJsonObject& object, const char* key, int stepIndex) {
    const QJsonValue value = required(object, key, stepIndex);
    const QVariant number = value.toVariant();
    if (number.typeId() == QMetaType::LongLong) {
        return number.toLongLong();
    }
    if (value.isDouble()) {
        const double d = value.toDouble();
        if (std::isfinite(d) && std::trunc(d) == d && d >= -9223372036854775808.0 &&
            d < 9223372036854775808.0) {
            return static_cast<qint64>(d);
        }
    }
    throw DecodeError{QStringLiteral("The “%1” value of %2 is not a 64-bit integer.")
                          .arg(key, place(stepIndex).toLower())};
}

ComputerStep decodeStep(const QJsonValue& value, int index) {
    if (!value.isObject()) {
        throw DecodeError{QStringLiteral("%1 is not a JSON object.").arg(place(index))};
    }
    const QJsonObject object = value.toObject();
    ComputerStep step;
    step.id = requiredInteger(object, "id", index);
    step.title = requiredText(object, "title", index);
    step.action = requiredText(object, "action", index);
    step.app = requiredText(object, "app", index);
    step.value = requiredText(object, "value", index);
    return step;
}

ComputerPlan decodePlan(const QJsonValue& value) {
    if (!value.isObject()) {
        throw DecodeError{QStringLiteral("The plan is not a JSON object.")};
    }
    const QJsonObject object = value.toObject();
    ComputerPlan plan;
    plan.explanation = requiredText(object, "explanation", -1);
    const QJsonValue steps = required(object, "steps", -1);
    if (!steps.isArray()) {
        throw DecodeError{QStringLiteral("The “steps” value of the plan is not a list.")};
    }
    const QJsonArray array = steps.toArray();
    plan.steps.reserve(array.size());
    for (int i = 0; i < array.size(); ++i) {
        plan.steps.append(decodeStep(array.at(i), i));
    }
    return plan;
}

}  // namespace

namespace PlanText {

qsizetype characterCount(const QString& text) {
    if (text.isEmpty()) {
        return 0;
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1) {
        ++count;
    }
    return count;
}

bool isDirectionControl(char32_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

bool isWhiteSpace(char32_t c) {
    switch (c) {
        case 0x0009:
        case 0x000A:
        case 0x000B:
        case 0x000C:
        case 0x000D:
        case 0x0020:
        case 0x0085:
        case 0x00A0:
        case 0x1680:
        case 0x2028:
        case 0x2029:
        case 0x202F:
        case 0x205F:
        case 0x3000:
            return true;
        default:
            return c >= 0x2000 && c <= 0x200A;
    }
}

}  // namespace PlanText

QJsonObject ComputerStep::toJson() const {
    return QJsonObject{{QStringLiteral("id"), id},
                       {QStringLiteral("title"), title},
                       {QStringLiteral("action"), action},
                       {QStringLiteral("app"), app},
                       {QStringLiteral("value"), value}};
}

QString ComputerStep::shownValue() const {
    if (action == u"type_text") {
        QString shown;
        for (QChar c : value) {
            if (PlanText::isDirectionControl(c.unicode())) {
                shown +=
                    QStringLiteral("⟨U+%1⟩").arg(c.unicode(), 4, 16, QLatin1Char('0')).toUpper();
            } else {
                shown += c;
            }
        }
        return shown;
    }
    if (action == u"open_url") {
        const QString host = QUrl(value).host(QUrl::FullyDecoded);
        const QString ascii = QString::fromLatin1(QUrl::toAce(host));
        const QString unicode = QUrl::fromAce(ascii.toLatin1(), QUrl::IgnoreIDNWhitelist);
        if (!ascii.isEmpty() && ascii != unicode) {
            return value + QStringLiteral("\nHost: ") + unicode + QStringLiteral(" (ASCII form: ") +
                   ascii + u')';
        }
    }
    return value;
}

const QString& ComputerPlan::schema() {
    static const QString text = QStringLiteral(
        R"({"type":"object","additionalProperties":false,"required":["explanation","steps"],)"
        R"("properties":{"explanation":{"type":"string"},"steps":{"type":"array","items":)"
        R"({"type":"object","additionalProperties":false,"required":["id","title","action",)"
        R"("app","value"],"properties":{"id":{"type":"integer"},"title":{"type":"string"},)"
        R"("action":{"type":"string","enum":["open_app","open_url","type_text","key"]},)"
        R"("app":{"type":"string"},"value":{"type":"string"}}}}}})");
    return text;
}

const QString& ComputerPlan::instructions() {
    static const QString text = QStringLiteral(
        "Make a simple Linux desktop action plan for the user's request below. Plan only; do "
        "not run tools, commands, or interact with the computer. No screenshot is provided. "
        "Supported actions: open_app (value empty), open_url (HTTP/HTTPS value), type_text (one "
        "line, <=2000 UTF16 units), key (return, tab, escape, space, command+a, command+c, "
        "command+v, command+s, command+n, command+f; on this computer each command+ shortcut "
        "is pressed with Ctrl). Every action targets a real installed Linux application, named "
        "in app by its desktop-entry file name, e.g. firefox-esr.desktop or "
        "org.gnome.TextEditor.desktop. Use at most 12 steps with unique "
        "integer ids and plain-language titles. Show all text and destinations in the values. "
        "Do not invent app features. If reliable steps require seeing a screen, passwords, "
        "unsupported actions, or additional information, return an empty steps array and "
        "explain what is needed. Typing goes to the currently focused field in the named app. "
        "The user reviews and triggers every individual step. Do not assume a document or "
        "input is already focused; explain any manual positioning needed. Request: ");
    return text;
}

const QMap<QString, ShortcutKey>& ComputerPlan::keys() {
    static const QMap<QString, ShortcutKey> table = {
        {QStringLiteral("return"), {0x24, 0}},
        {QStringLiteral("tab"), {0x30, 0}},
        {QStringLiteral("escape"), {0x35, 0}},
        {QStringLiteral("space"), {0x31, 0}},
        {QStringLiteral("command+a"), {0x00, kCommandFlag}},
        {QStringLiteral("command+c"), {0x08, kCommandFlag}},
        {QStringLiteral("command+v"), {0x09, kCommandFlag}},
        {QStringLiteral("command+s"), {0x01, kCommandFlag}},
        {QStringLiteral("command+n"), {0x2D, kCommandFlag}},
        {QStringLiteral("command+f"), {0x03, kCommandFlag}},
    };
    return table;
}

Result<ComputerPlan> ComputerPlan::validated() const {
    if (steps.size() > kMaximumSteps) {
        return Error{Error::Kind::Limit, kTooLarge};
    }
    if (!withinCharacters(explanation, kMaximumExplanationCharacters)) {
        return Error{Error::Kind::Limit, kTooLarge};
    }
    QSet<qint64> ids;
    for (const ComputerStep& step : steps) {
        ids.insert(step.id);
    }
    if (ids.size() != steps.size()) {
        return Error::invalid(kTooLarge);
    }
    if (containsDirectionControl(explanation)) {
        return Error::invalid(kExplanationControls);
    }
    for (const ComputerStep& step : steps) {
        if (Result<void> checked = checkStep(step); !checked) {
            return checked.error();
        }
    }
    return *this;
}

QJsonObject ComputerPlan::toJson() const {
    QJsonArray array;
    for (const ComputerStep& step : steps) {
        array.append(step.toJson());
    }
    return QJsonObject{{QStringLiteral("explanation"), explanation},
                       {QStringLiteral("steps"), array}};
}

QByteArray ComputerPlan::encode() const {
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
}

Result<ComputerPlan> ComputerPlan::fromJson(const QJsonValue& value) {
    try {
        return decodePlan(value);
    } catch (const DecodeError& error) {
        return Error::invalid(error.description);
    }
}

Result<ComputerPlan> ComputerPlan::decode(const QByteArray& data) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        return Error::invalid(QStringLiteral("The plan is not valid JSON (%1 at byte %2).")
                                  .arg(parseError.errorString())
                                  .arg(parseError.offset));
    }
    if (!document.isObject()) {
        return Error::invalid(QStringLiteral("The plan is not a JSON object."));
    }
    return fromJson(document.object());
}
