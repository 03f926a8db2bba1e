#pragma once

#include "core/files/FileEntry.h"

#include <QList>
#include <QString>

// The order of the file browser, as a file manager sorts: folders first, then names
// compared case-insensitively with runs of digits compared by value ("file2" before
// "file10").
namespace FileOrder {

// Negative, zero or positive as `a` sorts before, with or after `b`.
int compareNames(const QString& a, const QString& b);
bool lessThan(const FileEntry& a, const FileEntry& b);
// Sorts `entries` in the order of lessThan, taking each entry's name from its path once
// rather than once per comparison.
void sort(QList<FileEntry>& entries);

}  // namespace FileOrder
