#include "ui/runs/TeamRunsPage.h"

#include "core/appearance/Theme.h"
#include "core/runs/FileDiff.h"
#include "core/runs/RunStore.h"
#include "core/services/DesktopServices.h"
#include "core/services/Dialogs.h"
#include "core/terminal/TerminalSession.h"
#include "core/workspace/AttentionBoard.h"
#include "core/workspace/Characters.h"
#include "core/workspace/ProjectModel.h"
#include "core/workspace/ProviderRegistry.h"
#include "core/workspace/ReviewLayout.h"
#include "core/workspace/SessionManager.h"
#include "core/workspace/TeamRunController.h"
#include "ui/navigation/Navigator.h"
#include "ui/runs/CompareDialog.h"
#include "ui/runs/DiffView.h"
#include "ui/runs/ReviewFileModel.h"
#include "ui/workspace/TerminalPane.h"

#include "ui/kit/Widgets.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QLocale>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int kPickerLength = 70;
constexpr int kReviewListWidth = 300;
constexpr int kSkippedListHeight = 96;
// A status longer than this many lines (the report of a rolled-back earlier apply lists every
// file) scrolls in a box of this height instead of pushing the list of changes off the page.
constexpr int kStatusLines = 6;

QString runIDText(const QUuid& id) {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

// What the review says about a change's permission bits: a change of mode (which the contents
// panes cannot show), and that special bits stay behind. Apply writes only the bits 0777, so
// that an assistant can never plant a setuid program in the project.
QStringList modeMarks(const FileChange& change) {
    QStringList marks;
    if (change.beforeMode && change.afterMode && *change.beforeMode != *change.afterMode) {
        marks.append(QStringLiteral("mode ") + QString::number(*change.beforeMode, 8) +
                     QStringLiteral(" → ") + QString::number(*change.afterMode, 8));
    }
    if (change.afterMode && (*change.afterMode & 07000) != 0) {
        marks.append(QStringLiteral("setuid/setgid/sticky bits are not applied"));
    }
    return marks;
}

// "+2 −1" in the colours of added and removed lines.
QString countsHtml(int added, int removed) {
    return QStringLiteral(
               "<span style=\"color:#3FB950\">+%1</span>&nbsp;"
               "<span style=\"color:#F85149\">−%2</span>")
        .arg(added)
        .arg(removed);
}

// Paints a row as usual, then its line counts at the right end.
class CountsDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QVariant counts = index.data(TeamRunsPage::kCountsRole);
        if (!counts.isValid()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const QPoint lines = counts.toPoint();
        const QString plus = QStringLiteral("+") + QString::number(lines.x());
        const QString minus = QStringLiteral(" −") + QString::number(lines.y());
        const QFontMetrics metrics(option.font);
        const int width = metrics.horizontalAdvance(plus + minus) + 12;
        // The row's background across its whole width, its text (elided) left of the counts.
        QStyleOptionViewItem full = option;
        initStyleOption(&full, index);
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &full, painter, widget);
        QStyleOptionViewItem narrow = option;
        narrow.rect.setRight(option.rect.right() - width);
        QStyledItemDelegate::paint(painter, narrow, index);
        QRect area = option.rect.adjusted(0, 0, -6, 0);
        painter->save();
        painter->setFont(option.font);
        painter->setPen(QColor(0xF8, 0x51, 0x49));
        painter->drawText(area, Qt::AlignRight | Qt::AlignVCenter, minus);
        area.setRight(area.right() - metrics.horizontalAdvance(minus));
        painter->setPen(QColor(0x3F, 0xB9, 0x50));
        painter->drawText(area, Qt::AlignRight | Qt::AlignVCenter, plus);
        painter->restore();
    }
};

// Whether `change` was applied from `copy` as it is now (the copy may have changed since).
bool wasApplied(const RunCopy& copy, const FileChange& change) {
    const auto found = copy.applied.find(change.path);
    return found != copy.applied.end() && found->second == change.after.value_or(QString());
}

// Whether some of the hunks of `change`, as the copy has it now, were applied from `copy`.
bool wasPartlyApplied(const RunCopy& copy, const FileChange& change) {
    const auto found = copy.partlyApplied.find(change.path);
    return found != copy.partlyApplied.end() && found->second == change.after.value_or(QString());
}

// "Applying 1,200 of 5,000 files…" and the steps before it.
QString progressText(const RunReview::Progress& progress) {
    const QLocale locale = QLocale::system();
    QString step;
    switch (progress.step) {
        case RunFiles::ApplyStep::Checking:
            step = QStringLiteral("Checking ");
            break;
        case RunFiles::ApplyStep::BackingUp:
            step = QStringLiteral("Backing up ");
            break;
        case RunFiles::ApplyStep::Writing:
            step = QStringLiteral("Applying ");
            break;
    }
    return step + locale.toString(progress.done) + QStringLiteral(" of ") +
           locale.toString(progress.total) + QStringLiteral(" files…");
}

// A path of more than four components as its first two and its last, so that the reason
// after it stays in view (a skipped folder may be hundreds of levels deep).
QString shortenedPath(const QString& path) {
    const QStringList parts = path.split(QLatin1Char('/'));
    if (parts.size() <= 4) {
        return path;
    }
    return parts[0] + u'/' + parts[1] + QStringLiteral("/…/") + parts.back();
}

// What a copy's card shows: the word, the colour of its dot and what set the state. A
// running copy shows what its session shows in a pane; an ended one how it ended.
struct CopyState {
    QString text;
    QColor colour;
    QString evidence;
    bool stalled = false;
};

CopyState copyState(const TeamRunController& teamRuns, const AttentionBoard* board,
                    const RunCopy& copy) {
    using Phase = TeamRunController::CopyPhase;
    const QColor grey = attentionColor(Attention::Idle, std::nullopt);
    const QColor red = attentionColor(Attention::Failed, std::nullopt);
    switch (teamRuns.copyPhase(copy)) {
        case Phase::SettingUp:
            return {QStringLiteral("Setting up…"), attentionColor(Attention::Working, {}), {}};
        case Phase::SetupFailed:
            return {copy.setupExitCode == TeamRunController::kSetupTimedOut
                        ? QStringLiteral("Setup timed out")
                        : QStringLiteral("Setup failed · exit ") +
                              QString::number(copy.setupExitCode.value_or(-1)),
                    red,
                    {}};
        case Phase::Running: {
            const SessionAttention* attention =
                board && copy.session ? board->attentionOf(*copy.session) : nullptr;
            if (!attention) {
                return {QStringLiteral("Running"), attentionColor(Attention::Working, {}), {}};
            }
            return {attention->label(), attentionColor(attention->state(), std::nullopt),
                    attention->evidence(), attention->state() == Attention::Stalled};
        }
        case Phase::Interrupted:
            return {QStringLiteral("Interrupted"), grey, {}};
        case Phase::Ended:
            break;
    }
    if (teamRuns.stoppedByUser(copy)) {
        return {QStringLiteral("Stopped"), grey, QStringLiteral("stopped from its card")};
    }
    const int code = copy.exitCode.value_or(-1);
    return {code == 0 ? QStringLiteral("Done") : attentionLabel(Attention::Failed, code),
            code == 0 ? grey : red, QStringLiteral("process exited with %1").arg(code)};
}

