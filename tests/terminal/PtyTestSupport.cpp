#include "PtyTestSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

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
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (stat.lastIndexOf(')') < 0 || fields.size() < 2 || fields[0].isEmpty()) {
        return false;
    }
    state = fields[0][0];
    parent = fields[1].toInt();
    return true;
}

// The numeric entries of a /proc folder.
std::set<int> numericEntries(const QString& folder) {
    std::set<int> numbers;
    for (const QString& entry : QDir(folder).entryList(QDir::AllEntries | QDir::System)) {
        bool isNumber = false;
        const int number = entry.toInt(&isNumber);
        if (isNumber) {
            numbers.insert(number);
        }
    }
    return numbers;
}

}  // namespace

std::set<int> children(bool zombiesOnly) {
    std::set<int> found;
    for (const int pid : numericEntries(QStringLiteral("/proc"))) {
        char state = 0;
        int parent = 0;
        if (readStat(pid, state, parent) && parent == int(::getpid()) &&
            (!zombiesOnly || state == 'Z')) {
            found.insert(pid);
        }
    }
    return found;
}

std::set<int> openDescriptors() {
    return numericEntries(QStringLiteral("/proc/self/fd"));
}

bool processAlive(int pid) {
    char state = 0;
    int parent = 0;
    return readStat(pid, state, parent) && state != 'Z' && state != 'X';
}

int numberAfter(const QByteArray& text, const QByteArray& prefix) {
    const QRegularExpression pattern(QRegularExpression::escape(QString::fromUtf8(prefix)) +
                                     QStringLiteral("(\\d+)"));
    const QRegularExpressionMatch match = pattern.match(QString::fromUtf8(text));
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

}  // namespace pty_testing
