#include "app/CommandLine.h"

#include <QDir>

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
    // "VELK-tests" inside the temporary folder. The name is appended as text to the folder
    // path with its trailing separator; QDir::tempPath() drops that separator, so it is put
    // back. Without it the result would be a sibling such as "/tmpVELK-tests" at the root of
    // the file system, which an ordinary user cannot create.
    return QDir::tempPath() + QStringLiteral("/VELK-tests");
}
