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
