#include "core/assistants/LocalTools.h"

#include "core/assistants/LoginShell.h"

#include "core/base/ChildExit.h"
#include "core/services/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QUuid>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

namespace {

constexpr int kKillGraceMs = 200;

// kLostChild stands for a child reaped elsewhere, whose status is unknown.
constexpr int kLostChild = -1;

int statusFromWait(int waitStatus) {
    if (waitStatus == kLostChild) {
        return -1;
    }
    if (WIFEXITED(waitStatus)) {
        return WEXITSTATUS(waitStatus);
    }
    if (WIFSIGNALED(waitStatus)) {
        return 128 + WTERMSIG(waitStatus);
    }
    return -1;
}

// An argv/envp style array that owns its strings.
class CStringArray {
public:
    explicit CStringArray(const QStringList& items) {
        for (const QString& item : items) {
            m_storage.push_back(item.toLocal8Bit());
        }
        for (QByteArray& item : m_storage) {
            m_pointers.push_back(item.data());
        }
        m_pointers.push_back(nullptr);
    }
    char* const* data() { return m_pointers.data(); }

private:
    std::vector<QByteArray> m_storage;
    std::vector<char*> m_pointers;
};

QStringList environmentWithStatusPath() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& entry : LoginShell::adoptedEntries()) {
        const qsizetype equals = entry.indexOf(u'=');
        environment.insert(entry.first(equals), entry.sliced(equals + 1));
    }
    environment.insert(QStringLiteral("PATH"), LocalTools::statusSearchPath());
    return environment.toStringList();
}

}  // namespace

namespace LocalTools {

QString statusSearchPath() {
    const QString home = QDir::homePath();
    QString path = home + QStringLiteral("/.local/bin:") + home +
                   QStringLiteral("/.npm-global/bin:") + home +
                   QStringLiteral("/.kimi-code/bin:/usr/local/bin:/usr/bin:/bin");
    // Once the login shell's environment is known, its folders follow (nvm's node, for a
    // tool that is a node script).
    if (LoginShell::adoptedValue(QStringLiteral("PATH"))) {
        path += u':' + LoginShell::searchPath();
    }
    return path;
}

QString applicationData(const QString& name) {
    return AppPaths::dataRoot() + QLatin1Char('/') + name;
}

ToolResult run(const QString& executable, const QStringList& arguments, const QString& directory,
               int timeoutMs) {
    ToolResult result;

    // One capture file for both streams: each stream writes at the shared offset, so the
    // text keeps its arrival order.
    const QString capturePath = QDir::tempPath() + QStringLiteral("/VELK-status-") +
                                QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QByteArray captureName = QFile::encodeName(capturePath);
    const int captureFd =
        ::open(captureName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (captureFd < 0) {
        result.output = QStringLiteral("Could not prepare status check.");
        return result;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, captureFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, captureFd, STDERR_FILENO);
    const QByteArray directoryName = QFile::encodeName(directory);
    if (!directory.isEmpty()) {
        posix_spawn_file_actions_addchdir_np(&actions, directoryName.constData());
    }

    // Its own process group, so a time-out also stops helpers the command started.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t defaultSignals;
    sigemptyset(&defaultSignals);
    sigaddset(&defaultSignals, SIGTERM);
    sigaddset(&defaultSignals, SIGINT);
    sigaddset(&defaultSignals, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaultSignals);
    sigset_t noSignals;
    sigemptyset(&noSignals);
    posix_spawnattr_setsigmask(&attributes, &noSignals);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    const QByteArray program = QFile::encodeName(executable);
    CStringArray argv(QStringList{executable} + arguments);
    CStringArray envp(environmentWithStatusPath());

    pid_t pid = -1;
    const int spawnError =
        ::posix_spawn(&pid, program.constData(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(captureFd);

    if (spawnError != 0) {
        result.output = QString::fromLocal8Bit(std::strerror(spawnError));
        ::unlink(captureName.constData());
        return result;
    }

    // A time-out stops the whole group: politely first, then for good.
    std::optional<int> waitStatus = ChildExit::waitFor(pid, timeoutMs);
    if (!waitStatus) {
        result.timedOut = true;
        ::kill(-pid, SIGTERM);
        waitStatus = ChildExit::waitFor(pid, kKillGraceMs);
        if (!waitStatus) {
            ::kill(-pid, SIGKILL);
            waitStatus = ChildExit::waitFor(pid, -1);
        }
    }
    result.code = statusFromWait(*waitStatus);

    QFile capture(capturePath);
    if (capture.open(QIODevice::ReadOnly)) {
        result.output = QString::fromUtf8(capture.read(kMaxOutputBytes));
    }
    capture.close();
    capture.remove();
    return result;
}

}  // namespace LocalTools
