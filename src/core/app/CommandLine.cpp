#include "core/app/CommandLine.h"

#include <QDir>

#include <unistd.h>

namespace {
std::optional<QString> valueAfter(const QStringList& arguments, const QString& name) {
    const qsizetype index = arguments.indexOf(name);
    if (index < 0 || index + 1 >= arguments.size()) {
        return std::nullopt;
    }
    return arguments.at(index + 1);
}
}  // namespace

CommandLine CommandLine::parse(const QStringList& arguments) {
    // The program name is not an argument.
    const QStringList args = arguments.mid(1);
    CommandLine line;
    line.selfTest = args.contains(QStringLiteral("--self-test"));
    line.testOutput = valueAfter(args, QStringLiteral("--test-output"));
    line.captureRequested = args.contains(QStringLiteral("--capture"));
    line.captureFolder = valueAfter(args, QStringLiteral("--capture"));
    line.workspace = valueAfter(args, QStringLiteral("--workspace"));
    return line;
}

QString CommandLine::selfTestOutputFolder() const {
    if (testOutput) {
        return *testOutput;
    }
    // "VELK-tests-<user id>" inside the temporary folder. The name is appended as text to the
    // folder path with its trailing separator; QDir::tempPath() drops that separator, so it is
    // put back (else the result would be "/tmpVELK-tests" at the root of the file system,
    // which an ordinary user cannot create). The temporary folder is shared by every user
    // here, so the user id keeps one user's runs from blocking another's.
    return QDir::tempPath() + QStringLiteral("/VELK-tests-") + QString::number(getuid());
}
