// Golden replays: bytes real programs wrote (vim, less, htop, nano, mc, dialog, whiptail,
// man, zsh, ls, git, ncdu, a curses demo, assistant-like output, and the first screens of
// Claude Code, Codex and Gemini CLI), recorded in tmux by tools/record-terminal-programs.sh
// together with tmux's screen at the same moment. However the bytes are chunked, the screen
// must show the same text as tmux and the same attributes in every cell tmux reports
// (NAME.tmux.attrs, format in the script): colour or default for text and background, bold,
// dim, italic, underline, inverse and strikethrough. NAME.tmux.title, where a program set one,
// keeps the window title it left (one line); the session must end with the same title.
#include "core/terminal/TerminalScreen.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>

namespace {

const QString kFolder = QStringLiteral(VELK_SOURCE_DIR "/tests/terminal/recordings/");

std::vector<std::string> recordingNames() {
    std::vector<std::string> names;
    for (const QString& file :
         QDir(kFolder).entryList({QStringLiteral("*.bytes")}, QDir::Files, QDir::Name)) {
        names.push_back(file.chopped(6).toStdString());
    }
    return names;
}

QString flagsOf(const TerminalCell& cell) {
    QString flags;
    const std::pair<bool, char> attributes[] = {
        {cell.foreground.has_value(), 'f'},
        {cell.background.has_value(), 'b'},
        {cell.bold, 'B'},
        {cell.dim, 'D'},
        {cell.italic, 'I'},
        {cell.underline != TerminalUnderline::None, 'U'},
        {cell.inverse, 'R'},
        {cell.strikethrough, 'S'},
    };
    for (const auto& [set, letter] : attributes) {
        if (set) {
            flags += QLatin1Char(letter);
        }
    }
    return flags.isEmpty() ? QStringLiteral("-") : flags;
}

// One line of an attrs file ("13*b 50*fbB") as the flags of each cell it covers.
QStringList expandRuns(const QString& line) {
    QStringList cells;
    for (const QString& run : line.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const qsizetype star = run.indexOf(QLatin1Char('*'));
        for (int i = run.left(star).toInt(); i > 0; --i) {
            cells.append(run.mid(star + 1));
        }
    }
    return cells;
}

QString joinRuns(const QStringList& cells) {
    QStringList runs;
    for (qsizetype i = 0; i < cells.size();) {
        qsizetype end = i;
        while (end < cells.size() && cells[end] == cells[i]) {
            ++end;
        }
        runs.append(QStringLiteral("%1*%2").arg(end - i).arg(cells[i]));
        i = end;
    }
    return runs.join(QLatin1Char(' '));
}

class TerminalRecording : public ::testing::TestWithParam<std::string> {};

TEST_P(TerminalRecording, showsTheSameScreenAsTmux) {
    const QString name = QString::fromStdString(GetParam());
    const auto size = QRegularExpression(QStringLiteral("-(\\d+)x(\\d+)$")).match(name);
    ASSERT_TRUE(size.hasMatch()) << "recording names end in -ROWSxCOLUMNS: " << qPrintable(name);
    const QByteArray bytes = testing_support::readFile(kFolder + name + ".bytes");
    ASSERT_FALSE(bytes.isEmpty());
    const QString expected =
        QString::fromUtf8(testing_support::readFile(kFolder + name + ".tmux.txt"));
    const QByteArray attributes = testing_support::readFile(kFolder + name + ".tmux.attrs");
    ASSERT_FALSE(attributes.isEmpty()) << "every recording keeps tmux's cell attributes";
    QString expectedTitle =
        QString::fromUtf8(testing_support::readFile(kFolder + name + ".tmux.title"));
    if (expectedTitle.endsWith(QLatin1Char('\n'))) {
        expectedTitle.chop(1);
    }
    std::vector<QStringList> expectedCells;
    for (const QString& line : QString::fromUtf8(attributes).split(QLatin1Char('\n'))) {
        expectedCells.push_back(expandRuns(line));
    }

    for (const qsizetype chunk : {qsizetype(65536), qsizetype(7), qsizetype(1)}) {
        TerminalScreen screen(size.captured(1).toInt(), size.captured(2).toInt());
        for (qsizetype offset = 0; offset < bytes.size(); offset += chunk) {
            screen.feed(
                QByteArrayView(bytes).sliced(offset, std::min(chunk, bytes.size() - offset)));
        }
        QStringList rows;
        for (int row = 0; row < screen.rows(); ++row) {
            rows.append(screen.rowText(row));
        }
        EXPECT_EQ((rows.join(QLatin1Char('\n')) + QLatin1Char('\n')).toStdString(),
                  expected.toStdString())
            << qPrintable(name) << " fed in chunks of " << chunk;
        EXPECT_EQ(screen.title().toStdString(), expectedTitle.toStdString())
            << qPrintable(name) << " fed in chunks of " << chunk;
        for (int row = 0; row < screen.rows() && std::size_t(row) < expectedCells.size(); ++row) {
            const QStringList& wanted = expectedCells[std::size_t(row)];
            QStringList shown;
            for (int column = 0; column < std::min(int(wanted.size()), screen.columns());
                 ++column) {
                shown.append(flagsOf(screen.cell(row, column)));
            }
            EXPECT_EQ(joinRuns(shown).toStdString(), joinRuns(wanted).toStdString())
                << qPrintable(name) << " row " << row << " fed in chunks of " << chunk;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Programs, TerminalRecording, ::testing::ValuesIn(recordingNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
