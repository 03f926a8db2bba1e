#pragma once

#include <QString>

// Preference keys of the workspace model: plain words without a prefix.
namespace PreferenceKeys {
inline const QString workspace = QStringLiteral("workspace");
inline const QString recentFolders = QStringLiteral("recentFolders");
inline const QString providers = QStringLiteral("providers");
inline const QString history = QStringLiteral("history");
inline const QString keepAwake = QStringLiteral("keepAwake");
inline const QString attentionNotifications = QStringLiteral("attentionNotifications");
inline const QString stalledAfterSeconds = QStringLiteral("stalledAfterSeconds");
inline const QString programClipboard = QStringLiteral("programClipboard");
inline const QString askBeforeMultilinePaste = QStringLiteral("askBeforeMultilinePaste");
inline const QString scrollbackLines = QStringLiteral("scrollbackLines");
inline const QString reviewSideBySide = QStringLiteral("reviewSideBySide");
inline const QString reviewWrapping = QStringLiteral("reviewWrapping");
inline const QString restoreSessionsAutomatically = QStringLiteral("restoreSessionsAutomatically");
inline const QString teamRunSettings = QStringLiteral("teamRunSettings");
inline const QString largeProjects = QStringLiteral("largeProjects");
}  // namespace PreferenceKeys
