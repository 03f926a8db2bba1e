#include "app/selftest/SelfTest.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

std::vector<SelfTestCheck> allSelfTestChecks() {
    std::vector<SelfTestCheck> all;
    for (auto group :
         {applicationChecks, platformChecks, appearanceChecks, assistantsChecks, terminalChecks,
          workspaceChecks, filesChecks, actionsChecks, runsChecks, companionChecks}) {
        for (SelfTestCheck& check : group()) {
            all.push_back(std::move(check));
        }
    }
    return all;
}

bool selfTestWaitUntil(const std::function<bool()>& predicate, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    // Most conditions change as events are handled, and the wait below returns after each;
    // a few watch something outside the process (a file another program writes), which the
    // ticking timer rechecks. It also ends the wait in time for the deadline.
    QTimer tick;
    tick.start(10);
    while (!predicate()) {
        if (deadline.hasExpired()) {
            return predicate();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}
