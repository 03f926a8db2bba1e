#include "ui/runs/DiffView.h"

#include "core/files/Highlighter.h"
#include "ui/kit/Widgets.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>
#include <tuple>

const QColor DiffView::kAddedLine = QColor(46, 160, 67, 48);
const QColor DiffView::kAddedWord = QColor(46, 160, 67, 130);
const QColor DiffView::kRemovedLine = QColor(248, 81, 73, 48);
const QColor DiffView::kRemovedWord = QColor(248, 81, 73, 130);

namespace {

const QColor kEditorBackground(0x14, 0x14, 0x13);
const QColor kEditorText(0xD0, 0xDE, 0xEB);
const QColor kGutterText(0x8B, 0x94, 0x9E);
const QColor kFoldText(0x58, 0xA6, 0xFF);
const QColor kFoldBackground(56, 139, 253, 28);
const QColor kEmptySide(127, 127, 127, 22);
// The longest the view writes rows before it lets the window handle events again.
constexpr qint64 kSliceMs = 20;
// Lines of context kept above a change that n/p scrolls to.
constexpr int kLinesAboveChange = 2;

QString foldText(int count) {
    return QStringLiteral("⋯  Show ") + QString::number(count) +
           (count == 1 ? QStringLiteral(" more line") : QStringLiteral(" more lines"));
}

QColor lineBackground(DiffLine::Kind kind) {
    switch (kind) {
        case DiffLine::Kind::Added:
            return DiffView::kAddedLine;
        case DiffLine::Kind::Removed:
            return DiffView::kRemovedLine;
        default:
            return QColor(Qt::transparent);
    }
}

QColor wordBackground(DiffLine::Kind kind) {
    return kind == DiffLine::Kind::Added ? DiffView::kAddedWord : DiffView::kRemovedWord;
}

bool isChange(const DiffLine& line) {
    return line.kind == DiffLine::Kind::Added || line.kind == DiffLine::Kind::Removed;
}

// Writes the line's text in its syntax colours, the changed words on a stronger background.
void insertLineText(QTextCursor& cursor, const DiffLine& line, const Highlighter& colors) {
    if (line.kind == DiffLine::Kind::Note) {
        QTextCharFormat format;
        format.setForeground(kGutterText);
        format.setFontItalic(true);
        cursor.insertText(line.text, format);
        return;
    }
    const auto styleAt = [&](qsizetype unit) {
        return line.styles.size() == line.text.size() ? Highlighter::Style(line.styles[unit])
                                                      : Highlighter::kDefaultStyle;
    };
    std::vector<bool> changed(std::size_t(line.text.size()), false);
    for (const DiffLine::Span& span : line.changedWords) {
        for (int unit = span.start; unit < span.start + span.length && unit < line.text.size();
             ++unit) {
            changed[std::size_t(unit)] = true;
        }
    }
    qsizetype start = 0;
    while (start < line.text.size()) {
        qsizetype end = start + 1;
        while (end < line.text.size() && styleAt(end) == styleAt(start) &&
               changed[std::size_t(end)] == changed[std::size_t(start)]) {
            ++end;
        }
        QTextCharFormat format;
        format.setForeground(colors.color(styleAt(start)));
        if (changed[std::size_t(start)]) {
            format.setBackground(wordBackground(line.kind));
        }
        cursor.insertText(line.text.mid(start, end - start), format);
        start = end;
    }
}

QTextCharFormat gutterFormat() {
    QTextCharFormat format;
    format.setForeground(kGutterText);
    return format;
}

QTextCharFormat foldFormat(int fold) {
    QTextCharFormat format;
    format.setForeground(kFoldText);
    format.setAnchor(true);
    format.setAnchorHref(QStringLiteral("fold:") + QString::number(fold));
    return format;
}

QString number(int value, int width) {
    return (value > 0 ? QString::number(value) : QString()).rightJustified(width, u' ');
}

}  // namespace

QTextBrowser* DiffView::makeBrowser() {
    auto* view = new QTextBrowser;
    view->setOpenLinks(false);
    view->setUndoRedoEnabled(false);
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // The code editor's ground, on which the syntax colours are made to be read.
    view->setStyleSheet(QStringLiteral("QTextBrowser { background-color: %1; color: %2; }")
                            .arg(kEditorBackground.name(), kEditorText.name()));
    connect(view, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        if (url.scheme() == QLatin1String("fold")) {
            unfold(url.path().toInt());
        } else if (url.scheme() == QLatin1String("hunk")) {
            const int hunk = url.path().toInt();
            setHunkTicked(hunk, !hunkTicked(hunk));
        }
    });
    return view;
}

