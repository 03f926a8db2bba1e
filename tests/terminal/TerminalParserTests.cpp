// The byte- and scalar-level state machine on its own, with a handler that writes down what
// it was given.
#include "terminal/TerminalParser.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

class RecordingHandler : public TerminalParserHandler {
public:
    QStringList events;

    void printAscii(const char* text, std::size_t length) override {
        // Runs may arrive in pieces; join neighbouring text so chunking does not show.
        appendText(QString::fromLatin1(text, qsizetype(length)));
    }
    void print(const char32_t* scalars, std::size_t count) override {
        appendText(QString::fromUcs4(scalars, qsizetype(count)));
    }
    void control(char32_t character) override {
        events.append(QStringLiteral("control %1").arg(int(character)));
    }
    void escape(char32_t intermediate, char32_t finalCharacter) override {
        events.append(QStringLiteral("escape %1%2")
                          .arg(intermediate ? QString(QChar(char16_t(intermediate))) : QString())
                          .arg(QChar(char16_t(finalCharacter))));
    }
    void controlSequence(const TerminalControlSequence& sequence) override {
        QString values;
        for (int i = 0; i < sequence.parameterCount; ++i) {
            values += QStringLiteral(" %1").arg(sequence.parameterValues[i]);
        }
        events.append(
            QStringLiteral("csi marker=%1 text=%2%3%4 final=%5")
                .arg(sequence.marker ? QString(QLatin1Char(sequence.marker)) : QString())
                .arg(QString::fromLatin1(sequence.parameters.data(),
                                         qsizetype(sequence.parameters.size())))
                .arg(sequence.hasIntermediates ? QStringLiteral(" intermediates") : QString())
                .arg(values.isEmpty() ? QString() : QStringLiteral(" values") + values)
                .arg(QLatin1Char(sequence.finalCharacter)));
    }

private:
    void appendText(const QString& text) {
        if (!events.isEmpty() && events.last().startsWith(QLatin1String("text "))) {
            events.last() += text;
        } else {
            events.append(QStringLiteral("text ") + text);
        }
    }
};

// Feeds the bytes whole, then cut at every position, and expects the same events each time.
QStringList eventsFor(const QByteArray& bytes) {
    RecordingHandler whole;
    TerminalParser(whole).feed(QByteArrayView(bytes));
    for (qsizetype cut = 1; cut < bytes.size(); ++cut) {
        RecordingHandler split;
        TerminalParser parser(split);
        parser.feed(QByteArrayView(bytes.constData(), cut));
        parser.feed(QByteArrayView(bytes.constData() + cut, bytes.size() - cut));
        EXPECT_EQ(split.events, whole.events) << "cut at " << cut;
    }
    RecordingHandler byteByByte;
    TerminalParser parser(byteByByte);
    for (const char byte : bytes) {
        parser.feed(QByteArrayView(&byte, 1));
    }
    EXPECT_EQ(byteByByte.events, whole.events) << "byte by byte";
    return whole.events;
}

TEST(TerminalParser, aCharacterSplitAcrossTwoWritesIsStillOneCharacter) {
    EXPECT_EQ(eventsFor("a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80z"),
              QStringList{QString::fromUtf8("text a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80z")});
}

TEST(TerminalParser, eachInvalidSubpartBecomesOneReplacementCharacter) {
    // Overlong forms, surrogates, bytes that can never appear, truncated sequences.
    EXPECT_EQ(eventsFor("\xc0\xaf|\xe0\x80\xaf|\xed\xa0\x80|\xf5|\xf4\x90|\xe4\xb8|\x80\xbf"),
              QStringList{QString::fromUtf8(
                  "text \xef\xbf\xbd\xef\xbf\xbd|\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd|"
                  "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd|\xef\xbf\xbd|\xef\xbf\xbd\xef\xbf\xbd|"
                  "\xef\xbf\xbd|\xef\xbf\xbd\xef\xbf\xbd")});
    // Valid characters packed tight around broken ones, so that runs of whole characters
    // end and resume at every kind of fault.
    EXPECT_EQ(eventsFor("\xc3\xa9\xe4\xb8\xc3\xa9\xf0\x9f\x98\xc3\xa9\xed\xa0\x80\xe4\xb8\xad"),
              QStringList{QString::fromUtf8("text \xc3\xa9\xef\xbf\xbd\xc3\xa9\xef\xbf\xbd\xc3\xa9"
                                            "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xe4\xb8\xad")});
}

