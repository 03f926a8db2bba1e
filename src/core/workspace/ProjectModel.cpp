// The project folder, the file browser's listing and the editor buffer: open, save with its
// guards against changes made elsewhere, create, and the unsaved-change question.

#include "core/workspace/ProjectModel.h"

#include "core/base/Publish.h"
#include "core/files/FileOrder.h"
#include "core/services/AtomicFile.h"
#include "core/services/DesktopServices.h"
#include "core/services/Dialogs.h"
#include "core/services/Preferences.h"
#include "core/terminal/TerminalSession.h"
#include "core/workspace/Notices.h"
#include "core/workspace/PreferenceKeys.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QUrl>

#include <dirent.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr qint64 kEditorSizeLimit = 2000000;
constexpr int kRecentFolderLimit = 8;

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

ProjectModel::ProjectModel(Preferences* store, Dialogs& dialogs, DesktopServices* desktop,
                           Notices& notices, QObject* parent)
    : QObject(parent), m_store(store), m_dialogs(dialogs), m_desktop(desktop), m_notices(notices) {
    if (m_store) {
        m_recentFolders = m_store->value(PreferenceKeys::recentFolders).toStringList();
        const QString stored = m_store->value(PreferenceKeys::workspace).toString();
        if (!stored.isEmpty() && QFileInfo::exists(stored)) {
            m_folder = QDir::cleanPath(stored);
        }
    }
    refreshFiles();
}

// --- Folder ------------------------------------------------------------------------------

QString ProjectModel::folderName() const {
    if (m_folder.isEmpty()) {
        return QStringLiteral("Choose a project");
    }
    return QFileInfo(m_folder).fileName();
}

void ProjectModel::setFolder(const QString& path) {
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists() || !info.isDir()) {
        m_notices.notify(
            QStringLiteral("This project folder is no longer available. Choose another folder."));
        return;
    }
    const QString folder = QDir::cleanPath(info.absoluteFilePath());

    publish(this, m_folder, folder, &ProjectModel::folderChanged);
    showFile(QString(), QString());
    publish(this, m_browsingFolder, folder, &ProjectModel::browsingFolderChanged);

    m_recentFolders.removeAll(folder);
    m_recentFolders.prepend(folder);
    while (m_recentFolders.size() > kRecentFolderLimit) {
        m_recentFolders.removeLast();
    }
    Q_EMIT recentFoldersChanged();

    if (m_store) {
        m_store->setValue(PreferenceKeys::workspace, folder);
        m_store->setValue(PreferenceKeys::recentFolders, m_recentFolders);
    }

    refreshFiles();
    m_notices.notify(QStringLiteral("Workspace opened: ") + QFileInfo(folder).fileName());
}

void ProjectModel::adoptFolder(const QString& path) {
    publish(this, m_folder, QDir::cleanPath(QFileInfo(path).absoluteFilePath()),
            &ProjectModel::folderChanged);
    refreshFiles(m_folder);
}

void ProjectModel::chooseFolder() {
    if (!confirmDiscard()) {
        return;
    }
    Dialogs::OpenPanel panel;
    panel.message = QStringLiteral("Choose the folder your assistants will work in.");
    panel.startFolder = m_folder.isEmpty() ? QDir::homePath() : m_folder;
    panel.chooseFiles = false;
    panel.chooseFolders = true;
    if (const auto chosen = m_dialogs.open(panel)) {
        setFolder(*chosen);
    }
}

bool ProjectModel::ensureFolder() {
    if (!hasFolder()) {
        chooseFolder();
    }
    return hasFolder();
}

void ProjectModel::revealFolder() {
    if (m_folder.isEmpty()) {
        chooseFolder();
        return;
    }
    if (m_desktop) {
        m_desktop->openUrl(QUrl::fromLocalFile(m_folder).toString());
    }
}

// --- Listing and editor ------------------------------------------------------------------

