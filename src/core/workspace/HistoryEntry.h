#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>

// A saved snapshot of a finished terminal session.
struct HistoryEntry {
    QString id;  // upper-case UUID text, new for every snapshot
    QString provider;
    QString title;
    QString directory;
    QDateTime started;
    int exitCode = -1;
    QString output;  // the last 60000 user-perceived characters of the screen text
    // The assistant's name when the session ended, and what the session last showed before
    // it ended ("Done", "Needs you", "Working"); empty in entries from before they were kept.
    QString assistant{};
    QString state{};

    bool operator==(const HistoryEntry&) const = default;

    QJsonObject toJson() const;
    static std::optional<HistoryEntry> fromJson(const QJsonValue& value);
    static QByteArray encodeList(const QList<HistoryEntry>& entries);
    static std::optional<QList<HistoryEntry>> decodeList(const QByteArray& data);
};