// "Codex is", "Claude Code and Codex are".
QString namesAre(const QStringList& names) {
    if (names.size() == 1) {
        return names.first() + QStringLiteral(" is");
    }
    return names.mid(0, names.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") +
           names.last() + QStringLiteral(" are");
}

// The buttons the copy's state offers.
void addCopyActions(QHBoxLayout* row, TeamRunController& teamRuns,
                    TeamRunController::CopyPhase phase, const QUuid& runID, const QUuid& copyID) {
    const auto add = [&](const QString& text,
                         void (TeamRunController::*action)(const QUuid&, const QUuid&)) {
        auto* button = Widgets::button(text);
        row->addWidget(button);
        QObject::connect(button, &QPushButton::clicked, &teamRuns,
                         [&teamRuns, action, runID, copyID] { (teamRuns.*action)(runID, copyID); });
    };
    if (phase == TeamRunController::CopyPhase::SetupFailed) {
        add(QStringLiteral("Retry"), &TeamRunController::retrySetup);
        add(QStringLiteral("Start anyway"), &TeamRunController::startWithoutSetup);
    } else if (phase == TeamRunController::CopyPhase::Interrupted) {
        add(QStringLiteral("Restart"), &TeamRunController::restartCopy);
    }
}

// Every card has Stop; it stops whatever runs in the copy and is off once nothing does.
void addStopButton(QHBoxLayout* row, TeamRunController& teamRuns, const RunCopy& copy,
                   const QUuid& runID, bool stalled) {
    auto* stop = Widgets::button(QStringLiteral("Stop"), stalled ? "primary" : nullptr);
    stop->setObjectName(QStringLiteral("copyStop"));
    const bool running = teamRuns.copyRunning(copy);
    stop->setEnabled(running);
    stop->setToolTip(running ? QStringLiteral("Stop this copy’s session; its files stay for review")
                             : QStringLiteral("Nothing runs in this copy"));
    row->addWidget(stop);
    QObject::connect(stop, &QPushButton::clicked, &teamRuns,
                     [&teamRuns, runID, copyID = copy.id] { teamRuns.stopCopy(runID, copyID); });
}

}  // namespace

TeamRunsPage::TeamRunsPage(TeamRunController& teamRuns, SessionManager& sessions,
                           const ProviderRegistry& providers, ProjectModel& project,
                           ReviewLayout& reviewLayout, Navigator& navigator, Dialogs& dialogs,
                           DesktopServices* desktop, const AttentionBoard* attention,
                           QWidget* parent)
    : QWidget(parent),
      m_teamRuns(teamRuns),
      m_sessions(sessions),
      m_providers(providers),
      m_project(project),
      m_navigator(navigator),
      m_dialogs(dialogs),
      m_desktop(desktop),
      m_attention(attention),
      m_layout(reviewLayout) {
    auto* layout = Widgets::box<QVBoxLayout>(this, {28, 24, 28, 24}, 14);
    layout->addWidget(
        Widgets::wrappingLabel(QStringLiteral("Build. Compare. Choose."), "headline"));
    layout->addWidget(
        Widgets::wrappingLabel(QStringLiteral("Your team’s work, in one place."), "muted"));
    auto* information = Widgets::card();
    auto* informationLayout = new QVBoxLayout(information);
    informationLayout->addWidget(Widgets::wrappingLabel(
        QStringLiteral("Each assistant works in its own copy. Review the output and "
                       "files, then choose what goes into your project."),
        "body"));
    layout->addWidget(information);

    m_stack = new QStackedWidget;
    m_emptyState = Widgets::emptyState(
        QStringLiteral("Start your first team run"),
        QStringLiteral("In Workspace, choose Separate copies, select your assistants and send a "
                       "task. The results will appear here."));
    m_stack->addWidget(m_emptyState);

    auto* content = new QWidget;
    auto* contentLayout = Widgets::box<QVBoxLayout>(content, {0, 0, 0, 0}, 12);
    contentLayout->addWidget(buildRunArea());
    contentLayout->addWidget(buildReviewArea(), 1);
    m_stack->addWidget(content);
    layout->addWidget(m_stack, 1);

    connect(&m_teamRuns, &TeamRunController::teamRunsChanged, this, &TeamRunsPage::scheduleSync);
    connect(&m_teamRuns, &TeamRunController::selectedRunIDChanged, this,
            &TeamRunsPage::scheduleSync);
    connect(&m_sessions, &SessionManager::sessionsChanged, this, &TeamRunsPage::scheduleSync);
    if (m_attention) {
        // Only the shown run's sessions change what the page shows.
        connect(m_attention, &AttentionBoard::attentionChanged, this, [this](const QUuid& id) {
            const std::optional<TeamRun> run = shownRun();
            if (run && std::any_of(run->copies.cbegin(), run->copies.cend(),
                                   [&id](const RunCopy& copy) { return copy.session == id; })) {
                scheduleSync();
            }
        });
    }
    syncRuns();
}

QWidget* TeamRunsPage::buildRunArea() {
    auto* area = new QWidget;
    auto* layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* bar = new QHBoxLayout;
    m_runPicker = new QComboBox;
    m_runPicker->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_runPicker->setMinimumContentsLength(40);
    m_compareButton = Widgets::button(QStringLiteral("Compare with AI"));
    m_nameField = new QLineEdit;
    m_nameField->setPlaceholderText(QStringLiteral("Name of this run"));
    m_nameField->hide();
    m_renameButton = Widgets::button(QStringLiteral("Rename"));
    m_deleteButton = Widgets::button(QStringLiteral("Delete run…"));
    bar->addWidget(m_runPicker, 1);
    bar->addWidget(m_nameField, 1);
    bar->addWidget(m_renameButton);
    bar->addWidget(m_deleteButton);
    bar->addWidget(m_compareButton);
    layout->addLayout(bar);
    m_compareReason = Widgets::wrappingLabel(QString(), "muted");
    m_compareReason->setAlignment(Qt::AlignRight);
    m_compareReason->hide();
    layout->addWidget(m_compareReason);
    m_runMessage = Widgets::wrappingLabel(QString(), "muted");
    m_runMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_runMessage->hide();
    layout->addWidget(m_runMessage);
    connect(m_renameButton, &QPushButton::clicked, this, &TeamRunsPage::startRename);
    connect(m_deleteButton, &QPushButton::clicked, this, &TeamRunsPage::deleteShownRun);
    connect(m_nameField, &QLineEdit::returnPressed, this, [this] {
        if (const std::optional<TeamRun> run = shownRun()) {
            m_teamRuns.renameRun(run->id, m_nameField->text().trimmed());
        }
        m_nameField->hide();
        m_runPicker->show();
    });
    m_nameField->installEventFilter(this);
    m_cards = new QWidget;
    m_cardsLayout = new QVBoxLayout(m_cards);
    m_cardsLayout->setContentsMargins(0, 0, 0, 0);
    m_cardsLayout->setSpacing(6);
    layout->addWidget(m_cards);

    connect(m_runPicker, &QComboBox::activated, this, [this](int index) {
        m_teamRuns.setSelectedRunID(m_runPicker->itemData(index).toString());
    });
    connect(m_compareButton, &QPushButton::clicked, this, [this] {
        if (const auto run = shownRun()) {
            m_teamRuns.summarizeRun(*run);
        }
    });
    return area;
}

