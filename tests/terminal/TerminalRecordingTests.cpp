// Golden replays: bytes real programs wrote (vim, less, htop, nano, mc, dialog, whiptail,
// man, zsh, ls, git, ncdu, a curses demo, assistant-like output), recorded in tmux by
// tools/record-terminal-programs.sh together with tmux's screen at the same moment. The
// screen must show the same text as tmux, however the bytes are chunked.
#include "terminal/TerminalScreen.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace {

QString recordingFolder() {
    return QStringLiteral(VELK_SOURCE_DIR "/tests/terminal/recordings");
}

std::vector<std::string> recordingNames() {
    std::vector<std::string> names;
    const QStringList files =
        QDir(recordingFolder()).entryList({QStringLiteral("*.bytes")}, QDir::Files, QDir::Name);
    for (const QString& file : files) {
        names.push_back(file.chopped(6).toStdString());
    }
    return names;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList visibleRows(const TerminalScreen& screen) {
    QStringList rows;
    for (int row = 0; row < screen.rows(); ++row) {
        QString text;
        for (int column = 0; column < screen.columns(); ++column) {
            text += screen.cellText(row, column);
        }
        while (!text.isEmpty() && text.back().isSpace()) {
            text.chop(1);
        }
        rows.append(text);
    }
    return rows;
}

class TerminalRecording : public ::testing::TestWithParam<std::string> {};

TEST_P(TerminalRecording, showsTheSameScreenAsTmux) {
    const QString name = QString::fromStdString(GetParam());
    const auto size = QRegularExpression(QStringLiteral("-(\\d+)x(\\d+)$")).match(name);
    ASSERT_TRUE(size.hasMatch()) << "recording names end in -ROWSxCOLUMNS: " << qPrintable(name);
    const QByteArray bytes = readAll(recordingFolder() + QLatin1Char('/') + name + ".bytes");
    ASSERT_FALSE(bytes.isEmpty());
    QStringList expected =
        QString::fromUtf8(readAll(recordingFolder() + QLatin1Char('/') + name + ".tmux.txt"))
            .split(QLatin1Char('\n'));
    if (!expected.isEmpty() && expected.last().isEmpty()) {
        expected.removeLast();
    }

    for (const qsizetype chunk : {qsizetype(65536), qsizetype(7), qsizetype(1)}) {
        TerminalScreen screen(size.captured(1).toInt(), size.captured(2).toInt());
        for (qsizetype offset = 0; offset < bytes.size(); offset += chunk) {
            screen.feed(
                QByteArrayView(bytes.constData() + offset, std::min(chunk, bytes.size() - offset)));
        }
        EXPECT_EQ(visibleRows(screen).join(QLatin1Char('\n')), expected.join(QLatin1Char('\n')))
            << qPrintable(name) << " fed in chunks of " << chunk;
    }
}

INSTANTIATE_TEST_SUITE_P(Programs, TerminalRecording, ::testing::ValuesIn(recordingNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             for (char& character : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(character))) {
                                     character = '_';
                                 }
                             }
                             return name;
                         });

}  // namespace
