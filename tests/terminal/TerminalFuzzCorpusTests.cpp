#include "TerminalFuzzHarness.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>

TEST(TerminalFuzzCorpus, everyInputTheFuzzerKeptStillKeepsTheScreenInvariants) {
    const QDir corpus(QStringLiteral(VELK_TERMINAL_FUZZ_CORPUS));
    const QStringList names = corpus.entryList(QDir::Files, QDir::Name);
    ASSERT_FALSE(names.isEmpty()) << "no corpus in " << qPrintable(corpus.path());
    for (const QString& name : names) {
        const QByteArray bytes = testing_support::readFile(corpus.filePath(name));
        const QString violation = runTerminalFuzzInput(
            reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size()));
        EXPECT_EQ(violation, QString()) << "corpus input " << qPrintable(name);
    }
}