QWidget* TeamRunsPage::buildReviewArea() {
    auto* area = Widgets::card();
    auto* layout = new QHBoxLayout(area);
    layout->setSpacing(12);

    auto* left = new QVBoxLayout;
    m_reviewTitle = Widgets::wrappingLabel(QString(), "title");
    m_counter = Widgets::wrappingLabel(QString(), "muted");
    m_reviewMessage = Widgets::wrappingLabel(QString(), "muted");
    m_changeList = new QListView;
    m_files = new ReviewFileModel(this);
    m_changeList->setModel(m_files);
    // Rows of one height are laid out without measuring each: thousands cost no more than ten.
    m_changeList->setUniformItemSizes(true);
    m_changeList->setMinimumWidth(kReviewListWidth);
    m_changeList->setItemDelegate(new CountsDelegate(m_changeList));
    m_skippedTitle = Widgets::wrappingLabel(QString(), "caption");
    m_skippedList = new QListWidget;
    m_skippedList->setMaximumHeight(kSkippedListHeight);
    m_skippedList->setSelectionMode(QAbstractItemView::NoSelection);
    m_selectAllButton = Widgets::button(QStringLiteral("Select all"));
    m_applyButton = Widgets::button(QString(), "primary");
    m_applyReason = Widgets::wrappingLabel(QString(), "muted");
    m_applyReason->setObjectName(QStringLiteral("applyReason"));
    m_statusLabel = Widgets::wrappingLabel(QString(), "muted");
    m_statusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_statusReport = new QPlainTextEdit;
    m_statusReport->setReadOnly(true);
    m_statusReport->setFixedHeight(m_statusReport->fontMetrics().lineSpacing() * kStatusLines +
                                   2 * m_statusReport->frameWidth() +
                                   2 * int(m_statusReport->document()->documentMargin()));
    m_statusReport->hide();
    left->addWidget(m_reviewTitle);
    auto* counters = new QHBoxLayout;
    m_lineTotals = Widgets::label(QString(), "muted");
    m_lineTotals->setTextFormat(Qt::RichText);
    counters->addWidget(m_counter, 1);
    counters->addWidget(m_lineTotals);
    left->addLayout(counters);
    left->addWidget(m_reviewMessage);
    left->addWidget(m_changeList, 1);
    left->addWidget(m_skippedTitle);
    left->addWidget(m_skippedList);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_selectAllButton);
    buttons->addStretch(1);
    buttons->addWidget(m_applyButton);
    left->addLayout(buttons);
    left->addWidget(m_applyReason);
    left->addWidget(m_statusLabel);
    left->addWidget(m_statusReport);
    layout->addLayout(left, 2);

    m_previewStack = new QStackedWidget;
    auto* nothingPicked =
        Widgets::wrappingLabel(QStringLiteral("Choose a file to compare its contents."), "muted");
    nothingPicked->setAlignment(Qt::AlignCenter);
    m_previewStack->addWidget(nothingPicked);
    auto* panes = new QWidget;
    auto* paneColumn = new QVBoxLayout(panes);
    paneColumn->setContentsMargins(0, 0, 0, 0);
    m_modeNote = Widgets::wrappingLabel(QString(), "muted");
    m_compareCopiesButton = Widgets::button(QStringLiteral("Compare copies"));
    m_compareProjectButton = Widgets::button(QStringLiteral("Compare with your project"));
    auto* noteRow = new QHBoxLayout;
    noteRow->addWidget(m_modeNote, 1);
    noteRow->addWidget(m_compareCopiesButton);
    noteRow->addWidget(m_compareProjectButton);
    m_openBothButton = Widgets::button(QStringLiteral("Open both versions"));
    m_openBothButton->hide();
    noteRow->addWidget(m_openBothButton);
    connect(m_openBothButton, &QPushButton::clicked, this, [this] {
        const std::optional<TeamRun> run = shownRun();
        const std::optional<RunCopy> copy = run ? findReviewedCopy(*run) : std::nullopt;
        if (!copy || !m_desktop || m_shownPreview.isEmpty()) {
            return;
        }
        const FileDiff& diff = m_diffView->diff();
        for (const auto& [state, root] : {std::pair{diff.before, RunStore::baselineFolder(*run)},
                                          std::pair{diff.after, copy->directory}}) {
            if (state != FileVersion::State::Absent) {
                m_desktop->openUrl(
                    QUrl::fromLocalFile(root + QLatin1Char('/') + m_shownPreview).toString());
            }
        }
    });
    paneColumn->addLayout(noteRow);
    connect(m_compareCopiesButton, &QPushButton::clicked, this, &TeamRunsPage::compareCopies);
    connect(m_compareProjectButton, &QPushButton::clicked, this, &TeamRunsPage::compareWithProject);
    m_diffView = new DiffView;
    m_diffView->setReviewActions(true);
    m_diffView->setSideBySide(m_layout.sideBySide());
    m_diffView->setWrapping(m_layout.wrapping());
    connect(m_diffView, &DiffView::sideBySideChanged, &m_layout, &ReviewLayout::setSideBySide);
    connect(m_diffView, &DiffView::wrappingChanged, &m_layout, &ReviewLayout::setWrapping);
    connect(m_diffView, &DiffView::applyHunksRequested, this, &TeamRunsPage::applyTickedHunks);
    connect(m_diffView, &DiffView::openRequested, this, &TeamRunsPage::openInEditor);
    paneColumn->addWidget(m_diffView, 1);
    m_previewStack->addWidget(panes);
    layout->addWidget(m_previewStack, 3);

    m_changeList->installEventFilter(this);
    for (QTextBrowser* text :
         {m_diffView->text(), m_diffView->leftText(), m_diffView->rightText()}) {
        text->installEventFilter(this);
    }
    connect(m_files, &ReviewFileModel::tickedChanged, this, &TeamRunsPage::syncApplyControls);
    connect(m_changeList->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) {
                    showPreview(current.data(ReviewFileModel::kPathRole).toString());
                }
            });
    connect(m_selectAllButton, &QPushButton::clicked, this, &TeamRunsPage::selectAll);
    connect(m_applyButton, &QPushButton::clicked, this, &TeamRunsPage::applySelected);
    return area;
}

