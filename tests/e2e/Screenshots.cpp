#include "Screenshots.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

QString screenshotFolder(const QString& name) {
    const QString root = qEnvironmentVariableIsEmpty("VELK_SCREENSHOT_DIR")
                             ? QCoreApplication::applicationDirPath() + "/screenshots"
                             : qEnvironmentVariable("VELK_SCREENSHOT_DIR");
    QDir folder(root + '/' + name);
    folder.removeRecursively();
    QDir().mkpath(folder.path());
    std::printf("Screenshots of %s: %s\n", qPrintable(name), qPrintable(folder.path()));
    std::fflush(stdout);
    return folder.path();
}
