// velk-replay --rows R --cols C [--chunk N] [--plain | --dump] FILE
// velk-replay --state ASSISTANT [--rows R --cols C] [--chunk N] FILE
//
// Feeds a byte file (for example a recording of a real program's output) into a terminal
// screen in chunks of N bytes and prints the visible rows with trailing blanks trimmed, or
// with --plain the whole plain text, or with --dump a JSON description of the screen.
//
// With --state it prints the attention the recording ends in (working, needs input, idle,
// waiting, ... or unknown) and, on standard error, the evidence: ASSISTANT is a built-in
// assistant's id or a pattern file (*.json) being written. The size defaults to the one in
// the file's name ("-24x80.") or 24 x 80.
#include "core/attention/AttentionReplay.h"
#include "core/terminal/TerminalScreen.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QString>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace {

int usage(const char* message) {
    std::fprintf(stderr, "velk-replay: %s\n", message);
    std::fprintf(stderr,
                 "usage: velk-replay --rows R --cols C [--chunk N] [--plain | --dump] FILE\n"
                 "       velk-replay --state ASSISTANT [--rows R --cols C] [--chunk N] FILE\n");
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

int printState(const QString& assistant, const QByteArray& bytes, int rows, int columns,
               int chunk) {
    AttentionPatterns patterns = AttentionPatterns::forAssistant(assistant);
    if (assistant.endsWith(QStringLiteral(".json"))) {
        QFile file(assistant);
        QString error;
        std::optional<AttentionPatterns> parsed;
        if (!file.open(QIODevice::ReadOnly) ||
            !(parsed = AttentionPatterns::parse(file.readAll(), &error))) {
            std::fprintf(stderr, "velk-replay: %s: %s\n", qPrintable(assistant),
                         qPrintable(error.isEmpty() ? file.errorString() : error));
            return 1;
        }
        patterns = *parsed;
    }
    const AttentionTracker tracker = replayAttention(bytes, rows, columns, patterns, chunk);
    const Attention state = tracker.state();
    std::printf("%s\n",
                state == Attention::Starting ? "unknown" : qPrintable(attentionWord(state)));
    std::fprintf(stderr, "%s%s\n", qPrintable(tracker.evidence()),
                 patterns.known() ? "" : " (no patterns for this assistant)");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<int> rows;
    std::optional<int> columns;
    int chunk = 65536;
    enum class Output { Rows, Plain, Dump } output = Output::Rows;
    const char* path = nullptr;
    std::optional<QString> stateOf;
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
        } else if (argument == "--state" && hasValue) {
            stateOf = QString::fromLocal8Bit(argv[++i]);
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
    if (stateOf && path && !rows && !columns) {
        const QRegularExpressionMatch size = QRegularExpression(QStringLiteral("-(\\d+)x(\\d+)\\."))
                                                 .match(QString::fromLocal8Bit(path));
        rows = size.hasMatch() ? size.captured(1).toInt() : 24;
        columns = size.hasMatch() ? size.captured(2).toInt() : 80;
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
    if (stateOf) {
        return printState(*stateOf, bytes, *rows, *columns, chunk);
    }

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
