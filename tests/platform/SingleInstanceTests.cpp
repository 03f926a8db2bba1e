#include "platform/SingleInstance.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using testing_support::waitUntil;

namespace {

// One VELK start played by the helper program; its output is collected as it arrives.
class Start {
public:
    explicit Start(const QString& socketName) {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(VELK_SINGLE_INSTANCE_HELPER), {socketName});
    }
    ~Start() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    bool printed(const QByteArray& line) {
        return waitUntil([&] {
            m_output += m_process.readAllStandardOutput();
            return m_output.contains(line + "\n");
        });
    }
    bool finished() { return m_process.waitForFinished(10000); }
    int exitCode() const { return m_process.exitCode(); }
    void crash() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

private:
    QProcess m_process;
    QByteArray m_output;
};

class SingleInstanceTest : public ::testing::Test {
protected:
    QTemporaryDir folder;
    QString socketName = folder.filePath("velk.socket");
};

}  // namespace

TEST_F(SingleInstanceTest, laterStartsAskTheFirstToShowItselfAndExitSuccessfully) {
    Start first(socketName);
    ASSERT_TRUE(first.printed("listening"));

    // A start that lost the race: it found nobody a moment ago, but now the name is taken.
    SingleInstance late(socketName);
    EXPECT_FALSE(late.listen());

    for (int start = 0; start < 2; ++start) {
        Start later(socketName);
        ASSERT_TRUE(later.finished());
        EXPECT_EQ(later.exitCode(), 0);
        EXPECT_TRUE(later.printed("handed over"));
    }
    EXPECT_TRUE(first.printed("activation requested\nactivation requested"));
}

TEST_F(SingleInstanceTest, theSocketOfACrashedInstanceIsTakenOver) {
    {
        Start crashed(socketName);
        ASSERT_TRUE(crashed.printed("listening"));
        crashed.crash();
    }
    ASSERT_TRUE(QFileInfo::exists(socketName));  // left behind by the crash
    EXPECT_FALSE(SingleInstance(socketName).activateRunningInstance());

    Start next(socketName);
    EXPECT_TRUE(next.printed("listening"));
}