bool TeamRunsPage::showsEmptyState() const {
    return m_stack->currentWidget() == m_emptyState;
}

std::optional<TeamRun> TeamRunsPage::shownRun() const {
    const QList<TeamRun>& runs = m_teamRuns.teamRuns();
    if (runs.isEmpty()) {
        return std::nullopt;
    }
    for (const TeamRun& run : runs) {
        if (runIDText(run.id) == m_teamRuns.selectedRunID()) {
            return run;
        }
    }
    return runs.first();
}

// Several model signals often arrive together (a session starts, its copy learns the id);
// one rebuild afterwards is enough and sees the sessions already running.
void TeamRunsPage::scheduleSync() {
    if (m_syncScheduled) {
        return;
    }
    m_syncScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_syncScheduled = false;
        syncRuns();
    });
}

void TeamRunsPage::syncRuns() {
    const std::optional<TeamRun> run = shownRun();
    m_stack->setCurrentIndex(run ? 1 : 0);
    {
        const QSignalBlocker blocker(m_runPicker);
        m_runPicker->clear();
        for (const TeamRun& each : m_teamRuns.teamRuns()) {
            QString text = Characters::first(each.title(), kPickerLength);
            if (const auto size = m_runSizes.find(each.id); size != m_runSizes.end()) {
                text += QStringLiteral("  ·  ") + describeSize(size->second.total);
            }
            m_runPicker->addItem(text, runIDText(each.id));
        }
        if (run) {
            m_runPicker->setCurrentIndex(m_runPicker->findData(runIDText(run->id)));
        }
    }
    QList<QUuid> ids;
    for (const TeamRun& each : m_teamRuns.teamRuns()) {
        ids.append(each.id);
    }
    if (ids != m_measuredRuns) {
        m_measuredRuns = ids;
        measureRuns();
    }
    if (!run) {
        return;
    }
    if (run->id != m_reviewRun) {
        // Another run is shown: its copies have nothing reviewed yet.
        m_reviewRun = run->id;
        closeReview();
        forgetReviewed();
    }
    syncCards(*run);
    syncReview();
}

void TeamRunsPage::syncCards(const TeamRun& run) {
    Widgets::clearLayout(m_cardsLayout);
    for (const RunCopy& copy : run.copies) {
        auto* frame = Widgets::card();
        auto* row = new QHBoxLayout(frame);
        auto* name = Widgets::wrappingLabel(m_providers.provider(copy.provider).name, "title");
        const TeamRunController::CopyPhase phase = m_teamRuns.copyPhase(copy);
        const CopyState shown = copyState(m_teamRuns, m_attention, copy);
        QString state = shown.text;
        if (!copy.extraFiles.isEmpty()) {
            state +=
                QStringLiteral(" · extra files: ") + copy.extraFiles.join(QStringLiteral(", "));
        }
        auto* dot = new QLabel;
        dot->setObjectName(QStringLiteral("copyDot"));
        dot->setFixedSize(8, 8);
        dot->setStyleSheet(
            QStringLiteral("background: %1; border-radius: 4px;").arg(shown.colour.name()));
        auto* stateLabel = Widgets::wrappingLabel(state, "muted");
        stateLabel->setObjectName(QStringLiteral("copyState"));
        stateLabel->setToolTip(shown.evidence);
        dot->setToolTip(shown.evidence);
        // Files this copy changed that other copies changed too, once a review has read them.
        if (m_review) {
            const RunReview::Overlaps& overlaps = m_review->overlaps();
            int shared = 0;
            std::vector<QUuid> others;
            if (const auto mine = overlaps.changedByCopy.find(copy.id);
                mine != overlaps.changedByCopy.end()) {
                for (const QString& path : mine->second) {
                    const std::vector<QUuid> changing = overlaps.othersChanging(copy.id, path);
                    shared += changing.empty() ? 0 : 1;
                    for (const QUuid& other : changing) {
                        if (std::find(others.begin(), others.end(), other) == others.end()) {
                            others.push_back(other);
                        }
                    }
                }
            }
            if (shared > 0) {
                auto* overlap = Widgets::wrappingLabel(
                    (shared == 1 ? QStringLiteral("1 file")
                                 : QString::number(shared) + QStringLiteral(" files")) +
                        QStringLiteral(" also changed by ") + copyNames(others),
                    "muted");
                overlap->setObjectName(QStringLiteral("copyOverlap"));
                row->addWidget(overlap);
            }
        }
        row->addWidget(name);
        row->addWidget(dot);
        row->addWidget(stateLabel, 1);
        auto* open = Widgets::button(QStringLiteral("Open working copy"));
        auto* output = Widgets::button(QStringLiteral("Output"));
        auto* review = Widgets::button(QStringLiteral("Review files"),
                                       reviewedCopy() == copy.id ? "primary" : nullptr);
        addCopyActions(row, m_teamRuns, phase, run.id, copy.id);
        addStopButton(row, m_teamRuns, copy, run.id, shown.stalled);
        row->addWidget(open);
        row->addWidget(output);
        row->addWidget(review);
        connect(open, &QPushButton::clicked, this, [this, copy] {
            if (m_desktop) {
                m_desktop->openUrl(QUrl::fromLocalFile(copy.directory).toString());
            }
        });
        connect(output, &QPushButton::clicked, this, [this, copy] { showOutput(copy); });
        connect(review, &QPushButton::clicked, this, [this, copy] { inspect(copy); });
        m_cardsLayout->addWidget(frame);
    }
    syncCompareControls(run);
}

void TeamRunsPage::syncCompareControls(const TeamRun& run) {
    // The comparison reads what the copies ended with; it waits for the last of them.
    QStringList running;
    for (const RunCopy& copy : run.copies) {
        if (m_teamRuns.copyRunning(copy)) {
            running.append(m_providers.provider(copy.provider).name);
        }
    }
    const QString reason =
        running.isEmpty()
            ? QString()
            : namesAre(running) + (running.size() == 1
                                       ? QStringLiteral(" still running — Stop it or wait "
                                                        "to compare the results.")
                                       : QStringLiteral(" still running — Stop them or wait "
                                                        "to compare the results."));
    m_compareButton->setEnabled(reason.isEmpty());
    m_compareButton->setToolTip(reason);
    m_compareReason->setText(reason);
    m_compareReason->setVisible(!reason.isEmpty());
}

QString TeamRunsPage::runningReason(const RunCopy& copy) const {
    const QString name = m_providers.provider(copy.provider).name;
    return (m_teamRuns.copyPhase(copy) == TeamRunController::CopyPhase::SettingUp
                ? QStringLiteral("The setup of ") + name + QStringLiteral("’s copy is")
                : name + QStringLiteral(" is")) +
           QStringLiteral(
               " still running — Stop it or wait. Apply is available once it has "
               "finished, so that the copy’s files no longer change.");
}

