#include "app/SelfTestRunner.h"

#include "app/selftest/SelfTest.h"
#include "core/terminal/TerminalSession.h"
#include "core/workspace/Workspace.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>
#include <QUuid>

#include <cstdio>
#include <exception>

namespace {

bool runChecks(Workspace& workspace, const QString& outputFolder,
               const MemoryPreferences* modePreferences, const QByteArray& preferencesFingerprint) {
    // Each run works in a fresh folder of its own, so an output folder that is reused (as
    // the default one is) never hands a check the leftovers of an earlier run.
    const QString scratch =
        QDir(outputFolder)
            .filePath(QStringLiteral("run-") + QUuid::createUuid().toString(QUuid::WithoutBraces));
    if (!QDir().mkpath(scratch)) {
        std::fprintf(stderr, "FAIL cannot create the output folder %s\n", qPrintable(scratch));
        return false;
    }
    SelfTestContext context{&workspace, scratch};
    bool passed = true;
    int count = 0;
    std::vector<SelfTestCheck> checks = allSelfTestChecks();
    checks.push_back(preferencesUntouchedCheck(preferencesFingerprint, modePreferences));
    for (const SelfTestCheck& check : checks) {
        ++count;
        QElapsedTimer timer;
        timer.start();
        SelfTestResult failure;
        try {
            failure = check.run(context);
        } catch (const std::exception& error) {
            failure = QStringLiteral("threw: ") + QString::fromUtf8(error.what());
        }
        if (failure) {
            passed = false;
            std::fprintf(stderr, "FAIL %s: %s\n", qPrintable(check.name), qPrintable(*failure));
        } else {
            std::fprintf(stderr, "ok   %s (%lld ms)\n", qPrintable(check.name), timer.elapsed());
        }
    }
    if (count <= 1) {
        std::fprintf(stderr, "FAIL no checks were registered\n");
        passed = false;
    }
    return passed;
}

}  // namespace

void startSelfTest(Workspace& workspace, const QString& outputFolder,
                   const MemoryPreferences* modePreferences, QByteArray preferencesFingerprint) {
    QTimer::singleShot(
        0, &workspace.sessions,
        [&workspace, outputFolder, modePreferences, preferencesFingerprint] {
            const bool passed =
                runChecks(workspace, outputFolder, modePreferences, preferencesFingerprint);
            std::fputs(passed ? "VELK_TESTS_PASSED\n" : "VELK_TESTS_FAILED\n", stdout);
            std::fflush(stdout);
            workspace.sessions.stopAll();
            // Give stopped sessions a moment to report their end before the process exits.
            selfTestWaitUntil([&workspace] { return !workspace.sessions.anyRunning(); }, 2000);
            QCoreApplication::exit(passed ? 0 : 1);
        });
}
