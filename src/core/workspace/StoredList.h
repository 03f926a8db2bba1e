#pragma once

#include <QJsonValue>
#include <QString>

#include <functional>

class Preferences;

// The lists the workspace keeps under one preference key as a JSON array (the history, the
// connectors), read one entry at a time so that a damaged entry costs only itself.
//
// What cannot be read is set aside under "<key>.damaged" when it is found, before anything
// can be written over it: a JSON array (bytes) of objects, {"entry": <the entry as stored>}
// for an entry of the list and {"value": "<base64 of the stored bytes>"} for a whole value
// that is not a JSON array. Newer finds are appended; the oldest are dropped past
// kDamagedLimit finds or kDamagedBytes of JSON, and a find already there is not repeated.
namespace StoredList {

inline constexpr int kDamagedLimit = 50;
inline constexpr qsizetype kDamagedBytes = 16 * 1024 * 1024;

struct Reading {
    bool list = false;  // the key held a JSON array
    int taken = 0;      // entries used
    int damaged = 0;    // finds set aside (a whole value that is not a list counts once)
};

// Hands each entry of the list under `key` to `take`, which says whether it could use it.
// An absent or empty value reads as no list with nothing damaged.
Reading read(Preferences& preferences, const QString& key,
             const std::function<bool(const QJsonValue&)>& take);

QString damagedKey(const QString& key);

}  // namespace StoredList
