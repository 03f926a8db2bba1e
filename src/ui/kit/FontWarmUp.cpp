#include "ui/kit/FontWarmUp.h"

#include <QFontDatabase>
#include <QThreadPool>

#include <fontconfig/fontconfig.h>

#include <future>

namespace {

// The generic family Qt's desktop-neutral theme gives the application font.
constexpr char kGenericSansSerif[] = "Sans Serif";

// The installed family fontconfig picks for `family`: the first family Qt falls back to when
// a font names a family that is not installed. Empty if none.
QString matchedFamily(const char* family) {
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match) {
        return {};
    }
    FcChar8* matched = nullptr;
    QString name;
    if (FcPatternGetString(match, FC_FAMILY, 0, &matched) == FcResultMatch) {
        name = QString::fromUtf8(reinterpret_cast<const char*>(matched));
    }
    FcPatternDestroy(match);
    return name;
}

// Left running at exit, a future from std::async is waited for by its destructor, so the
// reading never outlives the process's statics. Its value: what "Sans Serif" stands for.
std::shared_future<QString>& configurationRead() {
    static std::shared_future<QString> read;
    return read;
}

}  // namespace

void readFontConfiguration() {
    configurationRead() = std::async(std::launch::async, [] {
                              FcInit();
                              return matchedFamily(kGenericSansSerif);
                          }).share();
}

QString installedFamily(const QString& family) {
    const std::shared_future<QString> read = configurationRead();
    if (family != QLatin1String(kGenericSansSerif) || !read.valid()) {
        return family;
    }
    const QString& installed = read.get();
    return installed.isEmpty() ? family : installed;
}

void warmUpFontDatabase() {
    const std::shared_future<QString> read = configurationRead();
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
