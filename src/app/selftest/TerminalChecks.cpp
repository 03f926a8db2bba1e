#include "app/selftest/SelfTest.h"

#include "core/assistants/Provider.h"

#include "core/terminal/TerminalScreen.h"
#include "core/terminal/TerminalSession.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>

namespace {

// ==== Screen checks: the terminal screen and its escape-sequence interpreter =====================

// The capability `name` of xterm-256color with its parameters, as ncurses' tput prints it.
std::optional<QByteArray> terminfoString(const QStringList& arguments) {
    const QString tput = QStandardPaths::findExecutable(QStringLiteral("tput"));
    if (tput.isEmpty()) {
        return std::nullopt;
    }
    QProcess process;
    process.start(tput,
                  QStringList{QStringLiteral("-T"), QStringLiteral("xterm-256color")} + arguments);
    if (!process.waitForFinished(5000) || process.exitStatus() != QProcess::NormalExit) {
        return std::nullopt;
    }
    return process.readAllStandardOutput();
}

SelfTestResult screenUnderstandsTerminfoSequences(SelfTestContext&) {
    const QList<QStringList> capabilities = {
        {QStringLiteral("clear")},
        {QStringLiteral("smacs")},
        {QStringLiteral("rmacs")},
        {QStringLiteral("setaf"), QStringLiteral("1")},
        {QStringLiteral("sgr0")},
        {QStringLiteral("cup"), QStringLiteral("2"), QStringLiteral("3")},
        {QStringLiteral("rep"), QStringLiteral("61"), QStringLiteral("5")},
        {QStringLiteral("smcup")},
        {QStringLiteral("rmcup")},
    };
    QHash<QString, QByteArray> sequences;
    for (const QStringList& capability : capabilities) {
        const std::optional<QByteArray> sequence = terminfoString(capability);
        if (!sequence) {
            return QStringLiteral("tput could not give %1 for xterm-256color")
                .arg(capability.join(QLatin1Char(' ')));
        }
        sequences.insert(capability.first(), *sequence);
    }
    TerminalScreen screen(6, 30);
    screen.feed(QByteArrayView(
        sequences[QStringLiteral("clear")] + sequences[QStringLiteral("smacs")] + "lqqk" +
        sequences[QStringLiteral("rmacs")] + sequences[QStringLiteral("setaf")] + "red" +
        sequences[QStringLiteral("sgr0")] + " \xe2\x9c\x85|" + sequences[QStringLiteral("cup")] +
        sequences[QStringLiteral("rep")]));
    if (screen.rowText(0) != QString::fromUtf8("\xe2\x94\x8c\xe2\x94\x80\xe2\x94\x80\xe2\x94\x90"
                                               "red \xe2\x9c\x85|")) {
        return QStringLiteral("line drawing, colour and a wide emoji gave \"%1\"")
            .arg(screen.rowText(0));
    }
    if (!screen.cell(0, 4).foreground || screen.cell(0, 7).foreground) {
        return QStringLiteral("the red text or the reset after it was not applied");
    }
    if (screen.rowText(2) != QStringLiteral("   =====")) {
        return QStringLiteral("cursor position and repeat gave \"%1\"").arg(screen.rowText(2));
    }
    screen.feed(QByteArrayView(sequences[QStringLiteral("smcup")] + "full-screen program"));
    screen.feed(QByteArrayView(sequences[QStringLiteral("rmcup")]));
    if (screen.rowText(2) != QStringLiteral("   =====") || screen.alternateScreenActive()) {
        return QStringLiteral("leaving the alternate screen did not restore the main one");
    }
    return std::nullopt;
}

SelfTestResult screenAnswersQueriesAndIgnoresKeyboardProtocol(SelfTestContext&) {
    TerminalScreen screen(24, 80);
    QStringList replies;
    screen.setOnResponse([&replies](const QString& reply) { replies.append(reply); });
    // As an assistant does on start and exit: keyboard protocol push, query, pop and
    // modifyOtherKeys around a status query; the pop must not restore a saved cursor.
    screen.feed(
        QByteArrayView("\x1b[3;1H\x1b[s\x1b[10;5Hout\x1b[>7u\x1b[?u\x1b[>4;1m\x1b[6n"
                       "\x1b[<u\x1b[c\x1b[5n"));
    // Of the keyboard flags pushed (7), only disambiguation (1) is kept, and the query says so.
    const QStringList expected = {QStringLiteral("\x1b[?1u"), QStringLiteral("\x1b[10;8R"),
                                  QStringLiteral("\x1b[?1;2c"), QStringLiteral("\x1b[0n")};
    if (replies != expected) {
        return QStringLiteral("the replies were %1")
            .arg(replies.join(QLatin1Char(',')).toHtmlEscaped());
    }
    if (screen.row() != 9 || screen.column() != 7 || screen.cell(9, 4).bold) {
        return QStringLiteral("a keyboard-protocol sequence moved the cursor or changed the style");
    }
    return std::nullopt;
}

SelfTestResult screenKeepsHistoryAndInvariantsUnderRandomOutput(SelfTestContext&) {
    TerminalScreen screen(24, 80);
    // 500 lines more than the limit: the first 477 leave the scrollback, 23 stay on the grid.
    const int lines = TerminalScreen::kScrollbackLimit + 500;
    for (int line = 1; line <= lines; ++line) {
        screen.feed(QByteArrayView(QByteArray("line ") + QByteArray::number(line) + "\r\n"));
    }
    if (screen.scrollbackSize() != TerminalScreen::kScrollbackLimit) {
        return QStringLiteral("the scrollback holds %1 lines").arg(screen.scrollbackSize());
    }
    if (!screen.plainText().startsWith(QStringLiteral("line 478\nline 479\n"))) {
        return QStringLiteral("the oldest lines kept are not the newest %1")
            .arg(TerminalScreen::kScrollbackLimit);
    }
    // A lower limit set at run time drops the oldest lines at once.
    screen.setScrollbackLimit(500);
    if (screen.scrollbackSize() != 500 ||
        !screen.plainText().startsWith(QStringLiteral("line %1\n").arg(lines - 522))) {
        return QStringLiteral("a scrollback limit of 500 kept %1 lines")
            .arg(screen.scrollbackSize());
    }
    // Random bytes, leaning on escape characters, in random chunks with random resizes.
    QRandomGenerator random(20261206);
    for (int round = 0; round < 400; ++round) {
        QByteArray chunk(int(random.bounded(1, 2048)), Qt::Uninitialized);
        for (char& byte : chunk) {
            const quint32 pick = random.bounded(16u);
            byte = pick == 0   ? '\x1b'
                   : pick == 1 ? '['
                   : pick < 4  ? char('0' + random.bounded(10))
                               : char(random.bounded(256u));
        }
        screen.feed(QByteArrayView(chunk));
        if (round % 37 == 0) {
            screen.resize(int(random.bounded(1, 70)), int(random.bounded(1, 220)));
        }
        if (const QString violation = screen.invariantViolation(); !violation.isEmpty()) {
            return QStringLiteral("after random output round %1: %2").arg(round).arg(violation);
        }
    }
    return std::nullopt;
}

std::vector<SelfTestCheck> screenChecks() {
    return {
        {QStringLiteral("terminal screen understands xterm-256color's own sequences"),
         screenUnderstandsTerminfoSequences},
        {QStringLiteral("terminal screen answers queries, the keyboard protocol's among them"),
         screenAnswersQueriesAndIgnoresKeyboardProtocol},
        {QStringLiteral("terminal screen keeps 2000 lines of history and its invariants"),
         screenKeepsHistoryAndInvariantsUnderRandomOutput},
    };
}

// ==== Session checks: real children through /bin/zsh on a pseudo-terminal ======================

struct SessionOutcome {
    std::optional<int> exitCode;
    QString text;
    int finishes = 0;
};

// Runs `command` in a session in a scratch folder; `input` is sent right after the start.
// Returns nothing when the session did not finish within a few seconds.
std::optional<SessionOutcome> runSession(SelfTestContext& context, const QString& command,
                                         const QString& input = {}) {
    const QString folder = context.outputFolder + QStringLiteral("/terminal-session");
    QDir().mkpath(folder);
    auto session = TerminalSession::create(QStringLiteral("shell"), QStringLiteral("Self-test"),
                                           command, shellSpawnRequest(command, folder));
    auto finishes = std::make_shared<int>(0);
    session->setOnFinish([finishes](TerminalSession&) { ++*finishes; });
    session->start();
    if (!input.isEmpty()) {
        session->send(input);
    }
    if (!selfTestWaitUntil([&] { return *finishes > 0; }, 10000)) {
        session->stop();
        return std::nullopt;
    }
    selfTestWaitUntil([] { return false; }, 50);  // a second finish would show up here
    return SessionOutcome{session->exitCode(), session->screen().plainText(), *finishes};
}

SelfTestResult sessionShowsItsOutput(SelfTestContext& context) {
    const auto outcome = runSession(context, QStringLiteral("print -r -- VELK_SELF_TEST_MARKER"));
    if (!outcome) {
        return QStringLiteral("the session printing a marker did not finish");
    }
    if (!outcome->text.contains(QStringLiteral("VELK_SELF_TEST_MARKER"))) {
        return QStringLiteral("the marker is missing from the screen: \"%1\"").arg(outcome->text);
    }
    if (outcome->exitCode != 0 || outcome->finishes != 1) {
        return QStringLiteral("exit code %1 after %2 finish calls")
            .arg(outcome->exitCode.value_or(-2))
            .arg(outcome->finishes);
    }
    return std::nullopt;
}

SelfTestResult sessionReportsTheExitCode(SelfTestContext& context) {
    const auto outcome = runSession(context, QStringLiteral("exit 7"));
    if (!outcome) {
        return QStringLiteral("the session running \"exit 7\" did not finish");
    }
    if (outcome->exitCode != 7) {
        return QStringLiteral("\"exit 7\" ended with %1").arg(outcome->exitCode.value_or(-2));
    }
    return std::nullopt;
}

SelfTestResult sessionRoundTripsInput(SelfTestContext& context) {
    const auto outcome =
        runSession(context, QStringLiteral("read line; print -r -- \"INPUT:$line\""),
                   QStringLiteral("hello\r"));
    if (!outcome) {
        return QStringLiteral("the session reading a line did not finish");
    }
    if (!outcome->text.contains(QStringLiteral("INPUT:hello")) || outcome->exitCode != 0) {
        return QStringLiteral("the line sent did not come back: \"%1\"").arg(outcome->text);
    }
    return std::nullopt;
}

std::vector<SelfTestCheck> sessionChecks() {
    return {
        {QStringLiteral("terminal session shows its command's output"), sessionShowsItsOutput},
        {QStringLiteral("terminal session reports the exit code"), sessionReportsTheExitCode},
        {QStringLiteral("terminal session sends input to its command"), sessionRoundTripsInput},
    };
}

}  // namespace

std::vector<SelfTestCheck> terminalChecks() {
    std::vector<SelfTestCheck> checks = screenChecks();
    for (SelfTestCheck& check : sessionChecks()) {
        checks.push_back(std::move(check));
    }
    return checks;
}