TEST(TerminalParser, anIncompleteTailWaitsForTheNextChunk) {
    RecordingHandler handler;
    TerminalParser parser(handler);
    parser.feed(QByteArrayView("x\xf0\x9f"));
    EXPECT_EQ(parser.pendingUtf8Bytes(), 2);
    EXPECT_EQ(handler.events, QStringList{QStringLiteral("text x")});
    // Decoded text in between does not disturb the waiting bytes.
    parser.feed(QStringView(u"y"));
    parser.feed(QByteArrayView("\x98\x80"));
    EXPECT_EQ(parser.pendingUtf8Bytes(), 0);
    EXPECT_EQ(handler.events, QStringList{QString::fromUtf8("text xy\xf0\x9f\x98\x80")});
}

TEST(TerminalParser, controlSequencesCarryTheirMarkerAndReadValues) {
    EXPECT_EQ(eventsFor("\x1b[?1049h\x1b[38;5;1000000000m\x1b[;7H\x1b[>4;1m\x1b[2 q\x1b[1:2m"),
              (QStringList{
                  QStringLiteral("csi marker=? text=1049 values 1049 final=h"),
                  QStringLiteral("csi marker= text=38;5;1000000000 values 38 5 1000000 final=m"),
                  QStringLiteral("csi marker= text=;7 values 0 7 final=H"),
                  QStringLiteral("csi marker=> text=4;1 values 4 1 final=m"),
                  QStringLiteral("csi marker= text=2  intermediates final=q"),
                  QStringLiteral("csi marker= text=1:2 final=m"),
              }));
}

TEST(TerminalParser, controlsInsideAControlSequenceBelongToIt) {
    // Only a final character (0x40-0x7E) ends the sequence; this one ends at "[" of the
    // second escape and what follows is text.
    const QStringList events = eventsFor("\x1b[1\n\x1b[2mx");
    ASSERT_EQ(events.size(), 2);
    EXPECT_TRUE(events[0].endsWith(QLatin1String("final=[")));
    EXPECT_EQ(events[1], QStringLiteral("text 2mx"));
}

TEST(TerminalParser, anOverlongSequenceIsAbandonedAndTheRestIsText) {
    const QByteArray parameters(600, '7');
    RecordingHandler handler;
    TerminalParser parser(handler);
    parser.feed(QByteArrayView("\x1b[" + parameters + "m"));
    // 512 collected, the 513th dropped, 87 digits and the final shown.
    EXPECT_EQ(handler.events, QStringList{QStringLiteral("text ") + QString(87, QLatin1Char('7')) +
                                          QStringLiteral("m")});
    EXPECT_EQ(parser.state(), TerminalParser::State::Ground);
}

TEST(TerminalParser, stringsAreSwallowedUntilTheirTerminator) {
    EXPECT_EQ(eventsFor("a\x1b]0;t\x1b[itle\x07"
                        "b\x1bPq#0\x1b\\c\x1b_x\x1bxy\x1b\\d"),
              QStringList{QStringLiteral("text abcd")});
    RecordingHandler handler;
    TerminalParser parser(handler);
    parser.feed(QByteArrayView("\x1b]never ended\r\nline"));
    EXPECT_EQ(parser.state(), TerminalParser::State::String);
    EXPECT_TRUE(handler.events.isEmpty());
}

TEST(TerminalParser, escapesWithIntermediatesTakeOneMoreCharacter) {
    EXPECT_EQ(eventsFor("\x1b(0\x1b#8\x1b\x1b"
                        "7\x1b"
                        "c"),
              (QStringList{QStringLiteral("escape (0"), QStringLiteral("escape #8"),
                           QStringLiteral("text 7"), QStringLiteral("escape c")}));
}

TEST(TerminalParser, controlCharactersReachTheHandlerInGroundState) {
    EXPECT_EQ(eventsFor("a\r\n\x7f\x07"),
              (QStringList{QStringLiteral("text a"), QStringLiteral("control 13"),
                           QStringLiteral("control 10"), QStringLiteral("control 127"),
                           QStringLiteral("control 7")}));
}

}  // namespace
