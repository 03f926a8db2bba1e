#include "PtyTestSupport.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace pty_testing {

namespace {

// Fields of /proc/<pid>/stat after the command name: state, parent pid.
bool readStat(int pid, char& state, int& parent) {
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray stat = file.readAll();
    const qsizetype nameEnd = stat.lastIndexOf(')');
    if (nameEnd < 0) {
        return false;
    }
    const QList<QByteArray> fields = stat.mid(nameEnd + 2).split(' ');
    if (fields.size() < 2 || fields[0].isEmpty()) {
        return false;
    }
    state = fields[0][0];
    parent = fields[1].toInt();
    return true;
}

template <typename Predicate>
std::set<int> childrenWhere(Predicate predicate) {
    std::set<int> found;
    const int self = int(::getpid());
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool isNumber = false;
        const int pid = entry.toInt(&isNumber);
        char state = 0;
        int parent = 0;
        if (isNumber && readStat(pid, state, parent) && parent == self && predicate(state)) {
            found.insert(pid);
        }
    }
    return found;
}

}  // namespace

std::set<int> openDescriptors() {
    std::set<int> descriptors;
    const QStringList entries =
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System);
    for (const QString& entry : entries) {
        bool isNumber = false;
        const int descriptor = entry.toInt(&isNumber);
        if (isNumber) {
            descriptors.insert(descriptor);
        }
    }
    return descriptors;
}

std::set<int> zombieChildren() {
    return childrenWhere([](char state) { return state == 'Z'; });
}

std::set<int> children() {
    return childrenWhere([](char) { return true; });
}

bool processAlive(int pid) {
    char state = 0;
    int parent = 0;
    return readStat(pid, state, parent) && state != 'Z' && state != 'X';
}

int numberAfter(const QByteArray& text, const QByteArray& prefix) {
    const qsizetype start = text.indexOf(prefix);
    if (start < 0) {
        return -1;
    }
    qsizetype end = start + prefix.size();
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') {
        ++end;
    }
    bool ok = false;
    const int value = text.mid(start + prefix.size(), end - start - prefix.size()).toInt(&ok);
    return ok ? value : -1;
}

}  // namespace pty_testing
