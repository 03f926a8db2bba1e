#include "ui/kit/FontWarmUp.h"

#include <QFontDatabase>
#include <QThreadPool>

void warmUpFontDatabase() {
    // The font database locks itself: a measurement on the main thread meanwhile waits for
    // the reading to finish rather than starting a second one.
    QThreadPool::globalInstance()->start([] { QFontDatabase::families(); });
}
