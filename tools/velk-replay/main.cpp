// velk-replay --rows R --cols C [--chunk N] [--plain | --dump] FILE
//
// Feeds a byte file (for example a recording of a real program's output) into a terminal
// screen in chunks of N bytes and prints the visible rows with trailing blanks trimmed, or
// with --plain the whole plain text, or with --dump a JSON description of the screen.
#include "core/terminal/TerminalScreen.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace {

int usage(const char* message) {
    std::fprintf(stderr, "velk-replay: %s\n", message);
    std::fprintf(stderr,
                 "usage: velk-replay --rows R --cols C [--chunk N] [--plain | --dump] FILE\n");
    return 2;
}

std::optional<int> positiveNumber(const char* text) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 1 || value > 100000000) {
        return std::nullopt;
    }
    return int(value);
}

QString rowText(const TerminalScreen& screen, int row) {
    QString text;
    for (int column = 0; column < screen.columns(); ++column) {
        text += screen.cellText(row, column);
    }
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1).isSpace()) {
        --end;
    }
    text.truncate(end);
    return text;
}

QJsonObject dump(const TerminalScreen& screen) {
    QJsonArray lines;
    for (int row = 0; row < screen.rows(); ++row) {
        QJsonArray cells;
        for (const TerminalCell& cell : screen.line(row)) {
            cells.append(toJson(cell));
        }
        lines.append(cells);
    }
    return QJsonObject{
        {QStringLiteral("rows"), screen.rows()},
        {QStringLiteral("columns"), screen.columns()},
        {QStringLiteral("cursor"),
         QJsonObject{{QStringLiteral("row"), screen.row()},
                     {QStringLiteral("column"), screen.column()},
                     {QStringLiteral("visible"), screen.cursorVisible()},
                     {QStringLiteral("pendingWrap"), screen.pendingWrap()}}},
        {QStringLiteral("modes"),
         QJsonObject{{QStringLiteral("applicationCursor"), screen.applicationCursor()},
                     {QStringLiteral("bracketedPaste"), screen.bracketedPaste()},
                     {QStringLiteral("alternateScreen"), screen.alternateScreenActive()}}},
        {QStringLiteral("scrollTop"), screen.scrollTop()},
        {QStringLiteral("scrollBottom"), screen.scrollBottom()},
        {QStringLiteral("scrollbackLines"), screen.scrollbackSize()},
        {QStringLiteral("lines"), lines},
    };
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<int> rows;
    std::optional<int> columns;
    int chunk = 65536;
    enum class Output { Rows, Plain, Dump } output = Output::Rows;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--rows" && hasValue) {
            rows = positiveNumber(argv[++i]);
            if (!rows) {
                return usage("--rows needs a positive number");
            }
        } else if (argument == "--cols" && hasValue) {
            columns = positiveNumber(argv[++i]);
            if (!columns) {
                return usage("--cols needs a positive number");
            }
        } else if (argument == "--chunk" && hasValue) {
            const std::optional<int> value = positiveNumber(argv[++i]);
            if (!value) {
                return usage("--chunk needs a positive number");
            }
            chunk = *value;
        } else if (argument == "--plain" || argument == "--dump") {
            if (output != Output::Rows) {
                return usage("--plain and --dump exclude each other");
            }
            output = argument == "--plain" ? Output::Plain : Output::Dump;
        } else if (!argument.starts_with("--") && !path) {
            path = argv[i];
        } else {
            return usage(("unexpected argument " + argument).c_str());
        }
    }
    if (!rows || !columns || !path) {
        return usage("--rows, --cols and a file are required");
    }

    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "velk-replay: cannot read %s: %s\n", path,
                     qPrintable(file.errorString()));
        return 1;
    }
    const QByteArray bytes = file.readAll();

    TerminalScreen screen(*rows, *columns);
    for (qsizetype offset = 0; offset < bytes.size(); offset += chunk) {
        screen.feed(QByteArrayView(bytes.constData() + offset,
                                   std::min<qsizetype>(chunk, bytes.size() - offset)));
    }

    QByteArray result;
    switch (output) {
        case Output::Rows:
            for (int row = 0; row < screen.rows(); ++row) {
                result += rowText(screen, row).toUtf8();
                result += '\n';
            }
            break;
        case Output::Plain:
            result = screen.plainText().toUtf8();
            result += '\n';
            break;
        case Output::Dump:
            result = QJsonDocument(dump(screen)).toJson(QJsonDocument::Indented);
            break;
    }
    std::fwrite(result.constData(), 1, std::size_t(result.size()), stdout);
    return 0;
}
