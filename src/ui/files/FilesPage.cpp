#include "ui/files/FilesPage.h"

#include "core/appearance/Theme.h"
#include "core/workspace/Launcher.h"
#include "core/workspace/ProjectModel.h"
#include "ui/files/CodeEditor.h"
#include "ui/kit/Icons.h"

#include "ui/kit/Widgets.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QStyle>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kFileListWidth = 270;
constexpr int kDirtyDotSize = 8;

}  // namespace

FilesPage::FilesPage(ProjectModel& project, Launcher& launcher, Theme& theme, QWidget* parent)
    : QWidget(parent), m_project(project), m_launcher(launcher), m_theme(theme) {
    auto* layout = Widgets::box<QVBoxLayout>(this, {28, 24, 28, 24}, 16);

    auto* header = new QHBoxLayout;
    auto* headings = new QVBoxLayout;
    headings->setSpacing(4);
    headings->addWidget(Widgets::label(QStringLiteral("Files & runner"), "headline"));
    headings->addWidget(Widgets::label(
        QStringLiteral("Edit a file, run it locally, and inspect the output in a terminal."),
        "muted"));
    header->addLayout(headings, 1);
    auto* openProject = Widgets::button(QStringLiteral("Open project"));
    auto* newFile = Widgets::button(QStringLiteral("New file"), "primary");
    header->addWidget(openProject, 0, Qt::AlignBottom);
    header->addWidget(newFile, 0, Qt::AlignBottom);
    layout->addLayout(header);

    auto* body = new QHBoxLayout;
    body->setSpacing(16);
    body->addWidget(buildFileList());
    auto* right = new QVBoxLayout;
    right->setSpacing(12);
    right->addWidget(buildEditorArea(), 1);
    right->addWidget(buildRunner());
    body->addLayout(right, 1);
    layout->addLayout(body, 1);

    // Opening a folder rebuilds the list; run it after the click that asked for it, so no
    // row is deleted inside its own signal.
    connect(openProject, &QPushButton::clicked, this,
            [this] { QTimer::singleShot(0, &m_project, &ProjectModel::chooseFolder); });
    connect(newFile, &QPushButton::clicked, this,
            [this] { QTimer::singleShot(0, &m_project, &ProjectModel::newFile); });

    connect(&m_project, &ProjectModel::browsingFolderChanged, this, &FilesPage::syncFolder);
    connect(&m_project, &ProjectModel::folderChanged, this, &FilesPage::syncFolder);
    connect(&m_project, &ProjectModel::filesChanged, this, &FilesPage::syncFiles);
    connect(&m_project, &ProjectModel::searchChanged, this, &FilesPage::syncFiles);
    connect(&m_project, &ProjectModel::selectedFileChanged, this, &FilesPage::syncOpenFile);
    connect(&m_project, &ProjectModel::editorTextChanged, this, &FilesPage::syncEditorText);
    connect(&m_project, &ProjectModel::savedTextChanged, this, &FilesPage::syncDirty);
    connect(&m_project, &ProjectModel::runnerCommandChanged, this, &FilesPage::syncRunnerCommand);
    connect(&m_theme, &Theme::changed, this, &FilesPage::applyTheme);

    syncFolder();
    syncFiles();
    syncOpenFile();
    syncEditorText();
    syncRunnerCommand();
    applyTheme();
}

FilesPage::~FilesPage() {
    // The model takes the editor's text while the editor still exists.
    (void)m_project.editorText();
}

QWidget* FilesPage::buildFileList() {
    QFrame* frame = Widgets::card();
    frame->setFixedWidth(kFileListWidth);
    auto* layout = Widgets::box<QVBoxLayout>(frame, {14, 14, 14, 14}, 10);

    auto* top = new QHBoxLayout;
    m_folderLabel = Widgets::label(QString(), "title");
    m_folderLabel->setMinimumWidth(0);
    m_parentButton = new QToolButton;
    m_parentButton->setProperty("flat", true);
    m_parentButton->setText(QStringLiteral("↑"));
    m_parentButton->setToolTip(QStringLiteral("Parent folder"));
    m_parentButton->setCursor(Qt::PointingHandCursor);
    top->addWidget(m_folderLabel, 1);
    top->addWidget(m_parentButton);
    layout->addLayout(top);

    m_searchField = new QLineEdit;
    m_searchField->setPlaceholderText(QStringLiteral("Find a file…"));
    m_searchField->setClearButtonEnabled(true);
    layout->addWidget(m_searchField);

    m_fileList = new QListWidget;
    m_fileList->setObjectName(QStringLiteral("FileList"));
    m_fileList->setFrameShape(QFrame::NoFrame);
    m_fileList->setUniformItemSizes(true);
    m_fileList->setIconSize(QSize(16, 16));
    m_fileList->setSpacing(1);
    m_fileList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_fileList->setTextElideMode(Qt::ElideMiddle);
    layout->addWidget(m_fileList, 1);

    connect(m_parentButton, &QToolButton::clicked, this, [this] {
        const QString browsing = m_project.browsingFolder();
        if (browsing.isEmpty()) {
            return;
        }
        const QString parentFolder = QFileInfo(browsing).dir().absolutePath();
        QTimer::singleShot(0, this, [this, parentFolder] { m_project.refreshFiles(parentFolder); });
    });
    connect(m_searchField, &QLineEdit::textEdited, &m_project, &ProjectModel::setSearch);
    const auto chooseItem = [this](QListWidgetItem* item) {
        choose(
            FileEntry{item->data(Qt::UserRole).toString(), item->data(Qt::UserRole + 1).toBool()});
    };
    connect(m_fileList, &QListWidget::itemClicked, this, chooseItem);
    connect(m_fileList, &QListWidget::itemActivated, this, chooseItem);
    return frame;
}

