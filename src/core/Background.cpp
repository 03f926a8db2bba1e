#include "core/Background.h"

#include <QMutex>
#include <QThreadPool>

namespace Background {

QThreadPool& pool() {
    // Blocking jobs mostly wait (on other programs, on the disk), so more threads than cores
    // keep a slow status check from holding up a copy or an apply.
    static constexpr int kThreads = 8;
    static QMutex mutex;
    static QPointer<QThreadPool> instance;
    const QMutexLocker lock(&mutex);
    if (!instance) {
        instance = new QThreadPool(QCoreApplication::instance());
        instance->setObjectName(QStringLiteral("velk.background"));
        instance->setMaxThreadCount(kThreads);
    }
    return *instance;
}

void start(std::function<void()> task) {
    pool().start(std::move(task));
}

}  // namespace Background
