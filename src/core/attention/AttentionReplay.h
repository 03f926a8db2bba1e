#pragma once

#include "core/attention/AttentionTracker.h"

#include <QByteArray>

/// Feeds a recording of a program's output into a screen of `rows` × `columns` in chunks of
/// `chunk` bytes, and its title changes, notifications and bells into a tracker with
/// `patterns`, as one burst (recordings carry no timing) followed by quiet long enough for
/// every quiet rule; returns the tracker as it ends.
AttentionTracker replayAttention(const QByteArray& recording, int rows, int columns,
                                 const AttentionPatterns& patterns, qsizetype chunk = 65536);
