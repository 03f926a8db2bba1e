// velk-plan validate FILE
//
// Decodes and validates a desktop action plan exactly as the planner does when the
// assistant's answer arrives. Prints "ok" and exits 0 for a usable plan; otherwise prints the
// message the user would see (a decoding error or the validation message) and exits 1.
// Usage errors and unreadable files exit 2.
#include "core/actions/ComputerPlan.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

namespace {

void printLine(FILE* stream, const QString& text) {
    std::fputs((text + u'\n').toUtf8().constData(), stream);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 3 || arguments.at(1) != u"validate") {
        printLine(stderr, QStringLiteral("usage: velk-plan validate FILE"));
        return 2;
    }
    QFile file(arguments.at(2));
    if (!file.open(QIODevice::ReadOnly)) {
        printLine(stderr,
                  QStringLiteral("velk-plan: %1: %2").arg(file.fileName(), file.errorString()));
        return 2;
    }
    Result<ComputerPlan> result = ComputerPlan::decode(file.readAll());
    if (result) {
        result = result->validated();
    }
    if (!result) {
        printLine(stdout, result.error().message);
        return 1;
    }
    printLine(stdout, QStringLiteral("ok"));
    return 0;
}