QWidget* FilesPage::buildEditorArea() {
    QFrame* frame = Widgets::card();
    auto* outer = new QVBoxLayout(frame);
    outer->setContentsMargins(1, 1, 1, 1);
    m_editorStack = new QStackedWidget;
    outer->addWidget(m_editorStack);

    m_emptyState = Widgets::emptyState(
        QStringLiteral("Make something here."),
        QStringLiteral("Choose a text file from your project, or create a new one."), nullptr, 1,
        1);
    m_editorStack->addWidget(m_emptyState);

    auto* open = new QWidget;
    auto* layout = Widgets::box<QVBoxLayout>(open, {0, 0, 0, 0}, 0);
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(16, 10, 12, 10);
    bar->setSpacing(8);
    m_fileName = Widgets::label(QString(), "title");
    m_dirtyDot = new QLabel;
    m_dirtyDot->setFixedSize(kDirtyDotSize, kDirtyDotSize);
    m_dirtyDot->setToolTip(QStringLiteral("Unsaved changes"));
    m_saveButton = Widgets::button(QStringLiteral("Save"));
    m_runFileButton = Widgets::button(QStringLiteral("Run file"), "primary");
    bar->addWidget(m_fileName);
    bar->addWidget(m_dirtyDot, 0, Qt::AlignVCenter);
    bar->addStretch(1);
    bar->addWidget(m_saveButton);
    bar->addWidget(m_runFileButton);
    layout->addLayout(bar);
    m_editor = new CodeEditor(m_theme);
    layout->addWidget(m_editor, 1);
    m_editorStack->addWidget(open);

    connect(m_saveButton, &QPushButton::clicked, this,
            [this] { QTimer::singleShot(0, this, [this] { m_project.saveFile(); }); });
    connect(m_runFileButton, &QPushButton::clicked, this,
            [this] { QTimer::singleShot(0, &m_launcher, &Launcher::runFile); });
    // The model is told of an edit and reads the editor's text only when it needs it.
    connect(m_editor, &CodeEditor::edited, this, [this] {
        m_reportingEdit = true;
        m_project.editorEdited([editor = QPointer<CodeEditor>(
                                    m_editor)] { return editor ? editor->text() : QString(); },
                               m_editor->textLength());
        m_reportingEdit = false;
    });
    return frame;
}

QWidget* FilesPage::buildRunner() {
    auto* runner = new QWidget;
    auto* layout = Widgets::box<QHBoxLayout>(runner, {0, 0, 0, 0}, 8);
    m_commandField = new QLineEdit;
    m_commandField->setPlaceholderText(QStringLiteral("Custom command"));
    m_runCommandButton = Widgets::button(QStringLiteral("Run"));
    layout->addWidget(m_commandField, 1);
    layout->addWidget(m_runCommandButton);

    connect(m_commandField, &QLineEdit::textEdited, &m_project, &ProjectModel::setRunnerCommand);
    const auto run = [this] { QTimer::singleShot(0, &m_launcher, &Launcher::runCommand); };
    connect(m_commandField, &QLineEdit::returnPressed, this, run);
    connect(m_runCommandButton, &QPushButton::clicked, this, run);
    return runner;
}

QIcon FilesPage::themedIcon(const QString& symbol, QStyle::StandardPixmap fallback) const {
    const QColor tint = m_theme.muted();
    const QIcon icon = Icons::icon(symbol, tint);
    return icon.isNull() ? style()->standardIcon(fallback) : icon;
}

void FilesPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    syncFolder();
}

bool FilesPage::showsEmptyState() const {
    return m_editorStack->currentWidget() == m_emptyState;
}

void FilesPage::syncFolder() {
    const QString browsing = m_project.browsingFolder();
    const QString name =
        browsing.isEmpty() ? QStringLiteral("No project") : QFileInfo(browsing).fileName();
    // The list has a fixed width: a long folder name is shortened in the middle.
    m_folderLabel->ensurePolished();
    const int room = kFileListWidth - 28 - m_parentButton->sizeHint().width() - 40;
    m_folderLabel->setText(m_folderLabel->fontMetrics().elidedText(name, Qt::ElideMiddle, room));
    m_folderLabel->setToolTip(QDir::toNativeSeparators(browsing));
    m_parentButton->setEnabled(!browsing.isEmpty() && !QDir(browsing).isRoot());
}

