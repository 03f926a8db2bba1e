// Golden replays: bytes real programs wrote (vim, less, htop, nano, mc, dialog, whiptail,
// man, zsh, ls, git, ncdu, a curses demo, assistant-like output), recorded in tmux by
// tools/record-terminal-programs.sh together with tmux's screen at the same moment. The
// screen must show the same text as tmux, however the bytes are chunked.
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

class TerminalRecording : public ::testing::TestWithParam<std::string> {};

TEST_P(TerminalRecording, showsTheSameScreenAsTmux) {
    const QString name = QString::fromStdString(GetParam());
    const auto size = QRegularExpression(QStringLiteral("-(\\d+)x(\\d+)$")).match(name);
    ASSERT_TRUE(size.hasMatch()) << "recording names end in -ROWSxCOLUMNS: " << qPrintable(name);
    const QByteArray bytes = testing_support::readFile(kFolder + name + ".bytes");
    ASSERT_FALSE(bytes.isEmpty());
    const QString expected =
        QString::fromUtf8(testing_support::readFile(kFolder + name + ".tmux.txt"));

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
    }
}

INSTANTIATE_TEST_SUITE_P(Programs, TerminalRecording, ::testing::ValuesIn(recordingNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
