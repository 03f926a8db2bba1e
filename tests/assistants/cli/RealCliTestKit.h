// What every test of the real assistant programs shares: the pinned programs, the local
// model server on a scripted conversation, and a home whose onboarding is done and which
// points the programs at that server (prepare_home.py).
#pragma once

#include "workspace/WorkspaceTestKit.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <list>
#include <memory>
#include <vector>

namespace real_cli {

inline QString cliFolder() {
    const QString chosen = qEnvironmentVariable("VELK_ASSISTANT_CLIS");
    return chosen.isEmpty() ? QStringLiteral(VELK_ASSISTANT_CLIS) : chosen + "/node_modules/.bin";
}

inline QString fixture(const QString& name) {
    return QStringLiteral(VELK_ASSISTANT_CLI_FIXTURES "/") + name;
}

// A text without blanks or line ends, which the programs' layouts move about.
inline QString squeezed(const QString& text) {
    return QString(text).remove(QRegularExpression("\\s"));
}

// Skips itself outside a network namespace of its own (run-isolated.sh starts one) or
// without the pinned programs.
class RealCliTest : public testing_support::WorkspaceTest {
protected:
    void SetUp() override {
        WorkspaceTest::SetUp();
        if (qEnvironmentVariable("VELK_ASSISTANTS_ISOLATED") != "1") {
            GTEST_SKIP() << "Not inside a network namespace of its own (run-isolated.sh starts "
                            "one): the real assistant programs are not run.";
        }
        if (!QFileInfo(cliFolder() + "/claude").isExecutable()) {
            GTEST_SKIP() << "The pinned assistant programs are not installed in "
                         << cliFolder().toStdString() << ": `make deps` installs them.";
        }
    }
    void TearDown() override {
        WorkspaceTest::TearDown();
        stopServer();
    }

    // Starts the model server on `conversation` (in place of one already serving) and
    // prepares the home that points the programs at it.
    void serve(const QString& conversation) {
        using namespace std::chrono_literals;
        const QString portFile = scratch() + "/port";
        stopServer();
        QFile::remove(portFile);
        QFile::remove(requestLog());
        m_environment.clear();
        m_server.setProcessChannelMode(QProcess::ForwardedChannels);
        m_server.start("python3", {fixture("model_server.py"),
                                   fixture("conversations/" + conversation + ".json"), requestLog(),
                                   portFile});
        ASSERT_TRUE(testing_support::waitUntil([&] { return QFileInfo::exists(portFile); }, 20s));
        QProcess prepare;
        prepare.start("python3",
                      {fixture("prepare_home.py"), scratch() + "/home",
                       "http://127.0.0.1:" + QString::fromUtf8(testing_support::readFile(portFile)),
                       cliFolder(), project()});
        ASSERT_TRUE(prepare.waitForFinished(30000));
        ASSERT_EQ(prepare.exitCode(), 0) << prepare.readAllStandardError().toStdString();
        for (const QByteArray& line : prepare.readAllStandardOutput().split('\n')) {
            const qsizetype equals = line.indexOf('=');
            if (equals > 0) {
                m_names.push_back(line.left(equals));
                m_environment.push_back(std::make_unique<testing_support::ScopedEnvironment>(
                    m_names.back().constData(), line.mid(equals + 1)));
            }
        }
    }
    void stopServer() {
        if (m_server.state() != QProcess::NotRunning) {
            m_server.kill();
            m_server.waitForFinished(5000);
        }
    }
    QString requestLog() const { return scratch() + "/requests.jsonl"; }

    QProcess m_server;
    std::list<QByteArray> m_names;  // before the variables, which keep pointers into it
    std::vector<std::unique_ptr<testing_support::ScopedEnvironment>> m_environment;
};

}  // namespace real_cli
