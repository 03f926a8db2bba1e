#include "core/files/FileOrder.h"

#include <QCollator>

#include <algorithm>
#include <vector>

namespace {

bool isDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Compares two runs of ASCII digits by value, however long they are.
int compareNumbers(QStringView a, QStringView b) {
    while (a.size() > 1 && a.front() == QLatin1Char('0')) {
        a = a.mid(1);
    }
    while (b.size() > 1 && b.front() == QLatin1Char('0')) {
        b = b.mid(1);
    }
    if (a.size() != b.size()) {
        return a.size() < b.size() ? -1 : 1;
    }
    return a.compare(b);
}

const QCollator& textCollator() {
    thread_local const QCollator collator = [] {
        QCollator c;
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    return collator;
}

}  // namespace

namespace FileOrder {

int compareNames(const QString& a, const QString& b) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digitA = isDigit(a[i]);
        const bool digitB = isDigit(b[j]);
        qsizetype endA = i;
        qsizetype endB = j;
        while (endA < a.size() && isDigit(a[endA]) == digitA) {
            ++endA;
        }
        while (endB < b.size() && isDigit(b[endB]) == digitB) {
            ++endB;
        }
        const QStringView runA = QStringView(a).mid(i, endA - i);
        const QStringView runB = QStringView(b).mid(j, endB - j);
        int result;
        if (digitA && digitB) {
            result = compareNumbers(runA, runB);
        } else {
            result = textCollator().compare(runA, runB);
        }
        if (result != 0) {
            return result;
        }
        i = endA;
        j = endB;
    }
    if (i < a.size() || j < b.size()) {
        return i < a.size() ? 1 : -1;
    }
    // Names equal by these rules ("A" and "a", "01" and "1") still need a fixed order.
    const int caseless = a.compare(b, Qt::CaseInsensitive);
    return caseless != 0 ? caseless : a.compare(b);
}

bool lessThan(const FileEntry& a, const FileEntry& b) {
    if (a.isDirectory != b.isDirectory) {
        return a.isDirectory;
    }
    return compareNames(a.name(), b.name()) < 0;
}

void sort(QList<FileEntry>& entries) {
    struct Key {
        bool isDirectory;
        QString name;
        qsizetype index;
    };
    std::vector<Key> keys;
    keys.reserve(size_t(entries.size()));
    for (qsizetype index = 0; index < entries.size(); ++index) {
        keys.push_back({entries[index].isDirectory, entries[index].name(), index});
    }
    std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
        if (a.isDirectory != b.isDirectory) {
            return a.isDirectory;
        }
        return compareNames(a.name, b.name) < 0;
    });
    QList<FileEntry> sorted;
    sorted.reserve(entries.size());
    for (const Key& key : keys) {
        sorted.append(std::move(entries[key.index]));
    }
    entries = std::move(sorted);
}

}  // namespace FileOrder
