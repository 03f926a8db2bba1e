#pragma once

#include <QString>

// Cuts texts by user-perceived characters (grapheme clusters), so an emoji, a flag or a
// letter with combining marks is never split.
namespace Characters {

// The first `count` characters of `text`, or the whole text when shorter.
QString first(const QString& text, int count);
// The last `count` characters of `text`, or the whole text when shorter.
QString last(const QString& text, int count);

}  // namespace Characters