QList<FileEntry> ProjectModel::filteredFiles() const {
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

void ProjectModel::refreshFiles(const QString& folder) {
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
    publish(this, m_browsingFolder, target, &ProjectModel::browsingFolderChanged);

    if (const Result<void> listable = checkListable(target); !listable) {
        // A stale listing never survives a failed one.
        setFiles({});
        m_notices.notify(listable.error().message);
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
    FileOrder::sort(files);
    setFiles(files);
}

void ProjectModel::openFile(const FileEntry& entry) {
    if (entry.isDirectory) {
        refreshFiles(entry.path);
        return;
    }
    if (!confirmDiscard()) {
        return;
    }
    const QFileInfo info(entry.path);
    if (!info.exists()) {
        m_notices.notify(kNotUtf8Notice);
        return;
    }
    if (info.size() >= kEditorSizeLimit) {
        m_notices.notify(QStringLiteral(
            "This file is too large for the built-in editor. Open it in your preferred editor."));
        return;
    }
    const auto text = readUtf8(entry.path);
    if (!text) {
        m_notices.notify(kNotUtf8Notice);
        return;
    }
    showFile(entry.path, *text);
}

bool ProjectModel::saveFile() {
    if (m_selectedFile.isEmpty()) {
        return false;
    }
    const auto onDisk = readUtf8(m_selectedFile);
    if (!onDisk) {
        m_notices.notify(QStringLiteral(
            "This file was removed or can no longer be read as text. Your editor changes are "
            "still here; restore or reopen the file before saving."));
        return false;
    }
    if (*onDisk != m_savedText) {
        const Dialogs::Alert alert{
            .message = QStringLiteral("This file changed on disk"),
            .informativeText = QStringLiteral(
                "An assistant or another app edited this file. Replace those changes with your "
                "editor version?"),
            .buttons = {QStringLiteral("Replace"), QStringLiteral("Cancel")}};
        if (m_dialogs.alert(alert) != 0) {
            return false;
        }
    }
    const QString text = editorText();
    if (const Result<void> written = AtomicFile::write(m_selectedFile, text.toUtf8()); !written) {
        m_notices.notify(written.error().message);
        return false;
    }
    publish(this, m_savedText, text, &ProjectModel::savedTextChanged);
    m_notices.notify(QStringLiteral("Saved ") + QFileInfo(m_selectedFile).fileName() +
                     QStringLiteral("."));
    return true;
}

bool ProjectModel::confirmDiscard() {
    if (!fileIsDirty()) {
        return true;
    }
    const Dialogs::Alert alert{
        .message = QStringLiteral("Save your changes?"),
        .informativeText = m_selectedFile.isEmpty()
                               ? QStringLiteral("Your file has unsaved changes.")
                               : QFileInfo(m_selectedFile).fileName(),
        .buttons = {QStringLiteral("Save"), QStringLiteral("Discard"), QStringLiteral("Cancel")}};
    switch (m_dialogs.alert(alert)) {
        case 0:
            return saveFile();
        case 1:
            return true;
        default:
            return false;
    }
}

void ProjectModel::newFile() {
    if (!hasFolder() || !confirmDiscard()) {
        return;
    }
    Dialogs::SavePanel panel;
    panel.startFolder = m_browsingFolder.isEmpty() ? m_folder : m_browsingFolder;
    panel.proposedName = QStringLiteral("untitled.py");
    const auto location = m_dialogs.save(panel);
    if (!location) {
        return;
    }
    if (const Result<void> written = AtomicFile::write(*location, QByteArray()); !written) {
        m_notices.notify(written.error().message);
        return;
    }
    showFile(*location, QString());
    refreshFiles();
}

void ProjectModel::reloadAppliedFiles(const QStringList& locations) {
    if (m_selectedFile.isEmpty()) {
        return;
    }
    const QString open = QDir::cleanPath(QFileInfo(m_selectedFile).absoluteFilePath());
    const bool applied =
        std::any_of(locations.cbegin(), locations.cend(), [&open](const QString& l) {
            return QDir::cleanPath(QFileInfo(l).absoluteFilePath()) == open;
        });
    if (!applied) {
        return;
    }
    if (!QFileInfo::exists(m_selectedFile)) {
        showFile(QString(), QString());
        return;
    }
    QFile file(m_selectedFile);
    QString text;
    if (file.open(QIODevice::ReadOnly)) {
        text = QString::fromUtf8(file.readAll());
    }
    setEditorText(text);
    publish(this, m_savedText, text, &ProjectModel::savedTextChanged);
}

void ProjectModel::exportText(const QString& text, const QString& name) {
    Dialogs::SavePanel panel;
    panel.proposedName = name;
    panel.startFolder = m_folder;
    const auto location = m_dialogs.save(panel);
    if (!location) {
        return;
    }
    if (const auto written = AtomicFile::write(*location, text.toUtf8()); !written) {
        m_notices.notify(written.error().message);
        return;
    }
    m_notices.notify(QStringLiteral("Exported ") + QFileInfo(*location).fileName() +
                     QStringLiteral("."));
}

void ProjectModel::exportSession(const TerminalSession& session) {
    exportText(session.screen().plainText(),
               QStringLiteral("VELK-") + session.providerID() + QStringLiteral("-session.txt"));
}

// --- Published fields --------------------------------------------------------------------

QString ProjectModel::editorText() const {
    if (m_readEditorText) {
        m_editorText = m_readEditorText();
        m_readEditorText = nullptr;
    }
    return m_editorText;
}

bool ProjectModel::fileIsDirty() const {
    // Most edits change the length, which tells without reading the editor's text.
    if (m_readEditorText && m_editorLength != m_savedText.size()) {
        return true;
    }
    return editorText() != m_savedText;
}

void ProjectModel::setEditorText(const QString& text) {
    (void)editorText();
    publish(this, m_editorText, text, &ProjectModel::editorTextChanged);
}

void ProjectModel::editorEdited(std::function<QString()> read, qsizetype length) {
    m_readEditorText = std::move(read);
    m_editorLength = length;
    Q_EMIT editorTextChanged();
}

void ProjectModel::setSearch(const QString& search) {
    publish(this, m_search, search, &ProjectModel::searchChanged);
}

void ProjectModel::setRunnerCommand(const QString& command) {
    publish(this, m_runnerCommand, command, &ProjectModel::runnerCommandChanged);
}

void ProjectModel::setFiles(const QList<FileEntry>& files) {
    m_files = files;
    Q_EMIT filesChanged();
}

void ProjectModel::showFile(const QString& path, const QString& text) {
    publish(this, m_selectedFile, path, &ProjectModel::selectedFileChanged);
    setEditorText(text);
    publish(this, m_savedText, text, &ProjectModel::savedTextChanged);
}
