#include "ui/history/HistoryPage.h"

#include "core/appearance/Theme.h"
#include "core/services/Dialogs.h"
#include "core/workspace/HistoryStore.h"
#include "core/workspace/ProjectModel.h"
#include "ui/kit/AppStyle.h"
#include "ui/kit/Icons.h"
#include "ui/kit/Widgets.h"
#include "ui/navigation/Navigator.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

constexpr int kEntryIDRole = Qt::UserRole;

QString startDate(const HistoryEntry& entry) {
    return QLocale().toString(entry.started.toLocalTime().date(), QLocale::ShortFormat);
}

QString exitText(const HistoryEntry& entry) {
    const QString exit = QStringLiteral("Exit ") + QString::number(entry.exitCode);
    return entry.state.isEmpty() ? exit : entry.state + QStringLiteral(" · ") + exit;
}

// The assistant as it was named when the session ended; entries from before that was kept
// name the provider id.
QString assistantText(const HistoryEntry& entry) {
    return entry.assistant.isEmpty() ? entry.provider : entry.assistant;
}

QWidget* rowWidget(const HistoryEntry& entry) {
    auto* row = new QWidget;
    row->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* layout = Widgets::box<QVBoxLayout>(row, {12, 8, 12, 8}, 2);
    QLabel* title = Widgets::label(entry.title);
    title->setStyleSheet(QStringLiteral("font-weight: 600;"));
    layout->addWidget(title);
    auto* meta = new QHBoxLayout;
    meta->addWidget(
        Widgets::label(assistantText(entry) + QStringLiteral(" · ") + startDate(entry), "muted"));
    meta->addStretch(1);
    meta->addWidget(Widgets::label(exitText(entry), "muted"));
    layout->addLayout(meta);
    return row;
}

}  // namespace

HistoryPage::HistoryPage(HistoryStore& history, ProjectModel& project, Navigator& navigator,
                         Dialogs& dialogs, Theme& theme, QWidget* parent)
    : QWidget(parent),
      m_history(history),
      m_project(project),
      m_navigator(navigator),
      m_dialogs(dialogs),
      m_theme(theme) {
    auto* layout = Widgets::box<QVBoxLayout>(this, {28, 24, 28, 24}, 14);

    auto* header = new QHBoxLayout;
    auto* headings = new QVBoxLayout;
    headings->setSpacing(4);
    headings->addWidget(Widgets::label(QStringLiteral("Session memory"), "accent"));
    headings->addWidget(Widgets::label(QStringLiteral("Pick up the thread."), "headline"));
    headings->addWidget(Widgets::wrappingLabel(
        QStringLiteral("VELK saves the latest 50 completed terminal snapshots on this computer. "
                       "Original provider sessions stay in their own tools."),
        "muted"));
    header->addLayout(headings, 1);
    m_clear = Widgets::button(QStringLiteral("Clear history"));
    header->addWidget(m_clear, 0, Qt::AlignBottom);
    layout->addLayout(header);
    connect(m_clear, &QPushButton::clicked, this, &HistoryPage::clearHistory);

    m_body = new QStackedWidget;
    layout->addWidget(m_body, 1);

    m_emptyIcon = new QLabel;
    m_emptyState =
        Widgets::emptyState(QStringLiteral("Completed sessions will appear here."),
                            QStringLiteral("Your next session starts the story."), m_emptyIcon);
    m_body->addWidget(m_emptyState);

    auto* browser = new QWidget;
    auto* columns = Widgets::box<QHBoxLayout>(browser, {0, 0, 0, 0}, 16);
    auto* left = new QVBoxLayout;
    left->setSpacing(10);
    m_search = new QLineEdit;
    m_search->setPlaceholderText(QStringLiteral("Search completed sessions…"));
    left->addWidget(m_search);
    m_list = new QListWidget;
    m_list->setObjectName(QStringLiteral("HistoryList"));
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setResizeMode(QListView::Adjust);
    left->addWidget(m_list, 1);
    auto* leftHost = new QWidget;
    leftHost->setLayout(left);
    left->setContentsMargins(0, 0, 0, 0);
    leftHost->setFixedWidth(320);
    columns->addWidget(leftHost);

    QFrame* detail = Widgets::card();
    m_detail = detail;
    auto* detailLayout = Widgets::box<QVBoxLayout>(detail, {20, 18, 20, 18}, 8);
    auto* detailTop = new QHBoxLayout;
    auto* detailHeadings = new QVBoxLayout;
    m_detailTitle = Widgets::label(QString(), "title");
    m_detailMeta = Widgets::label(QString(), "muted");
    m_detailMeta->setTextInteractionFlags(Qt::TextSelectableByMouse);
    detailHeadings->addWidget(m_detailTitle);
    detailHeadings->addWidget(m_detailMeta);
    detailTop->addLayout(detailHeadings, 1);
    m_openFolder = Widgets::button(QStringLiteral("Open folder"));
    m_export = Widgets::button(QStringLiteral("Export"));
    detailTop->addWidget(m_openFolder, 0, Qt::AlignTop);
    detailTop->addWidget(m_export, 0, Qt::AlignTop);
    detailLayout->addLayout(detailTop);
    detailLayout->addWidget(Widgets::label(QStringLiteral("Saved output"), "accent"));
    m_output = new QPlainTextEdit;
    m_output->setReadOnly(true);
    m_output->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_output->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_output->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    detailLayout->addWidget(m_output, 1);
    columns->addWidget(detail, 1);
    m_body->addWidget(browser);

    connect(m_openFolder, &QPushButton::clicked, this, &HistoryPage::openFolder);
    connect(m_export, &QPushButton::clicked, this, [this] {
        if (const auto entry = shownEntry()) {
            m_project.exportText(entry->output, QStringLiteral("VELK-session.txt"));
        }
    });
    connect(m_search, &QLineEdit::textChanged, this, &HistoryPage::filterList);
    connect(m_list, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { select(item->data(kEntryIDRole).toString()); });
    connect(&m_history, &HistoryStore::historyChanged, this, &HistoryPage::rebuildList);
    connect(&m_theme, &Theme::changed, this, &HistoryPage::applyTheme);
    applyTheme();
    rebuildList();
}