QString TeamRunsPage::copyNames(const std::vector<QUuid>& ids) const {
    QStringList names;
    if (const std::optional<TeamRun> run = shownRun()) {
        for (const RunCopy& copy : run->copies) {
            if (std::find(ids.begin(), ids.end(), copy.id) != ids.end()) {
                names.append(m_providers.provider(copy.provider).name);
            }
        }
    }
    return names.join(QStringLiteral(", "));
}

QStringList TeamRunsPage::changeMarks(const RunCopy& copy, const FileChange& change) const {
    QStringList marks = modeMarks(change);
    if (change.madeBySetup) {
        marks.append(QStringLiteral("made by setup"));
    }
    const bool applied = wasApplied(copy, change);
    if (applied) {
        marks.append(QStringLiteral("Applied"));
    } else if (wasPartlyApplied(copy, change)) {
        marks.append(QStringLiteral("Partly applied"));
    }
    if (!m_review) {
        return marks;
    }
    const RunReview::Overlaps& overlaps = m_review->overlaps();
    const std::vector<QUuid> others = overlaps.othersChanging(copy.id, change.path);
    if (!others.empty()) {
        marks.append(QStringLiteral("also changed by ") + copyNames(others));
    }
    if (const auto refused = m_refusals.find(change.path); refused != m_refusals.end()) {
        marks.append(QStringLiteral("refused: ") + refused->second);
    } else if (const auto changed = overlaps.projectChanged.find(change.path);
               changed != overlaps.projectChanged.end() && !applied) {
        // Applying it would be refused: the project no longer has the baseline's file.
        marks.append(QStringLiteral("will be refused: ") + changed->second);
    }
    return marks;
}

std::optional<QUuid> TeamRunsPage::reviewedCopy() const {
    return m_review ? std::optional(m_review->copy().id) : std::nullopt;
}

std::optional<RunCopy> TeamRunsPage::findReviewedCopy(const TeamRun& run) const {
    for (const RunCopy& copy : run.copies) {
        if (copy.id == reviewedCopy()) {
            return copy;
        }
    }
    return std::nullopt;
}

void TeamRunsPage::syncReview() {
    const std::optional<TeamRun> run = shownRun();
    const std::optional<RunCopy> copy = run ? findReviewedCopy(*run) : std::nullopt;
    m_reviewTitle->setText(copy ? m_providers.provider(copy->provider).name +
                                      QStringLiteral(" · files")
                                : QStringLiteral("Files"));
    if (!copy) {
        m_reviewMessage->setText(QStringLiteral("Choose an assistant’s files to review."));
    } else if (inspecting()) {
        m_reviewMessage->setText(QStringLiteral("Reading changes…"));
    } else {
        m_reviewMessage->clear();
    }
    m_reviewMessage->setVisible(!m_reviewMessage->text().isEmpty());
    m_changeList->setVisible(copy && !inspecting());
    m_counter->setText(QString::number(m_changes.size()) + QStringLiteral(" changed files"));
    m_counter->setVisible(copy && !inspecting());
    int added = 0;
    int removed = 0;
    if (m_review) {
        for (const auto& [path, counts] : m_review->lineCounts()) {
            added += counts.added;
            removed += counts.removed;
        }
    }
    const bool counted = m_review && !m_review->lineCounts().empty() && !inspecting();
    m_lineTotals->setText(counted ? countsHtml(added, removed) : QString());
    m_lineTotals->setVisible(counted);
    syncList();
    m_skippedList->clear();
    for (const RunFiles::SkippedEntry& entry : m_skipped) {
        auto* item =
            new QListWidgetItem(shortenedPath(entry.path) + QStringLiteral("   ") + entry.reason);
        item->setFlags(Qt::ItemIsEnabled);
        item->setToolTip(entry.path + QLatin1Char('\n') + entry.reason);
        m_skippedList->addItem(item);
    }
    m_skippedTitle->setText(QStringLiteral("Not compared (") + QString::number(m_skipped.size()) +
                            QLatin1Char(')'));
    const bool showSkipped = copy && !inspecting() && !m_skipped.empty();
    m_skippedTitle->setVisible(showSkipped);
    m_skippedList->setVisible(showSkipped);
    syncApplyControls();
    const bool longStatus = m_status.count(u'\n') >= kStatusLines;
    m_statusLabel->setText(longStatus ? QString() : m_status);
    m_statusLabel->setVisible(!m_status.isEmpty() && !longStatus);
    if (m_statusReport->toPlainText() != (longStatus ? m_status : QString())) {
        m_statusReport->setPlainText(longStatus ? m_status : QString());
    }
    m_statusReport->setVisible(longStatus);

    syncPreview();
}

// What the list shows beside each file; the ticks are the model's own and stay.
void TeamRunsPage::syncList() {
    const std::optional<TeamRun> run = shownRun();
    const std::optional<RunCopy> copy = run ? findReviewedCopy(*run) : std::nullopt;
    std::vector<QStringList> marks;
    marks.reserve(m_changes.size());
    for (const FileChange& change : m_changes) {
        marks.push_back(copy ? changeMarks(*copy, change) : modeMarks(change));
    }
    m_files->setMarks(std::move(marks));
    m_files->setCounts(m_review ? m_review->lineCounts()
                                : std::map<QString, LineDiff::LineCounts>());
    const int row = m_files->rowOf(m_previewPath);
    if (row >= 0 && m_changeList->currentIndex().row() != row) {
        m_changeList->setCurrentIndex(m_files->index(row));
    }
}

void TeamRunsPage::syncApplyControls() {
    const std::optional<TeamRun> run = shownRun();
    const std::optional<RunCopy> copy = run ? findReviewedCopy(*run) : std::nullopt;
    m_selectAllButton->setEnabled(!m_changes.empty());
    m_applyButton->setText(QStringLiteral("Apply selected (") +
                           QString::number(m_files->ticked().size()) + QLatin1Char(')'));
    QString reason;
    if (!copy || inspecting()) {
        reason.clear();
    } else if (applying()) {
        reason = m_progress.isEmpty() ? QStringLiteral("Applying…") : m_progress;
    } else if (m_teamRuns.copyRunning(*copy)) {
        reason = runningReason(*copy);
    } else if (m_changes.empty()) {
        reason.clear();
    } else if (m_files->ticked().isEmpty()) {
        reason = QStringLiteral("Tick the files to apply.");
    }
    m_applyButton->setEnabled(copy && !m_files->ticked().isEmpty() &&
                              !m_teamRuns.copyRunning(*copy) && !applying());
    m_applyButton->setToolTip(reason);
    m_applyReason->setText(reason);
    m_applyReason->setVisible(!reason.isEmpty());
}

