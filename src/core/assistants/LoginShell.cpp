#include "core/assistants/LoginShell.h"

#include "core/assistants/Provider.h"

#include <QFile>
#include <QFileInfo>
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

}  // namespace LoginShell
