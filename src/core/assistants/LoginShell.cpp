#include "core/assistants/LoginShell.h"

#include "core/assistants/LocalTools.h"
#include "core/assistants/Provider.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <pwd.h>
#include <unistd.h>

namespace {

bool isExecutableShell(const QString& path) {
    if (!path.startsWith(u'/')) {
        return false;
    }
    const QFileInfo file(path);
    return file.isFile() && file.isExecutable();
}

const QString kBegin = QStringLiteral("VELK-ENVIRONMENT-BEGIN");
const QString kEnd = QStringLiteral("VELK-ENVIRONMENT-END");

// Variables that describe the shell process or its terminal rather than the user's setup.
const QStringList kShellOwnVariables = {"PWD", "OLDPWD", "SHLVL",  "_",       "TERM",  "COLORTERM",
                                        "PS1", "PS2",    "PROMPT", "RPROMPT", "LINES", "COLUMNS"};

QMutex& adoptedMutex() {
    static QMutex mutex;
    return mutex;
}

// Guarded by adoptedMutex().
QHash<QString, QString>& adoptedVariables() {
    static QHash<QString, QString> variables;
    return variables;
}

}  // namespace

namespace LoginShell {

QString userShell() {
    const QString fromEnvironment = qEnvironmentVariable("SHELL");
    if (isExecutableShell(fromEnvironment)) {
        return fromEnvironment;
    }
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_shell) {
        const QString fromPasswd = QFile::decodeName(entry->pw_shell);
        if (isExecutableShell(fromPasswd)) {
            return fromPasswd;
        }
    }
    return QStringLiteral("/bin/bash");
}

QString startLine(const QString& shell) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./+-]+$"));
    return (plain.match(shell).hasMatch() ? shell : shellQuote(shell)) + QStringLiteral(" -l");
}

QString displayName(const QString& shell) {
    QString name = QFileInfo(shell).fileName();
    if (!name.isEmpty()) {
        name[0] = name[0].toUpper();
    }
    return name + QStringLiteral(" shell");
}

Result<QHash<QString, QString>> readEnvironment(const QString& shell, int timeoutMs) {
    const QString name = QFileInfo(shell).fileName();
    // No quotes inside: fish reads this line too.
    const QString print = QStringLiteral("printf %1; env -0; printf %2").arg(kBegin, kEnd);
    const QString interactive =
        QStringLiteral("exec ") + shellQuote(shell) + QStringLiteral(" -i -c ") + shellQuote(print);
    const ToolResult result =
        LocalTools::run(shell, {QStringLiteral("-l"), QStringLiteral("-c"), interactive},
                        QDir::homePath(), timeoutMs);
    if (result.timedOut) {
        return Error{Error::Kind::TimedOut, QStringLiteral("%1 did not finish within %2 s")
                                                .arg(name, QString::number(timeoutMs / 1000.0))};
    }
    const qsizetype begin = result.output.indexOf(kBegin);
    const qsizetype end = result.output.lastIndexOf(kEnd);
    if (result.code != 0 || begin < 0 || end < begin) {
        return Error{Error::Kind::Unavailable,
                     result.code < 0
                         ? QStringLiteral("%1 could not be started").arg(name)
                         : QStringLiteral("%1 ended with status %2").arg(name).arg(result.code)};
    }
    QHash<QString, QString> environment;
    const QString listing =
        result.output.sliced(begin + kBegin.size(), end - begin - kBegin.size());
    for (const QString& entry : listing.split(QChar(u'\0'), Qt::SkipEmptyParts)) {
        const qsizetype equals = entry.indexOf(u'=');
        if (equals > 0) {
            environment.insert(entry.first(equals), entry.sliced(equals + 1));
        }
    }
    return environment;
}

void adopt(const QHash<QString, QString>& environment) {
    const QProcessEnvironment own = QProcessEnvironment::systemEnvironment();
    QHash<QString, QString> differing;
    for (auto it = environment.cbegin(); it != environment.cend(); ++it) {
        if (!kShellOwnVariables.contains(it.key()) &&
            (!own.contains(it.key()) || own.value(it.key()) != it.value())) {
            differing.insert(it.key(), it.value());
        }
    }
    const QMutexLocker lock(&adoptedMutex());
    adoptedVariables() = differing;
}

QStringList adoptedEntries() {
    const QString path = searchPath();
    const QMutexLocker lock(&adoptedMutex());
    QStringList entries;
    for (auto it = adoptedVariables().cbegin(); it != adoptedVariables().cend(); ++it) {
        entries.append(it.key() + u'=' + (it.key() == u"PATH" ? path : it.value()));
    }
    entries.sort();
    return entries;
}

std::optional<QString> adoptedValue(const QString& name) {
    const QMutexLocker lock(&adoptedMutex());
    const auto value = adoptedVariables().constFind(name);
    return value != adoptedVariables().cend() ? std::optional<QString>(*value) : std::nullopt;
}

QString searchPath() {
    const QString own = qEnvironmentVariable("PATH");
    const std::optional<QString> adopted = adoptedValue(QStringLiteral("PATH"));
    if (!adopted) {
        return own;
    }
    // Folders on VELK's own search path that the login shell's lacks (VELK started from a
    // terminal with a PATH of its own) follow the shell's.
    QStringList folders = adopted->split(u':');
    for (const QString& folder : own.split(u':')) {
        if (!folder.isEmpty() && !folders.contains(folder)) {
            folders.append(folder);
        }
    }
    return folders.join(u':');
}

}  // namespace LoginShell
