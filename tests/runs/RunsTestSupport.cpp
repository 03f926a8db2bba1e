#include "RunsTestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

Scratch::Scratch() {
    EXPECT_TRUE(m_dir.isValid());
}

QString Scratch::path(const QString& relative) const {
    return relative.isEmpty() ? m_dir.path() : m_dir.path() + u'/' + relative;
}

void Scratch::write(const QString& relative, const QByteArray& bytes, int mode) const {
    const QString file = path(relative);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(file).absolutePath())) << file.toStdString();
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate)) << file.toStdString();
    ASSERT_EQ(out.write(bytes), bytes.size());
    out.close();
    chmod(relative, mode);
}

QByteArray Scratch::read(const QString& relative) const {
    QFile in(path(relative));
    EXPECT_TRUE(in.open(QIODevice::ReadOnly)) << relative.toStdString();
    return in.readAll();
}

bool Scratch::exists(const QString& relative) const {
    struct stat status;
    return ::lstat(path(relative).toStdString().c_str(), &status) == 0;
}

int Scratch::mode(const QString& relative) const {
    struct stat status;
    EXPECT_EQ(::lstat(path(relative).toStdString().c_str(), &status), 0) << relative.toStdString();
    return int(status.st_mode & 07777);
}

void Scratch::chmod(const QString& relative, int mode) const {
    ASSERT_EQ(::chmod(path(relative).toStdString().c_str(), mode_t(mode)), 0);
}

void Scratch::remove(const QString& relative) const {
    const QString target = path(relative);
    if (QFileInfo(target).isDir() && !QFileInfo(target).isSymLink()) {
        ASSERT_TRUE(QDir(target).removeRecursively());
    } else {
        ASSERT_EQ(::unlink(target.toStdString().c_str()), 0);
    }
}

void Scratch::makeFolder(const QString& relative) const {
    ASSERT_TRUE(QDir().mkpath(path(relative)));
}

void Scratch::link(const QString& relative, const QString& target) const {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path(relative)).absolutePath()));
    ASSERT_EQ(::symlink(target.toStdString().c_str(), path(relative).toStdString().c_str()), 0);
}

TreeState treeState(const QString& root, bool withFolders) {
    TreeState state;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QFileInfo info = it.fileInfo();
        const QString relative = file.mid(root.size() + 1);
        struct stat status;
        if (::lstat(file.toStdString().c_str(), &status) != 0) {
            continue;
        }
        if (S_ISLNK(status.st_mode)) {
            state[relative] = {"link to " + info.symLinkTarget().toUtf8(), 0};
        } else if (S_ISREG(status.st_mode)) {
            QFile in(file);
            EXPECT_TRUE(in.open(QIODevice::ReadOnly));
            state[relative] = {in.readAll(), int(status.st_mode & 07777)};
        } else if (S_ISDIR(status.st_mode) && withFolders) {
            state[relative + u'/'] = {"folder", 0};
        }
    }
    return state;
}
