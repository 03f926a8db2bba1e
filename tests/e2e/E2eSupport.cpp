#include "E2eSupport.h"

#include "PrivateDisplay.h"
#include "platform/KeyboardSynthesis.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <gtest/gtest.h>

#include <cstdio>
#include <utility>

using namespace std::chrono_literals;

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

QImage settledGrab(quint64 window) {
    const auto grab = [window] {
        return QGuiApplication::primaryScreen()->grabWindow(WId(window)).toImage();
    };
    QImage previous = grab();
    QImage current;
    testing_support::waitUntil(
        [&] {
            testing_support::processEventsFor(150ms);
            current = grab();
            return std::exchange(previous, current) == current;
        },
        5s);
    return current;
}

VelkHome::VelkHome() {
    m_ready = m_scratch.isValid();
    for (const char* folder : {"home", "config", "data", "cache", "runtime", "tmp"}) {
        m_ready = m_ready && QDir().mkpath(path(folder));
    }
    m_ready = m_ready &&
              QFile::setPermissions(path("runtime"),
                                    QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) &&
              testing_support::writeFile(path("home/.zshenv"), {});
    environment = {
        {"HOME", path("home")},
        {"XDG_CONFIG_HOME", path("config")},
        {"XDG_DATA_HOME", path("data")},
        {"XDG_CACHE_HOME", path("cache")},
        {"XDG_RUNTIME_DIR", path("runtime")},
        {"TMPDIR", path("tmp")},
        {"PATH", testing_support::fixturesBin() + ':' + qEnvironmentVariable("PATH")},
        {"VELK_RESOURCES", VELK_SOURCE_DIR "/resources"},
        {"VELK_FAKE_CLAUDE_STATUS", "in"},
        {"VELK_FAKE_CODEX_STATUS", "chatgpt"},
    };
}

VelkHome::~VelkHome() {
    for (auto it = m_former.cbegin(); it != m_former.cend(); ++it) {
        if (it.value()) {
            qputenv(it.key(), *it.value());
        } else {
            qunsetenv(it.key());
        }
    }
}

void VelkHome::apply() {
    for (auto it = environment.cbegin(); it != environment.cend(); ++it) {
        const QByteArray name = it.key().toUtf8();
        if (!m_former.contains(name)) {
            m_former.insert(name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name))
                                                                  : std::nullopt);
        }
        qputenv(name, it.value().toUtf8());
    }
}

VelkProcess::~VelkProcess() {
    if (process.state() != QProcess::NotRunning) {
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(3000);
        }
    }
}

void VelkProcess::start(const QString& program, const QStringList& arguments) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (auto it = m_home.environment.cbegin(); it != m_home.environment.cend(); ++it) {
        environment.insert(it.key(), it.value());
    }
    environment.insert("DISPLAY", PrivateDisplay::current()->name());
    environment.insert("QT_QPA_PLATFORM", "xcb");
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    ASSERT_TRUE(process.waitForStarted(10000)) << process.errorString().toStdString();
    // Its first managed window is the main one; the desktop companion's come after it.
    ASSERT_TRUE(testing_support::waitUntil(
        [&] {
            for (const X11Windows::Window& candidate : X11Windows::clientWindows()) {
                if (candidate.pid == process.processId()) {
                    window = candidate;
                    return true;
                }
            }
            return false;
        },
        30s))
        << "no window of the started program";
    X11Windows::activate(window->id);
    ASSERT_TRUE(testing_support::waitUntil([&] { return hasFocus(); }));
}

bool VelkProcess::hasFocus() const {
    const std::optional<X11Windows::Window> focused = X11Windows::focusedWindow();
    return focused && focused->pid == process.processId();
}

void VelkProcess::press(const QString& keys) {
    const Result<void> pressed = KeyboardSynthesis::pressKeys(keys, [this] { return hasFocus(); });
    ASSERT_TRUE(pressed) << keys.toStdString() << ": " << pressed.error().message.toStdString();
}

void VelkProcess::type(const QString& text) {
    const Result<void> typed = KeyboardSynthesis::typeText(text, [this] { return hasFocus(); });
    ASSERT_TRUE(typed) << typed.error().message.toStdString();
}
