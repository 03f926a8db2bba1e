#include "ui/runs/DiffView.h"

#include "core/files/Highlighter.h"
#include "ui/kit/Widgets.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
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
    bar->addWidget(m_counts);
    bar->addStretch(1);
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
    computeFolds();
    render();
}

void DiffView::clear() {
    m_diff = {};
    m_hasDiff = false;
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
    m_changeStarts.clear();
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
    // The documents are built apart and handed over whole, so the views lay them out once.
    if (m_sideBySide) {
        m_stack->setCurrentWidget(m_panes);
        QTextDocument* left = newDocument(m_left, false);
        QTextDocument* right = newDocument(m_right, false);
        QTextCursor leftCursor(left);
        QTextCursor rightCursor(right);
        renderSideBySide(leftCursor, rightCursor);
        install(m_left, left);
        install(m_right, right);
        return;
    }
    m_stack->setCurrentWidget(m_text);
    QTextDocument* document = newDocument(m_text, m_wrapping);
    QTextCursor cursor(document);
    renderUnified(cursor);
    install(m_text, document);
}

void DiffView::renderUnified(QTextCursor& cursor) {
    static const Highlighter colors;
    const int width =
        int(QString::number(std::max(m_diff.beforeLineCount(),
                                     m_diff.hunks.back().newStart + m_diff.hunks.back().newCount))
                .size());
    bool firstBlock = true;
    const auto startBlock = [&](const QColor& background) {
        QTextBlockFormat format;
        format.setBackground(background);
        if (firstBlock) {
            cursor.setBlockFormat(format);
            firstBlock = false;
        } else {
            cursor.insertBlock(format);
        }
    };
    bool inChange = false;
    const auto writeLine = [&](const DiffLine& line) {
        const bool change = isChange(line);
        startBlock(lineBackground(line.kind));
        if (change && !inChange) {
            m_changeStarts.push_back(cursor.position());
        }
        inChange = change;
        QString gutter = number(line.kind == DiffLine::Kind::Note ? 0 : line.oldNumber, width) +
                         u' ' +
                         number(line.kind == DiffLine::Kind::Note ? 0 : line.newNumber, width);
        gutter += line.kind == DiffLine::Kind::Added     ? QStringLiteral(" + ")
                  : line.kind == DiffLine::Kind::Removed ? QStringLiteral(" - ")
                                                         : QStringLiteral("   ");
        cursor.insertText(gutter, gutterFormat());
        insertLineText(cursor, line, colors);
    };
    const auto writeFold = [&](int index) {
        const Fold& fold = m_folds[std::size_t(index)];
        if (fold.count <= 0) {
            return;
        }
        if (fold.open) {
            for (int line = 0; line < fold.count; ++line) {
                writeLine(m_diff.contextLine(fold.oldFirst + line, fold.newFirst + line));
            }
            return;
        }
        inChange = false;
        startBlock(kFoldBackground);
        cursor.insertText(foldText(fold.count), foldFormat(index));
    };
    for (std::size_t hunk = 0; hunk < m_diff.hunks.size(); ++hunk) {
        writeFold(int(hunk));
        for (const DiffLine& line : m_diff.hunks[hunk].lines) {
            writeLine(line);
        }
    }
    writeFold(int(m_diff.hunks.size()));
}

void DiffView::renderSideBySide(QTextCursor& left, QTextCursor& right) {
    static const Highlighter colors;
    // One row of the table: a line on either side (or a fold across the row).
    struct Row {
        std::optional<DiffLine> left;
        std::optional<DiffLine> right;
        int fold = -1;
    };
    std::vector<Row> rows;
    const auto addFold = [&](int index) {
        const Fold& fold = m_folds[std::size_t(index)];
        if (fold.count <= 0) {
            return;
        }
        if (!fold.open) {
            rows.push_back({std::nullopt, std::nullopt, index});
            return;
        }
        for (int line = 0; line < fold.count; ++line) {
            const DiffLine context = m_diff.contextLine(fold.oldFirst + line, fold.newFirst + line);
            rows.push_back({context, context, -1});
        }
    };
    for (std::size_t hunk = 0; hunk < m_diff.hunks.size(); ++hunk) {
        addFold(int(hunk));
        const std::vector<DiffLine>& lines = m_diff.hunks[hunk].lines;
        std::size_t index = 0;
        while (index < lines.size()) {
            const DiffLine& line = lines[index];
            if (!isChange(line)) {
                // A note stands on the side(s) it is about.
                const bool note = line.kind == DiffLine::Kind::Note;
                rows.push_back({!note || line.oldNumber > 0 ? std::optional(line) : std::nullopt,
                                !note || line.newNumber > 0 ? std::optional(line) : std::nullopt,
                                -1});
                ++index;
                continue;
            }
            // Removed lines face the added lines that replace them, pair by pair.
            std::vector<DiffLine> removed;
            std::vector<DiffLine> added;
            while (index < lines.size() && lines[index].kind == DiffLine::Kind::Removed) {
                removed.push_back(lines[index++]);
            }
            while (index < lines.size() && lines[index].kind == DiffLine::Kind::Added) {
                added.push_back(lines[index++]);
            }
            for (std::size_t pair = 0; pair < std::max(removed.size(), added.size()); ++pair) {
                rows.push_back({pair < removed.size() ? std::optional(removed[pair]) : std::nullopt,
                                pair < added.size() ? std::optional(added[pair]) : std::nullopt,
                                -1});
            }
        }
    }
    addFold(int(m_diff.hunks.size()));

    const int digits = int(QString::number(std::max(m_diff.beforeLineCount(),
                                                    m_diff.hunks.back().newStart +
                                                        m_diff.hunks.back().newCount))
                               .size());
    bool firstBlock = true;
    const auto startBlock = [&](QTextCursor& cursor, const QColor& background) {
        QTextBlockFormat format;
        format.setBackground(background);
        if (firstBlock) {
            cursor.setBlockFormat(format);
        } else {
            cursor.insertBlock(format);
        }
    };
    bool inChange = false;
    for (const Row& row : rows) {
        if (row.fold >= 0) {
            inChange = false;
            for (QTextCursor* cursor : {&left, &right}) {
                startBlock(*cursor, kFoldBackground);
                cursor->insertText(foldText(m_folds[std::size_t(row.fold)].count),
                                   foldFormat(row.fold));
            }
            firstBlock = false;
            continue;
        }
        const bool change =
            (row.left && isChange(*row.left)) || (row.right && isChange(*row.right));
        for (const auto& [line, cursor, isLeft] :
             {std::tuple{&row.left, &left, true}, std::tuple{&row.right, &right, false}}) {
            startBlock(*cursor, *line ? lineBackground((*line)->kind) : kEmptySide);
            if (isLeft && change && !inChange) {
                m_changeStarts.push_back(cursor->position());
            }
            if (!*line) {
                continue;
            }
            const DiffLine& shown = **line;
            const int shownNumber = shown.kind == DiffLine::Kind::Note
                                        ? 0
                                        : (isLeft ? shown.oldNumber : shown.newNumber);
            cursor->insertText(number(shownNumber, digits) + QStringLiteral("  "),
                               gutterFormat());
            insertLineText(*cursor, shown, colors);
        }
        firstBlock = false;
        inChange = change;
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
