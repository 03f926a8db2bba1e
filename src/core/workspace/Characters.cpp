#include "core/workspace/Characters.h"

#include <QTextBoundaryFinder>

namespace Characters {

QString first(const QString& text, int count) {
    if (count <= 0) {
        return {};
    }
    if (text.size() <= count) {
        // Every character takes at least one code unit: the whole text fits.
        return text;
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.toStart();
    for (int taken = 0; taken < count; ++taken) {
        if (finder.toNextBoundary() < 0) {
            return text;
        }
    }
    return text.left(finder.position());
}

QString last(const QString& text, int count) {
    if (count <= 0) {
        return {};
    }
    if (text.size() <= count) {
        // Fewer code units than wanted characters: the whole text fits.
        return text;
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.toEnd();
    for (int taken = 0; taken < count; ++taken) {
        if (finder.toPreviousBoundary() <= 0) {
            return text;
        }
    }
    return text.mid(finder.position());
}

}  // namespace Characters
