#include "SelfTest.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

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
    while (!predicate()) {
        if (deadline.hasExpired()) {
            return predicate();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}