void TeamRunsPage::syncPreview() {
    const std::optional<TeamRun> run = shownRun();
    const std::optional<RunCopy> copy = run ? findReviewedCopy(*run) : std::nullopt;
    if (m_previewPath.isEmpty() || !run || !copy) {
        m_previewStack->setCurrentIndex(0);
    } else {
        QString note;
        if (const int row = m_files->rowOf(m_previewPath); row >= 0) {
            const FileChange& change = m_changes[std::size_t(row)];
            const QStringList marks = modeMarks(change);
            if (!marks.isEmpty()) {
                note = (change.before == change.after ? QStringLiteral("Same contents · ")
                                                      : QString()) +
                       marks.join(QStringLiteral(" · "));
            }
        }
        m_modeNote->setText(note);
        m_modeNote->setVisible(!note.isEmpty());
        const RunReview::Overlaps& overlaps = m_review->overlaps();
        m_compareCopiesButton->setVisible(
            !overlaps.othersChanging(copy->id, m_previewPath).empty());
        m_compareProjectButton->setVisible(overlaps.projectChanged.contains(m_previewPath) ||
                                           m_refusals.contains(m_previewPath));
        // The diff is computed off the main thread (a file may hold up to 2 MB); the view
        // stays empty until it arrives rather than show another file's lines.
        if (m_requestedPreview != m_previewPath) {
            m_requestedPreview = m_previewPath;
            m_shownPreview.clear();
            m_diffView->clear();
            m_openBothButton->hide();
            m_review->diff(m_previewPath);
        }
        m_previewStack->setCurrentIndex(1);
    }
}

void TeamRunsPage::inspect(const RunCopy& copy) {
    const std::optional<TeamRun> run = shownRun();
    if (!run) {
        return;
    }
    if (reviewedCopy() != copy.id) {
        closeReview();
        auto* review =
            new RunReview(*run, copy, RunReview::Engine::files(m_teamRuns.limitsFor(*run)), this);
        connect(review, &RunReview::inspected, this,
                [this, review](const Result<RunFiles::Review>& result) {
                    if (review == m_review) {
                        inspectionArrived(result);
                    }
                });
        connect(review, &RunReview::diffed, this, [this, review](const FileDiff& diff) {
            if (review == m_review) {
                diffArrived(diff);
            }
        });
        connect(review, &RunReview::overlapsFound, this, [this, review] {
            if (review == m_review) {
                if (const std::optional<TeamRun> shown = shownRun()) {
                    syncCards(*shown);
                }
                syncReview();
            }
        });
        connect(review, &RunReview::lineCountsFound, this, [this, review] {
            if (review == m_review) {
                syncReview();
                if (m_sizesAfterReview) {
                    measureRuns();
                }
            }
        });
        connect(review, &RunReview::applied, this,
                [this, review](const Result<RunReview::Applied>& result) {
                    applyArrived(review, result);
                });
        connect(review, &RunReview::applyProgressed, this,
                [this, review](const RunReview::Progress& progress) {
                    if (review == m_review) {
                        m_progress = progressText(progress);
                        syncApplyControls();
                    }
                });
        m_review = review;
    }
    forgetReviewed();
    m_review->inspect();
    if (m_sizeJob) {
        measureRuns();  // again, once the list is read
    }
    syncCards(*run);
    syncReview();
}

// What was reviewed, selected and shown of the last copy: another copy starts without it.
void TeamRunsPage::forgetReviewed() {
    m_changes.clear();
    m_skipped.clear();
    m_files->setChanges({});
    m_previewPath.clear();
    m_requestedPreview.clear();
    m_shownPreview.clear();
    m_status.clear();
    m_refusals.clear();
}

// Another copy or run is chosen: the review of the last one goes, unless it is still applying.
void TeamRunsPage::closeReview() {
    if (m_review && !m_review->applying()) {
        delete m_review;
    }
    m_review = nullptr;
    if (m_sizesAfterReview) {
        measureRuns();
    }
}

void TeamRunsPage::inspectionArrived(const Result<RunFiles::Review>& result) {
    if (!result) {
        m_status = result.error().message;
        if (m_sizesAfterReview) {
            measureRuns();  // no lines are counted
        }
    } else {
        m_changes = result->changes;
        m_skipped = result->skipped;
        m_files->setChanges(m_changes);
        m_previewPath = m_changes.empty() ? QString() : m_changes.front().path;
        // The files may have changed since the texts were last read.
        m_requestedPreview.clear();
        if (m_changes.empty()) {
            m_status = QStringLiteral(
                "No file changes. Check the output for findings or setup instructions.");
        }
    }
    syncReview();
    Q_EMIT inspectionFinished();
}

void TeamRunsPage::diffArrived(const FileDiff& diff) {
    if (diff.path != m_requestedPreview) {
        return;
    }
    m_diffView->setDiff(diff);
    m_shownPreview = diff.path;
    m_openBothButton->setVisible(diff.kind == FileDiff::Kind::TooLarge);
}

const QSet<QString>& TeamRunsPage::selection() const {
    return m_files->ticked();
}

void TeamRunsPage::setTicked(const QString& path, bool ticked) {
    m_files->setTicked(path, ticked);
}

void TeamRunsPage::selectAll() {
    m_files->tickAll();
}

void TeamRunsPage::showPreview(const QString& path) {
    if (m_previewPath == path) {
        return;
    }
    m_previewPath = path;
    QTimer::singleShot(0, this, &TeamRunsPage::syncPreview);
}

void TeamRunsPage::applySelected() {
    const std::optional<TeamRun> run = shownRun();
    const std::optional<RunCopy> copy = run ? findReviewedCopy(*run) : std::nullopt;
    const QSet<QString>& ticked = m_files->ticked();
    if (!copy || ticked.isEmpty() || m_teamRuns.copyRunning(*copy) || applying()) {
        return;
    }
    if (m_project.fileIsDirty() && !m_project.confirmDiscard()) {
        return;
    }
    // The files are listed in a scrolling list of their own: the text says how many of each.
    QSet<QString> chosen;
    QStringList lines;
    std::map<QString, int> kinds;
    for (const FileChange& change : m_changes) {
        if (ticked.contains(change.path)) {
            chosen.insert(change.path);
            lines.append(change.kind() + QStringLiteral(": ") + change.path);
            ++kinds[change.kind()];
        }
    }
    QStringList counts;
    for (const QString& kind :
         {QStringLiteral("Changed"), QStringLiteral("Added"), QStringLiteral("Removed")}) {
        if (kinds[kind] > 0) {
            counts.append(QLocale::system().toString(kinds[kind]) + u' ' + kind.toLower());
        }
    }
    const Dialogs::Alert alert{
        .message = QStringLiteral("Apply ") + QLocale::system().toString(lines.size()) +
                   QStringLiteral(" reviewed files?"),
        .informativeText = QStringLiteral("Project: ") + run->project + QStringLiteral("\n\n") +
                           counts.join(QStringLiteral(", ")) +
                           QStringLiteral(".\n\nOriginal files are backed up inside this run. "
                                          "Conflicting changes are blocked."),
        .buttons = {QStringLiteral("Apply changes"), QStringLiteral("Cancel")},
        .details = lines};
    if (m_dialogs.alert(alert) != 0) {
        return;
    }
    // The dialog ran the event loop: the review may have been closed meanwhile.
    if (reviewedCopy() == copy->id && m_review->apply(chosen)) {
        m_progress.clear();
        syncReview();
    }
}

