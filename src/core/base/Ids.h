#pragma once

#include <QDateTime>
#include <QString>
#include <QUuid>

// Identifiers are UUIDs, stored as upper-case 36-character text; stored dates are seconds
// since 2001-01-01 00:00:00 UTC.
namespace Ids {

inline QString text(const QUuid& id) {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

inline QString newText() {
    return text(QUuid::createUuid());
}

inline constexpr qint64 kReferenceEpochMSecs = 978307200000;  // 2001-01-01T00:00:00Z

inline double referenceSeconds(const QDateTime& time) {
    return double(time.toMSecsSinceEpoch() - kReferenceEpochMSecs) / 1000.0;
}

inline QDateTime fromReferenceSeconds(double seconds) {
    return QDateTime::fromMSecsSinceEpoch(kReferenceEpochMSecs + qint64(seconds * 1000.0),
                                          Qt::UTC);
}

}  // namespace Ids
