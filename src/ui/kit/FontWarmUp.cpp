#include "ui/kit/FontWarmUp.h"

#include <QFontDatabase>
#include <QThreadPool>

#include <fontconfig/fontconfig.h>

#include <future>

namespace {

// Left running at exit, a future from std::async is waited for by its destructor, so the
// reading never outlives the process's statics.
std::shared_future<void>& configurationRead() {
    static std::shared_future<void> read;
    return read;
}

}  // namespace

void readFontConfiguration() {
    configurationRead() = std::async(std::launch::async, [] { FcInit(); }).share();
}

void warmUpFontDatabase() {
    const std::shared_future<void> read = configurationRead();
    // The font database locks itself: a measurement on the main thread meanwhile waits for
    // the listing to finish rather than starting a second one. The listing waits for the
    // configuration instead of loading a second copy of it alongside.
    QThreadPool::globalInstance()->start([read] {
        if (read.valid()) {
            read.wait();
        }
        QFontDatabase::families();
    });
}
