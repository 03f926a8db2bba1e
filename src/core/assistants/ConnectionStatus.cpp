#include "core/assistants/ConnectionStatus.h"

#include "core/assistants/LocalTools.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace ConnectionStatus {

QString codexLabel(const ToolResult& result) {
    const bool reportsLogin = result.output.contains(QLatin1String("Logged in")) ||
                              result.output.contains(QLatin1String("API key configured"));
    if (result.code == 0 && reportsLogin) {
        return signedIn;
    }
    return result.timedOut ? timedOut : signInNeeded;
}

QString claudeLabel(const ToolResult& result) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(result.output.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return unavailable;
    }
    const QJsonValue loggedIn = document.object().value(QLatin1String("loggedIn"));
    if (!loggedIn.isBool()) {
        return unavailable;
    }
    return loggedIn.toBool() ? signedIn : signInNeeded;
}

}  // namespace ConnectionStatus
