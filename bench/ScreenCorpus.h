#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// Deterministic byte streams that stand for the kinds of output a terminal screen sees.
struct ScreenCorpus {
    QString name;
    QByteArray bytes;
};

// Builds every corpus with about `size` bytes each, the same bytes for the same size.
std::vector<ScreenCorpus> buildScreenCorpora(qsizetype size);

// Hostile floods of one costly sequence, `size` bytes each (the last repeat cut short):
// "rep-flood", a character and a REP of a screenful (`a ESC[1000000b`), so every 11 bytes
// rewrite the whole screen; "ed-flood", erase-display (`ESC[2J`) over and over.
std::vector<ScreenCorpus> buildFloodCorpora(qsizetype size);