std::optional<HistoryEntry> HistoryPage::shownEntry() const {
    for (const HistoryEntry& entry : m_listed) {
        if (entry.id == m_selectedID) {
            return entry;
        }
    }
    if (m_listed.isEmpty()) {
        return std::nullopt;
    }
    return m_listed.first();
}

void HistoryPage::select(const QString& entryID) {
    m_selectedID = entryID;
    syncDetail();
}

bool HistoryPage::showsEmptyState() const {
    return m_body->currentWidget() == m_emptyState;
}

void HistoryPage::clearHistory() {
    const Dialogs::Alert alert{.message = QStringLiteral("Clear VELK’s saved history?"),
                               .informativeText = QStringLiteral(
                                   "Provider session files will remain in their original tools."),
                               .buttons = {QStringLiteral("Clear"), QStringLiteral("Cancel")}};
    if (m_dialogs.alert(alert) == 0) {
        m_history.clear();
    }
}

void HistoryPage::openFolder() {
    const auto entry = shownEntry();
    if (!entry || !m_project.confirmDiscard()) {
        return;
    }
    // A folder that no longer exists gives the workspace's notice and changes nothing.
    m_project.setFolder(entry->directory);
    m_navigator.setDestination(Destination::Workspace);
}

void HistoryPage::rebuildList() {
    m_body->setCurrentWidget(m_history.history().isEmpty() ? m_emptyState : m_body->widget(1));
    {
        const QSignalBlocker blocker(m_list);
        m_list->clear();
        for (const HistoryEntry& entry : m_history.history()) {
            auto* item = new QListWidgetItem(m_list);
            item->setData(kEntryIDRole, entry.id);
            QWidget* row = rowWidget(entry);
            // The row follows the list's width; a little extra height keeps descenders whole.
            item->setSizeHint(QSize(1, row->sizeHint().height() + 6));
            m_list->setItemWidget(item, row);
        }
    }
    filterList();
}

void HistoryPage::filterList() {
    m_listed = m_history.filtered(m_search->text());
    // The rows are in the history's order and the matches keep it: one pass pairs them.
    qsizetype next = 0;
    for (int row = 0; row < m_list->count(); ++row) {
        QListWidgetItem* item = m_list->item(row);
        const bool matches =
            next < m_listed.size() && item->data(kEntryIDRole).toString() == m_listed[next].id;
        if (matches) {
            ++next;
        }
        if (item->isHidden() == matches) {
            item->setHidden(!matches);
        }
    }
    syncDetail();
}

void HistoryPage::syncDetail() {
    const auto entry = shownEntry();
    m_detail->setVisible(entry.has_value());
    {
        const QSignalBlocker blocker(m_list);
        for (int row = 0; row < m_list->count(); ++row) {
            QListWidgetItem* item = m_list->item(row);
            item->setSelected(entry && item->data(kEntryIDRole).toString() == entry->id);
        }
    }
    if (!entry) {
        return;
    }
    m_detailTitle->setText(entry->title);
    // The folder has a line of its own: a long path no longer pushes the date and the exit
    // status out of sight.
    m_detailMeta->setText(assistantText(*entry) + QStringLiteral(" · ") +
                          QLocale().toString(entry->started.toLocalTime(), QLocale::ShortFormat) +
                          QStringLiteral(" · ") + exitText(*entry) + QLatin1Char('\n') +
                          entry->directory);
    m_detailMeta->setToolTip(entry->directory);
    const QString shown = entry->output.isEmpty()
                              ? QStringLiteral("No terminal output was captured.")
                              : entry->output;
    if (m_shownOutput != shown) {
        m_shownOutput = shown;
        m_output->setPlainText(shown);
    }
}

void HistoryPage::applyTheme() {
    m_emptyIcon->setPixmap(
        Icons::pixmap(QStringLiteral("clock.arrow.circlepath"), m_theme.muted(), 42));
    m_openFolder->setIcon(Icons::icon(QStringLiteral("folder"), m_theme.text()));
    m_export->setIcon(Icons::icon(QStringLiteral("square.and.arrow.up"), m_theme.text()));
    const QString accentSoft = AppStyle::css(
        QColor(m_theme.accent().red(), m_theme.accent().green(), m_theme.accent().blue(), 40));
    m_list->setStyleSheet(
        QStringLiteral(
            "QListWidget { background: %1; border: 1px solid %2; border-radius: 10px; "
            "outline: none; } QListWidget::item { padding: 3px 4px; border-bottom: 1px solid %2; } "
            "QListWidget::item:selected { background: %3; }")
            .arg(AppStyle::css(m_theme.surface()), AppStyle::css(m_theme.border()), accentSoft));
}