QTextDocument* DiffView::newDocument(QTextBrowser* owner, bool wrap) const {
    auto* document = new QTextDocument(owner);
    document->setUndoRedoEnabled(false);
    document->setDefaultFont(owner->font());
    QTextOption option = document->defaultTextOption();
    option.setWrapMode(wrap ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    option.setTabStopDistance(4 * QFontMetricsF(owner->font()).horizontalAdvance(u' '));
    document->setDefaultTextOption(option);
    return document;
}

// The view deletes its own first document when given another; the ones made here are the
// view's children and go when replaced.
void DiffView::install(QTextBrowser* view, QTextDocument* document) {
    QTextDocument* old = view->document();
    const bool madeHere = old->parent() == view;
    view->setDocument(document);
    if (madeHere) {
        delete old;
    }
}

DiffView::DiffView(QWidget* parent) : QWidget(parent) {
    auto* layout = Widgets::box<QVBoxLayout>(this, {0, 0, 0, 0}, 6);
    auto* bar = new QHBoxLayout;
    m_counts = Widgets::label(QString(), "muted");
    m_counts->setTextFormat(Qt::RichText);
    m_unifiedButton = Widgets::button(QStringLiteral("Unified"));
    m_sideBySideButton = Widgets::button(QStringLiteral("Side by side"));
    auto* layouts = new QButtonGroup(this);
    for (QPushButton* button : {m_unifiedButton, m_sideBySideButton}) {
        button->setCheckable(true);
        layouts->addButton(button);
    }
    m_wrapBox = new QCheckBox(QStringLiteral("Wrap lines"));
    m_applyHunksButton = Widgets::button(QString(), "primary");
    m_applyHunksButton->hide();
    m_openButton = Widgets::button(QStringLiteral("Open in editor"));
    m_openButton->setToolTip(QStringLiteral("Edit your project’s file at this line"));
    bar->addWidget(m_counts);
    bar->addStretch(1);
    bar->addWidget(m_applyHunksButton);
    bar->addWidget(m_openButton);
    bar->addWidget(m_unifiedButton);
    bar->addWidget(m_sideBySideButton);
    bar->addWidget(m_wrapBox);
    layout->addLayout(bar);

    m_stack = new QStackedWidget;
    m_text = makeBrowser();
    m_left = makeBrowser();
    m_right = makeBrowser();
    m_panes = new QWidget;
    auto* panes = Widgets::box<QHBoxLayout>(m_panes, {0, 0, 0, 0}, 4);
    panes->addWidget(m_left, 1);
    panes->addWidget(m_right, 1);
    for (QTextBrowser* side : {m_left, m_right}) {
        side->setLineWrapMode(QTextEdit::NoWrap);
    }
    // The two sides scroll as one.
    connect(m_left->verticalScrollBar(), &QScrollBar::valueChanged, m_right->verticalScrollBar(),
            &QScrollBar::setValue);
    connect(m_right->verticalScrollBar(), &QScrollBar::valueChanged, m_left->verticalScrollBar(),
            &QScrollBar::setValue);
    m_summary = Widgets::wrappingLabel(QString(), "muted");
    m_summary->setAlignment(Qt::AlignCenter);
    m_stack->addWidget(m_text);
    m_stack->addWidget(m_panes);
    m_stack->addWidget(m_summary);
    layout->addWidget(m_stack, 1);

    connect(m_unifiedButton, &QPushButton::clicked, this, [this] {
        setSideBySide(false);
        Q_EMIT sideBySideChanged(false);
    });
    connect(m_sideBySideButton, &QPushButton::clicked, this, [this] {
        setSideBySide(true);
        Q_EMIT sideBySideChanged(true);
    });
    connect(m_applyHunksButton, &QPushButton::clicked, this, &DiffView::applyHunksRequested);
    connect(m_openButton, &QPushButton::clicked, this, [this] {
        const auto [oldLine, newLine] = caretLine();
        Q_EMIT openRequested(oldLine, newLine);
    });
    for (QTextBrowser* view : {m_text, m_left, m_right}) {
        view->viewport()->installEventFilter(this);
    }
    connect(m_wrapBox, &QCheckBox::clicked, this, [this](bool checked) {
        setWrapping(checked);
        Q_EMIT wrappingChanged(checked);
    });
    syncControls();
    clear();
}

void DiffView::setDiff(FileDiff diff) {
    m_diff = std::move(diff);
    m_hasDiff = true;
    m_tickedHunks.clear();
    m_hunksTickable = m_reviewActions && m_diff.kind == FileDiff::Kind::Text &&
                      m_diff.before == FileVersion::State::Read &&
                      m_diff.after == FileVersion::State::Read && !m_diff.hunks.empty();
    syncHunkButton();
    computeFolds();
    render();
}

// Documents still being written when another diff or layout comes are never shown.
void DiffView::dropUnshown() {
    if (writing()) {
        for (QTextCursor& cursor : m_cursors) {
            if (!cursor.isNull()) {
                delete cursor.document();
            }
        }
    }
    for (QTextCursor& cursor : m_cursors) {
        cursor = QTextCursor();
    }
}

void DiffView::clear() {
    dropUnshown();
    ++m_generation;
    m_rows.clear();
    m_nextRow = 0;
    m_diff = {};
    m_hasDiff = false;
    m_hunksTickable = false;
    m_tickedHunks.clear();
    syncHunkButton();
    m_folds.clear();
    m_changeStarts.clear();
    m_text->clear();
    m_left->clear();
    m_right->clear();
    m_counts->clear();
    m_stack->setCurrentWidget(m_text);
}

void DiffView::setSideBySide(bool sideBySide) {
    if (m_sideBySide == sideBySide) {
        return;
    }
    m_sideBySide = sideBySide;
    syncControls();
    if (m_hasDiff) {
        render();
    }
}

void DiffView::setWrapping(bool wrapping) {
    if (m_wrapping == wrapping) {
        return;
    }
    m_wrapping = wrapping;
    syncControls();
    if (m_hasDiff) {
        render();
    }
}

void DiffView::syncControls() {
    m_unifiedButton->setChecked(!m_sideBySide);
    m_sideBySideButton->setChecked(m_sideBySide);
    m_wrapBox->setChecked(m_wrapping);
    m_text->setLineWrapMode(m_wrapping ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
    m_wrapBox->setEnabled(!m_sideBySide);
    m_wrapBox->setToolTip(m_sideBySide ? QStringLiteral("Side by side keeps each line in its "
                                                        "row; long lines scroll sideways.")
                                       : QString());
}

void DiffView::unfold(int fold) {
    if (fold < 0 || fold >= foldCount() || m_folds[std::size_t(fold)].open) {
        return;
    }
    m_folds[std::size_t(fold)].open = true;
    const int scrolled = primaryText()->verticalScrollBar()->value();
    render();
    primaryText()->verticalScrollBar()->setValue(scrolled);
}

void DiffView::setHunkTicked(int hunk, bool ticked) {
    if (!m_hunksTickable || hunk < 0 || hunk >= hunkCount() || hunkTicked(hunk) == ticked) {
        return;
    }
    if (ticked) {
        m_tickedHunks.insert(hunk);
    } else {
        m_tickedHunks.remove(hunk);
    }
    syncHunkButton();
    const int scrolled = primaryText()->verticalScrollBar()->value();
    render();
    primaryText()->verticalScrollBar()->setValue(scrolled);
}

std::vector<HunkMerge::Range> DiffView::tickedHunks() const {
    std::vector<HunkMerge::Range> ranges;
    for (int hunk = 0; hunk < hunkCount(); ++hunk) {
        if (hunkTicked(hunk)) {
            ranges.push_back(HunkMerge::Range::of(m_diff.hunks[std::size_t(hunk)]));
        }
    }
    return ranges;
}

void DiffView::syncHunkButton() {
    const int ticked = int(m_tickedHunks.size());
    m_applyHunksButton->setText(
        QStringLiteral("Apply ") + QString::number(ticked) + QStringLiteral(" of ") +
        QString::number(hunkCount()) +
        (hunkCount() == 1 ? QStringLiteral(" change") : QStringLiteral(" changes")));
    m_applyHunksButton->setVisible(m_hunksTickable && ticked > 0);
    m_openButton->setVisible(m_hasDiff && m_reviewActions);
}

std::pair<int, int> DiffView::caretLine() const {
    const int block = primaryText()->textCursor().blockNumber();
    if (!m_hasDiff || writing() || block < 0 || block >= int(m_shownRows.size())) {
        return {0, 0};
    }
    return m_shownRows[std::size_t(block)];
}

bool DiffView::eventFilter(QObject* watched, QEvent* event) {
    // A double click on a line opens the file there.
    if (event->type() == QEvent::MouseButtonDblClick &&
        (watched == m_text->viewport() || watched == m_left->viewport() ||
         watched == m_right->viewport())) {
        auto* view = static_cast<QTextBrowser*>(watched->parent());
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const int block = view->cursorForPosition(mouse->position().toPoint()).blockNumber();
        if (m_hasDiff && !writing() && block >= 0 && block < int(m_shownRows.size()) &&
            m_shownRows[std::size_t(block)] != std::pair(0, 0)) {
            const auto [oldLine, newLine] = m_shownRows[std::size_t(block)];
            Q_EMIT openRequested(oldLine, newLine);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void DiffView::computeFolds() {
    m_folds.clear();
    if (m_diff.kind != FileDiff::Kind::Text) {
        return;
    }
    // A hunk's first line on a side with no lines is the line after its start.
    const auto first = [](int start, int count) { return count == 0 ? start + 1 : start; };
    int oldNext = 1;
    int newNext = 1;
    for (const DiffHunk& hunk : m_diff.hunks) {
        const int oldFirst = first(hunk.oldStart, hunk.oldCount);
        m_folds.push_back({oldNext, newNext, oldFirst - oldNext, false});
        oldNext = oldFirst + hunk.oldCount;
        newNext = first(hunk.newStart, hunk.newCount) + hunk.newCount;
    }
    if (!m_diff.hunks.empty()) {
        m_folds.push_back({oldNext, newNext, m_diff.beforeLineCount() - oldNext + 1, false});
    }
}

void DiffView::render() {
    dropUnshown();
    m_rows.clear();
    m_nextRow = 0;
    ++m_generation;
    m_changeStarts.clear();
    m_shownRows.clear();
    m_currentChange = -1;
    const QString summary = m_diff.summary();
    const auto count = [](const char* color, const QString& text) {
        return QStringLiteral("<span style=\"color:%1\">%2</span>")
            .arg(QLatin1String(color), text.toHtmlEscaped());
    };
    m_counts->setText(
        m_diff.kind == FileDiff::Kind::Text
            ? count("#3FB950", QStringLiteral("+") + QString::number(m_diff.added)) +
                  QStringLiteral("&nbsp;&nbsp;") +
                  count("#F85149", QStringLiteral("−") + QString::number(m_diff.removed))
            : QString());
    if (!summary.isEmpty()) {
        m_summary->setText(summary);
        m_stack->setCurrentWidget(m_summary);
        return;
    }
    if (m_diff.hunks.empty()) {
        m_summary->setText(QStringLiteral("The contents are the same."));
        m_stack->setCurrentWidget(m_summary);
        return;
    }
    // The rows are written into new documents that are shown once complete: a large diff is
    // written in slices between events, so the window never waits for all of it.
    buildRows();
    m_nextRow = 0;
    m_firstBlock = true;
    m_inChange = false;
    m_digits =
        int(QString::number(std::max(m_diff.beforeLineCount(),
                                     m_diff.hunks.back().newStart + m_diff.hunks.back().newCount))
                .size());
    const int generation = ++m_generation;
    if (m_sideBySide) {
        m_stack->setCurrentWidget(m_panes);
        m_cursors[0] = QTextCursor(newDocument(m_left, false));
        m_cursors[1] = QTextCursor(newDocument(m_right, false));
    } else {
        m_stack->setCurrentWidget(m_text);
        m_cursors[0] = QTextCursor(newDocument(m_text, m_wrapping));
    }
    writeRows();
    continueRows(generation);
}

void DiffView::continueRows(int generation) {
    if (m_nextRow < m_rows.size()) {
        QTimer::singleShot(0, this, [this, generation] {
            if (generation == m_generation) {
                writeRows();
                continueRows(generation);
            }
        });
        return;
    }
    if (m_sideBySide) {
        install(m_left, m_cursors[0].document());
        install(m_right, m_cursors[1].document());
    } else {
        install(m_text, m_cursors[0].document());
    }
}

// Unified, a row is one line (in `left`) or a fold; side by side, a line on either side
// facing each other, or a fold across both.
void DiffView::buildRows() {
    m_rows.clear();
    m_partners.assign(m_diff.hunks.size(), {});
    m_wordsMarked.assign(m_diff.hunks.size(), {});
    const auto addFold = [&](int index) {
        const Fold& fold = m_folds[std::size_t(index)];
        if (fold.count <= 0) {
            return;
        }
        if (!fold.open) {
            m_rows.push_back({.fold = index});
            return;
        }
        for (int line = 0; line < fold.count; ++line) {
            m_rows.push_back(
                {.oldContext = fold.oldFirst + line, .newContext = fold.newFirst + line});
        }
    };
    for (std::size_t hunk = 0; hunk < m_diff.hunks.size(); ++hunk) {
        addFold(int(hunk));
        if (m_hunksTickable) {
            m_rows.push_back({.hunk = int(hunk)});
        }
        const std::vector<DiffLine>& lines = m_diff.hunks[hunk].lines;
        const int of = int(hunk);
        if (!m_sideBySide) {
            for (std::size_t line = 0; line < lines.size(); ++line) {
                m_rows.push_back({.lines = of, .left = int(line)});
            }
            continue;
        }
        std::size_t index = 0;
        while (index < lines.size()) {
            const DiffLine& line = lines[index];
            if (!isChange(line)) {
                // A note stands on the side(s) it is about.
                const bool note = line.kind == DiffLine::Kind::Note;
                m_rows.push_back({.lines = of,
                                  .left = !note || line.oldNumber > 0 ? int(index) : -1,
                                  .right = !note || line.newNumber > 0 ? int(index) : -1});
                ++index;
                continue;
            }
            // Removed lines face the added lines that replace them, pair by pair.
            std::vector<int> removed;
            std::vector<int> added;
            while (index < lines.size() && lines[index].kind == DiffLine::Kind::Removed) {
                removed.push_back(int(index++));
            }
            while (index < lines.size() && lines[index].kind == DiffLine::Kind::Added) {
                added.push_back(int(index++));
            }
            for (std::size_t pair = 0; pair < std::max(removed.size(), added.size()); ++pair) {
                m_rows.push_back({.lines = of,
                                  .left = pair < removed.size() ? removed[pair] : -1,
                                  .right = pair < added.size() ? added[pair] : -1});
            }
        }
    }
    addFold(int(m_diff.hunks.size()));
}

const DiffLine* DiffView::lineOf(const Row& row, int side, std::optional<DiffLine>& context) {
    if (row.oldContext > 0) {
        if (side == 1 && !m_sideBySide) {
            return nullptr;
        }
        if (!context) {
            context = m_diff.contextLine(row.oldContext, row.newContext);
        }
        return &*context;
    }
    const int index = side == 0 ? row.left : row.right;
    if (row.lines < 0 || index < 0) {
        return nullptr;
    }
    DiffHunk& hunk = m_diff.hunks[std::size_t(row.lines)];
    DiffLine& line = hunk.lines[std::size_t(index)];
    if (!isChange(line)) {
        return &line;
    }
    // The words of a changed line and of the line it is paired with are compared the first
    // time either is written.
    std::vector<int>& partners = m_partners[std::size_t(row.lines)];
    std::vector<bool>& marked = m_wordsMarked[std::size_t(row.lines)];
    if (partners.empty()) {
        partners = LineDiff::partners(hunk);
        marked.assign(partners.size(), false);
    }
    const int partner = partners[std::size_t(index)];
    if (partner >= 0 && !marked[std::size_t(index)]) {
        DiffLine& other = hunk.lines[std::size_t(partner)];
        if (line.kind == DiffLine::Kind::Removed) {
            LineDiff::markChangedWords(line, other);
        } else {
            LineDiff::markChangedWords(other, line);
        }
        marked[std::size_t(index)] = true;
        marked[std::size_t(partner)] = true;
    }
    return &line;
}

// Writes rows until they are all written or a slice of time has passed.
void DiffView::writeRows() {
    static const Highlighter colors;
    QElapsedTimer slice;
    slice.start();
    const auto startBlock = [&](QTextCursor& cursor, const QColor& background) {
        QTextBlockFormat format;
        format.setBackground(background);
        if (m_firstBlock) {
            cursor.setBlockFormat(format);
        } else {
            cursor.insertBlock(format);
        }
    };
    const int sides = m_sideBySide ? 2 : 1;
    while (m_nextRow < m_rows.size()) {
        if ((m_nextRow % 64) == 0 && slice.elapsed() >= kSliceMs) {
            return;
        }
        const Row& row = m_rows[m_nextRow++];
        if (row.hunk >= 0) {
            m_inChange = false;
            const QString text =
                (hunkTicked(row.hunk) ? QStringLiteral("☑ ") : QStringLiteral("☐ ")) +
                QStringLiteral("Change ") + QString::number(row.hunk + 1) + QStringLiteral(" of ") +
                QString::number(hunkCount());
            for (int side = 0; side < sides; ++side) {
                startBlock(m_cursors[side], kFoldBackground);
                QTextCharFormat format = foldFormat(-1);
                format.setAnchorHref(QStringLiteral("hunk:") + QString::number(row.hunk));
                m_cursors[side].insertText(text, format);
            }
            m_firstBlock = false;
            m_shownRows.emplace_back(0, 0);
            continue;
        }
        if (row.fold >= 0) {
            m_inChange = false;
            for (int side = 0; side < sides; ++side) {
                startBlock(m_cursors[side], kFoldBackground);
                m_cursors[side].insertText(foldText(m_folds[std::size_t(row.fold)].count),
                                           foldFormat(row.fold));
            }
            m_firstBlock = false;
            m_shownRows.emplace_back(0, 0);
            continue;
        }
        std::optional<DiffLine> context;
        const DiffLine* const shown[2] = {lineOf(row, 0, context), lineOf(row, 1, context)};
        const bool change = (shown[0] && isChange(*shown[0])) || (shown[1] && isChange(*shown[1]));
        for (int side = 0; side < sides; ++side) {
            QTextCursor& cursor = m_cursors[side];
            const DiffLine* line = shown[side];
            startBlock(cursor, line ? lineBackground(line->kind) : kEmptySide);
            if (side == 0 && change && !m_inChange) {
                m_changeStarts.push_back(cursor.position());
            }
            if (!line) {
                continue;
            }
            const bool note = line->kind == DiffLine::Kind::Note;
            QString gutter;
            if (!m_sideBySide) {
                gutter = number(note ? 0 : line->oldNumber, m_digits) + u' ' +
                         number(note ? 0 : line->newNumber, m_digits);
                gutter += line->kind == DiffLine::Kind::Added     ? QStringLiteral(" + ")
                          : line->kind == DiffLine::Kind::Removed ? QStringLiteral(" - ")
                                                                  : QStringLiteral("   ");
            } else {
                gutter =
                    number(note ? 0 : (side == 0 ? line->oldNumber : line->newNumber), m_digits) +
                    QStringLiteral("  ");
            }
            cursor.insertText(gutter, gutterFormat());
            insertLineText(cursor, *line, colors);
        }
        m_firstBlock = false;
        m_inChange = change;
        m_shownRows.emplace_back(
            shown[0] ? shown[0]->oldNumber : 0,
            shown[1] ? shown[1]->newNumber : (shown[0] ? shown[0]->newNumber : 0));
    }
}

bool DiffView::showChange(bool forward) {
    if (m_changeStarts.empty() || m_stack->currentWidget() == m_summary) {
        return false;
    }
    const int next = m_currentChange + (forward ? 1 : -1);
    if (next < 0 || next >= int(m_changeStarts.size())) {
        return false;
    }
    m_currentChange = next;
    QTextBrowser* view = primaryText();
    QTextCursor cursor(view->document());
    cursor.setPosition(m_changeStarts[std::size_t(next)]);
    view->setTextCursor(cursor);
    QScrollBar* bar = view->verticalScrollBar();
    const int margin = kLinesAboveChange * QFontMetrics(view->font()).lineSpacing();
    bar->setValue(view->cursorRect(cursor).top() + bar->value() - margin);
    return true;
}

bool DiffView::showNextChange() {
    return showChange(true);
}

bool DiffView::showPreviousChange() {
    return showChange(false);
}