void TeamRunsPage::applyTickedHunks() {
    const std::optional<TeamRun> run = shownRun();
    const std::optional<RunCopy> copy = run ? findReviewedCopy(*run) : std::nullopt;
    const std::vector<HunkMerge::Range> hunks = m_diffView->tickedHunks();
    const QString path = m_shownPreview;
    if (!copy || hunks.empty() || path.isEmpty() || m_teamRuns.copyRunning(*copy) || applying()) {
        if (copy && m_teamRuns.copyRunning(*copy)) {
            m_status = runningReason(*copy);
            syncReview();
        }
        return;
    }
    if (m_project.fileIsDirty() && !m_project.confirmDiscard()) {
        return;
    }
    const Dialogs::Alert alert{
        .message = QStringLiteral("Apply ") + QString::number(hunks.size()) +
                   QStringLiteral(" of ") + QString::number(m_diffView->hunkCount()) +
                   QStringLiteral(" changes to ") + path + u'?',
        .informativeText = QStringLiteral("Project: ") + run->project +
                           QStringLiteral("\n\nThe other changes of this file stay as your "
                                          "project has them. The original file is backed up "
                                          "inside this run. Conflicting changes are blocked."),
        .buttons = {QStringLiteral("Apply changes"), QStringLiteral("Cancel")}};
    if (m_dialogs.alert(alert) != 0) {
        return;
    }
    if (reviewedCopy() == copy->id && m_review->applyHunks(path, hunks)) {
        m_progress.clear();
        syncReview();
    }
}

void TeamRunsPage::openInEditor(int oldLine, int newLine) {
    const std::optional<TeamRun> run = shownRun();
    const std::optional<RunCopy> copy = run ? findReviewedCopy(*run) : std::nullopt;
    const int row = m_files->rowOf(m_previewPath);
    if (!copy || row < 0) {
        return;
    }
    // The project's file numbers its lines as the baseline does until the copy's file is
    // applied; a file only the copy has opens there.
    const FileChange& change = m_changes[std::size_t(row)];
    const QString inProject = run->project + u'/' + change.path;
    if (QFileInfo(inProject).isFile()) {
        const bool applied = wasApplied(*copy, change);
        const int line =
            applied ? (newLine > 0 ? newLine : oldLine) : (oldLine > 0 ? oldLine : newLine);
        m_navigator.showInEditor(inProject, line);
    } else {
        m_navigator.showInEditor(copy->directory + u'/' + change.path,
                                 newLine > 0 ? newLine : oldLine);
    }
}

void TeamRunsPage::applyArrived(RunReview* review, const Result<RunReview::Applied>& result) {
    // A review replaced while it applied only lets the editor follow its files.
    const bool shown = review == m_review;
    if (!shown) {
        review->deleteLater();
    }
    if (!result) {
        if (shown) {
            m_refusals = review->refusals();
            m_status = result.error().message;
            syncReview();
        }
        Q_EMIT applyFinished();
        return;
    }
    std::optional<FileChange> partOf;
    if (result->hunks > 0) {
        // The hunks were taken from the copy's file as the review read it.
        for (const FileChange& change : review->changes()) {
            if (change.path == result->changes.front().path) {
                partOf = change;
            }
        }
    }
    m_teamRuns.recordApplied(review->run().id, review->copy().id, result->changes, partOf);
    if (shown) {
        m_refusals.clear();
        const QString applied =
            result->hunks > 0
                ? QStringLiteral("Applied ") + QString::number(result->hunks) +
                      (result->hunks == 1 ? QStringLiteral(" change to ")
                                          : QStringLiteral(" changes to ")) +
                      result->changes.front().path +
                      QStringLiteral(". The original is saved in the run’s backup folder.")
                : QStringLiteral("Applied ") + QString::number(result->changes.size()) +
                      QStringLiteral(" files. Originals are saved in the run’s backup folder.");
        if (result->hunks == 0) {
            m_files->clearTicks();
        } else {
            // The file's diff is read again, its ticks cleared: what was applied is done.
            m_requestedPreview.clear();
        }
        m_status = RunReview::withRecoveries(result->recovered, applied);
        syncReview();
    }
    measureRuns();  // the apply's backups take room in the run
    m_project.refreshFiles();
    QStringList locations;
    for (const FileChange& change : result->changes) {
        locations.append(review->run().project + QLatin1Char('/') + change.path);
    }
    m_project.reloadAppliedFiles(locations);
    Q_EMIT applyFinished();
}

void TeamRunsPage::compareCopies() {
    const std::optional<TeamRun> run = shownRun();
    const std::optional<RunCopy> copy = run ? findReviewedCopy(*run) : std::nullopt;
    if (!copy || m_previewPath.isEmpty()) {
        return;
    }
    const std::vector<QUuid> others = m_review->overlaps().othersChanging(copy->id, m_previewPath);
    std::vector<CompareDialog::Version> versions;
    for (const RunCopy& each : run->copies) {
        if (each.id == copy->id ||
            std::find(others.begin(), others.end(), each.id) != others.end()) {
            versions.emplace_back(m_providers.provider(each.provider).name, each.directory);
        }
    }
    delete m_compareDialog;
    m_compareDialog = new CompareDialog(QStringLiteral("Copies compared"), m_previewPath,
                                        RunStore::baselineFolder(*run), versions, this);
    m_compareDialog->setAttribute(Qt::WA_DeleteOnClose);
    m_compareDialog->show();
}

void TeamRunsPage::compareWithProject() {
    const std::optional<TeamRun> run = shownRun();
    const std::optional<RunCopy> copy = run ? findReviewedCopy(*run) : std::nullopt;
    if (!copy || m_previewPath.isEmpty()) {
        return;
    }
    delete m_compareDialog;
    m_compareDialog = new CompareDialog(
        QStringLiteral("Your project and the copy"), m_previewPath, RunStore::baselineFolder(*run),
        {{QStringLiteral("Your project now"), run->project},
         {m_providers.provider(copy->provider).name + QStringLiteral("’s copy"), copy->directory}},
        this);
    m_compareDialog->setAttribute(Qt::WA_DeleteOnClose);
    m_compareDialog->show();
}

