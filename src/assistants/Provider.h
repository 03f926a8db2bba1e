#pragma once

#include <QByteArray>
#include <QColor>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

// Wraps a text in single quotes so the shell reads it as one literal word; every single
// quote inside becomes '\'' . Every prompt and executable path enters a command line only
// through this function.
QString shellQuote(const QString& text);

// One command-line tool the workspace can run in a terminal: a coding assistant, a profile
// of a compatible client, the login shell, or a connector the user added.
struct Provider {
    QString id;
    QString name;
    QString subtitle;
    QString icon;
    QString colorHex;
    QString executable;
    QString templateText;  // "template" in JSON; may contain the {prompt} placeholder
    QString documentation;

    bool operator==(const Provider&) const = default;

    // The built-in providers, in card order; the last one ("shell") is the fallback.
    static const QList<Provider>& defaults();

    QColor color() const;
    std::optional<QUrl> documentationURL() const;
    // Why the template could not safely receive a prompt; nothing when it can.
    std::optional<QString> templateError() const;
    bool receivesTasks() const;
    // The interactive command line with the prompt inserted as one quoted word.
    QString command(const QString& prompt) const;
    // The one-shot, non-interactive command line used for team runs.
    QString batchCommand(const QString& prompt) const;

    QJsonObject toJson() const;
    // Nothing when a key is missing or not a text.
    static std::optional<Provider> fromJson(const QJsonValue& value);
    // The stored list: a JSON array of provider objects. One bad object fails the list.
    static QByteArray encodeList(const QList<Provider>& providers);
    static std::optional<QList<Provider>> decodeList(const QByteArray& data);
};
