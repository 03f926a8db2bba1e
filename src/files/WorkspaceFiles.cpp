// The file browser's listing and the editor buffer: open, save with its guards against
// changes made elsewhere, create, and the unsaved-change question.

#include "workspace/Workspace.h"

#include "files/FileOrder.h"
#include "platform/AtomicFile.h"
#include "platform/Dialogs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <dirent.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr qint64 kEditorSizeLimit = 2000000;

const QString kNotUtf8Notice = QStringLiteral("This file cannot be opened as UTF-8 text.");

// The file's text when it is readable UTF-8; nothing otherwise. A byte-order mark is kept,
// so saving writes back what was read.
std::optional<QString> readUtf8(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return std::nullopt;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom |
                                                     QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

// Whether a folder can be listed, and why not.
Result<void> checkListable(const QString& folder) {
    DIR* directory = ::opendir(QFile::encodeName(folder).constData());
    if (!directory) {
        const int error = errno;
        return Error{
            Error::Kind::System,
            QStringLiteral("The folder “%1” cannot be listed: %2")
                .arg(QFileInfo(folder).fileName(), QString::fromLocal8Bit(std::strerror(error))),
            error};
    }
    ::closedir(directory);
    return {};
}

}  // namespace

QList<FileEntry> Workspace::filteredFiles() const {
    if (m_search.isEmpty()) {
        return m_files;
    }
    QList<FileEntry> shown;
    for (const FileEntry& entry : m_files) {
        if (entry.name().contains(m_search, Qt::CaseInsensitive)) {
            shown.append(entry);
        }
    }
    return shown;
}

void Workspace::refreshFiles(const QString& folder) {
    QString target = folder;
    if (target.isEmpty()) {
        target = m_browsingFolder;
    }
    if (target.isEmpty()) {
        target = m_folder;
    }
    if (target.isEmpty()) {
        setFiles({});
        return;
    }
    setBrowsingFolder(target);

    if (const Result<void> listable = checkListable(target); !listable) {
        // A stale listing never survives a failed one.
        setFiles({});
        notify(listable.error().message);
        return;
    }
    // Without QDir::Hidden, names beginning with "." are skipped.
    const QFileInfoList entries =
        QDir(target).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    QList<FileEntry> files;
    files.reserve(entries.size());
    for (const QFileInfo& info : entries) {
        files.append(FileEntry{info.absoluteFilePath(), info.isDir()});
    }
    std::sort(files.begin(), files.end(), FileOrder::lessThan);
    setFiles(files);
}

void Workspace::openFile(const FileEntry& entry) {
    if (entry.isDirectory) {
        refreshFiles(entry.path);
        return;
    }
    if (!confirmDiscard()) {
        return;
    }
    const QFileInfo info(entry.path);
    if (!info.exists()) {
        notify(kNotUtf8Notice);
        return;
    }
    if (info.size() >= kEditorSizeLimit) {
        notify(QStringLiteral(
            "This file is too large for the built-in editor. Open it in your preferred editor."));
        return;
    }
    const auto text = readUtf8(entry.path);
    if (!text) {
        notify(kNotUtf8Notice);
        return;
    }
    setSelectedFile(entry.path);
    setEditorText(*text);
    setSavedText(*text);
}

bool Workspace::saveFile() {
    if (m_selectedFile.isEmpty()) {
        return false;
    }
    const auto onDisk = readUtf8(m_selectedFile);
    if (!onDisk) {
        notify(QStringLiteral(
            "This file was removed or can no longer be read as text. Your editor changes are "
            "still here; restore or reopen the file before saving."));
        return false;
    }
    if (*onDisk != m_savedText) {
        Dialogs::Alert alert;
        alert.message = QStringLiteral("This file changed on disk");
        alert.informativeText = QStringLiteral(
            "An assistant or another app edited this file. Replace those changes with your "
            "editor version?");
        alert.buttons = {QStringLiteral("Replace"), QStringLiteral("Cancel")};
        alert.style = Dialogs::Style::Warning;
        if (m_services.dialogs->alert(alert) != 0) {
            return false;
        }
    }
    if (const Result<void> written = AtomicFile::write(m_selectedFile, m_editorText.toUtf8());
        !written) {
        notify(written.error().message);
        return false;
    }
    setSavedText(m_editorText);
    notify(QStringLiteral("Saved ") + QFileInfo(m_selectedFile).fileName() + QStringLiteral("."));
    return true;
}

bool Workspace::confirmDiscard() {
    if (!fileIsDirty()) {
        return true;
    }
    Dialogs::Alert alert;
    alert.message = QStringLiteral("Save your changes?");
    alert.informativeText = m_selectedFile.isEmpty()
                                ? QStringLiteral("Your file has unsaved changes.")
                                : QFileInfo(m_selectedFile).fileName();
    alert.buttons = {QStringLiteral("Save"), QStringLiteral("Discard"), QStringLiteral("Cancel")};
    alert.style = Dialogs::Style::Warning;
    switch (m_services.dialogs->alert(alert)) {
        case 0:
            return saveFile();
        case 1:
            return true;
        default:
            return false;
    }
}

void Workspace::newFile() {
    if (!hasFolder() || !confirmDiscard()) {
        return;
    }
    Dialogs::SavePanel panel;
    panel.startFolder = m_browsingFolder.isEmpty() ? m_folder : m_browsingFolder;
    panel.proposedName = QStringLiteral("untitled.py");
    const auto location = m_services.dialogs->save(panel);
    if (!location) {
        return;
    }
    if (const Result<void> written = AtomicFile::write(*location, QByteArray()); !written) {
        notify(written.error().message);
        return;
    }
    setSelectedFile(*location);
    setEditorText(QString());
    setSavedText(QString());
    refreshFiles();
}