void FilesPage::syncFiles() {
    if (m_searchField->text() != m_project.search()) {
        m_searchField->setText(m_project.search());
    }
    const QIcon folderIcon = themedIcon(QStringLiteral("folder"), QStyle::SP_DirIcon);
    const QIcon fileIcon = themedIcon(QStringLiteral("doc"), QStyle::SP_FileIcon);
    m_fileList->clear();
    for (const FileEntry& entry : m_project.filteredFiles()) {
        auto* item = new QListWidgetItem(entry.isDirectory ? folderIcon : fileIcon, entry.name());
        item->setData(Qt::UserRole, entry.path);
        item->setData(Qt::UserRole + 1, entry.isDirectory);
        item->setToolTip(entry.name());
        m_fileList->addItem(item);
    }
    markOpenFile();
}

void FilesPage::markOpenFile() {
    const QSignalBlocker quiet(m_fileList);
    m_fileList->clearSelection();
    for (int row = 0; row < m_fileList->count(); ++row) {
        QListWidgetItem* item = m_fileList->item(row);
        if (item->data(Qt::UserRole).toString() == m_project.selectedFile()) {
            m_fileList->setCurrentItem(item);
            return;
        }
    }
}

void FilesPage::syncOpenFile() {
    const QString file = m_project.selectedFile();
    m_fileName->setText(QFileInfo(file).fileName());
    m_fileName->setToolTip(QDir::toNativeSeparators(file));
    m_editorStack->setCurrentIndex(file.isEmpty() ? 0 : 1);
    markOpenFile();
    syncDirty();
}

void FilesPage::syncEditorText() {
    if (!m_reportingEdit) {
        m_editor->setText(m_project.editorText());
    }
    syncDirty();
}

void FilesPage::syncDirty() {
    m_dirtyDot->setVisible(m_project.fileIsDirty());
}

void FilesPage::syncRunnerCommand() {
    if (m_commandField->text() != m_project.runnerCommand()) {
        m_commandField->setText(m_project.runnerCommand());
    }
}

void FilesPage::applyTheme() {
    const QIcon up = Icons::icon(QStringLiteral("arrow.up"), m_theme.muted());
    if (!up.isNull()) {
        m_parentButton->setText(QString());
        m_parentButton->setIcon(up);
    }
    syncFiles();  // icons in the new colours
    m_editor->setFontSize(m_theme.fontSize() + 1);
    m_editor->setBackground(m_theme.codeBackground());
    // The file list and the text fields in the page's own look: rounded rows, roomier
    // fields.
    const auto css = [](QColor color, double alpha = 1.0) {
        color.setAlphaF(alpha);
        return QStringLiteral("rgba(%1, %2, %3, %4)")
            .arg(color.red())
            .arg(color.green())
            .arg(color.blue())
            .arg(QString::number(color.alphaF(), 'f', 3));
    };
    QString sheet = QStringLiteral(R"(
QListWidget#FileList { background: transparent; border: none; outline: 0; }
QListWidget#FileList::item { color: %text; padding: 4px 6px; border-radius: 6px; }
QListWidget#FileList::item:hover { background: %hover; }
QListWidget#FileList::item:selected { background: %accentSoft; color: %accent; }
QLineEdit { background: %bg; color: %text; border: 1px solid %border; border-radius: 8px;
            padding: 6px 10px; selection-background-color: %accentSoft; }
QLineEdit:focus { border-color: %accent; }
)");
    sheet.replace(QStringLiteral("%accentSoft"), css(m_theme.accent(), 0.2))
        .replace(QStringLiteral("%accent"), css(m_theme.accent()))
        .replace(QStringLiteral("%hover"), css(m_theme.text(), 0.07))
        .replace(QStringLiteral("%text"), css(m_theme.text()))
        .replace(QStringLiteral("%border"), css(m_theme.border()))
        .replace(QStringLiteral("%bg"), css(m_theme.bg()));
    setStyleSheet(sheet);
    m_dirtyDot->setStyleSheet(QStringLiteral("background: %1; border-radius: %2px;")
                                  .arg(m_theme.accent().name())
                                  .arg(kDirtyDotSize / 2));
}

void FilesPage::choose(const FileEntry& entry) {
    // A double click reports the row several times (click, activation): one choice counts.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (entry.path == m_lastChoice &&
        now - m_lastChoiceTime < QApplication::doubleClickInterval()) {
        return;
    }
    m_lastChoice = entry.path;
    m_lastChoiceTime = now;
    QTimer::singleShot(0, this, [this, entry] { m_project.openFile(entry); });
}

void FilesPage::openAt(const QString& file, int line) {
    if (m_project.selectedFile() != file) {
        m_project.openFile(FileEntry{file, false});
    }
    if (m_project.selectedFile() != file) {
        return;  // refused: unsaved edits kept, not text, too large
    }
    const QTextBlock block = m_editor->document()->findBlockByNumber(std::max(0, line - 1));
    if (block.isValid()) {
        m_editor->setTextCursor(QTextCursor(block));
        m_editor->centerCursor();
    }
    m_editor->setFocus();
}