// Sizes are measured on a pool thread: a run holds a copy of the project per assistant.
void TeamRunsPage::measureRuns() {
    if (m_sizeJob) {
        m_sizeJob->cancel();
        m_sizeJob.reset();
    }
    if (inspecting()) {
        m_sizesAfterReview = true;
        return;
    }
    m_sizesAfterReview = false;
    std::vector<TeamRun> runs(m_teamRuns.teamRuns().begin(), m_teamRuns.teamRuns().end());
    m_sizeJob = runInBackground(
        this,
        [runs](const BackgroundJob& job) {
            std::map<QUuid, RunStore::DiskUsage> sizes;
            for (const TeamRun& run : runs) {
                if (job.cancelled()) {
                    break;
                }
                sizes[run.id] = RunStore::diskUsage(run, &job);
            }
            return sizes;
        },
        [this](const std::map<QUuid, RunStore::DiskUsage>& sizes) {
            m_sizeJob.reset();
            m_runSizes = sizes;
            syncRuns();
            Q_EMIT runSizesMeasured();
        });
}

void TeamRunsPage::setRunMessage(const QString& message) {
    m_runMessage->setText(message);
    m_runMessage->setVisible(!message.isEmpty());
}

void TeamRunsPage::startRename() {
    const std::optional<TeamRun> run = shownRun();
    if (!run) {
        return;
    }
    m_nameField->setText(run->title());
    m_runPicker->hide();
    m_nameField->show();
    m_nameField->selectAll();
    m_nameField->setFocus();
}

bool TeamRunsPage::eventFilter(QObject* watched, QEvent* event) {
    // The review's keys, in the list of files and in the diff: j/k next/previous file, n/p
    // next/previous change, space ticks the file shown.
    if ((watched == m_changeList || watched == m_diffView->text() ||
         watched == m_diffView->leftText() || watched == m_diffView->rightText()) &&
        event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            const int row = m_changeList->currentIndex().row();
            switch (key->key()) {
                case Qt::Key_J:
                case Qt::Key_K: {
                    const int next = row + (key->key() == Qt::Key_J ? 1 : -1);
                    if (next >= 0 && next < m_files->rowCount()) {
                        m_changeList->setCurrentIndex(m_files->index(next));
                    }
                    return true;
                }
                case Qt::Key_N:
                    m_diffView->showNextChange();
                    return true;
                case Qt::Key_P:
                    m_diffView->showPreviousChange();
                    return true;
                case Qt::Key_Space:
                    if (const QModelIndex current = m_changeList->currentIndex();
                        current.isValid()) {
                        const QString path = current.data(ReviewFileModel::kPathRole).toString();
                        m_files->setTicked(path, !m_files->ticked().contains(path));
                    }
                    return true;
                default:
                    break;
            }
        }
    }
    if (watched == m_nameField && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        m_nameField->hide();
        m_runPicker->show();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TeamRunsPage::deleteShownRun() {
    const std::optional<TeamRun> run = shownRun();
    if (!run || m_deleting) {
        return;
    }
    for (const RunCopy& copy : run->copies) {
        if (m_teamRuns.copyRunning(copy)) {
            setRunMessage(QStringLiteral("Stop the assistants of this run before deleting it."));
            Q_EMIT runDeleted();
            return;
        }
    }
    if (m_review && m_review->run().id == run->id && m_review->applying()) {
        setRunMessage(QStringLiteral("Wait for the apply to finish before deleting the run."));
        Q_EMIT runDeleted();
        return;
    }
    m_deleting = true;
    m_deleteButton->setEnabled(false);
    runInBackground(
        this,
        [run = *run, root = m_teamRuns.runStorageRoot()] {
            return std::make_pair(RunStore::removalRefusal(run, root), RunStore::diskUsage(run));
        },
        [this, run = *run](const std::pair<QString, RunStore::DiskUsage>& found) {
            const auto finish = [this](const QString& message) {
                m_deleting = false;
                m_deleteButton->setEnabled(true);
                setRunMessage(message);
                Q_EMIT runDeleted();
            };
            const auto& [refusal, usage] = found;
            if (!refusal.isEmpty()) {
                finish(refusal);
                return;
            }
            const Dialogs::Alert confirm{
                .message = QStringLiteral("Delete this run?"),
                .informativeText =
                    QStringLiteral("“") + Characters::first(run.title(), kPickerLength) +
                    QStringLiteral("”\n\nIts copies, baseline and assistants’ output are "
                                   "deleted, freeing ") +
                    describeSize(usage.total - usage.backups) +
                    QStringLiteral(". Your project is not touched."),
                .buttons = {QStringLiteral("Delete run"), QStringLiteral("Cancel")}};
            if (m_dialogs.alert(confirm) != 0) {
                finish(QString());
                return;
            }
            bool withBackups = false;
            if (usage.backups > 0) {
                const Dialogs::Alert backups{
                    .message = QStringLiteral("Delete the backups too?"),
                    .informativeText =
                        QStringLiteral("They hold the project files that applies from this run "
                                       "replaced (") +
                        describeSize(usage.backups) +
                        QStringLiteral("). Without them, those applies can no longer be undone "
                                       "by hand."),
                    .buttons = {QStringLiteral("Keep backups"), QStringLiteral("Delete backups")}};
                withBackups = m_dialogs.alert(backups) == 1;
            }
            runInBackground(
                this,
                [run, withBackups, root = m_teamRuns.runStorageRoot()] {
                    return RunStore::remove(run, root, withBackups);
                },
                [this, run, withBackups, usage, finish](const Result<qint64>& freed) {
                    if (!freed) {
                        finish(freed.error().message);
                        return;
                    }
                    if (m_review && m_review->run().id == run.id) {
                        closeReview();
                        forgetReviewed();
                    }
                    m_teamRuns.forgetRun(run.id);
                    syncRuns();
                    QString message = QStringLiteral("Run deleted. ") +
                                      describeSize(freed.value()) + QStringLiteral(" freed.");
                    if (!withBackups && usage.backups > 0) {
                        message += QStringLiteral(" Its backups are kept in ") + run.root +
                                   QStringLiteral(".");
                    }
                    finish(message);
                });
        });
}

void TeamRunsPage::showOutput(const RunCopy& copy) {
    if (copy.session) {
        if (m_sessions.find(*copy.session)) {
            m_sessions.setActiveSessionID(*copy.session);
            m_navigator.setFocusMode(true);
            m_navigator.setDestination(Destination::Workspace);
            return;
        }
    }
    const std::optional<TeamRun> run = shownRun();
    if (!run) {
        return;
    }
    delete m_outputSheet;
    m_outputSheet = new QDialog(this);
    m_outputSheet->setWindowTitle(QStringLiteral("Assistant output"));
    m_outputSheet->setAttribute(Qt::WA_DeleteOnClose);
    m_outputSheet->resize(720, 480);
    auto* layout = new QVBoxLayout(m_outputSheet);
    layout->addWidget(Widgets::wrappingLabel(QStringLiteral("Assistant output"), "title"));
    auto* text = new QPlainTextEdit(m_teamRuns.runOutput(copy, *run));
    text->setReadOnly(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    layout->addWidget(text, 1);
    Widgets::addDoneButton(m_outputSheet, layout);
    m_outputSheet->setModal(true);
    m_outputSheet->show();
}
