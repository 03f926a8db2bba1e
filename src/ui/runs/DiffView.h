#pragma once

#include "core/runs/FileDiff.h"
#include "core/runs/HunkMerge.h"

#include <QColor>
#include <QSet>
#include <QTextCursor>
#include <QWidget>

#include <optional>
#include <utility>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;
class QStackedWidget;
class QTextBrowser;
class QTextDocument;

// The line diff of one file in the review: unified or side by side, in the editor's fixed
// font and colours, line numbers on both sides, added and removed lines tinted and the
// changed words inside them marked more strongly. Unchanged stretches between the changes
// fold into "Show 48 more lines", which unfolds them. Long lines wrap or scroll sideways,
// as the reader chooses. Files that cannot be shown as lines (binary, too large) say so with
// their sizes.
class DiffView : public QWidget {
    Q_OBJECT

public:
    // The backgrounds of added and removed lines and of their changed words.
    static const QColor kAddedLine;
    static const QColor kAddedWord;
    static const QColor kRemovedLine;
    static const QColor kRemovedWord;

    explicit DiffView(QWidget* parent = nullptr);

    // Shows `diff`, folded; the layout and wrapping stay as they are.
    void setDiff(FileDiff diff);
    // Shows nothing (while the next file's diff is being computed).
    void clear();
    const FileDiff& diff() const { return m_diff; }
    bool hasDiff() const { return m_hasDiff; }
    // Whether rows of a large diff are still being written (between events).
    bool writing() const { return m_nextRow < m_rows.size(); }

    bool sideBySide() const { return m_sideBySide; }
    void setSideBySide(bool sideBySide);
    bool wrapping() const { return m_wrapping; }
    void setWrapping(bool wrapping);

    // The folded unchanged stretches, in order; unfolding one shows its lines.
    int foldCount() const { return int(m_folds.size()); }
    void unfold(int fold);

    // Scrolls to the next or previous change (a run of added or removed lines) and puts the
    // caret there; false when there is none. The first call after a diff is shown goes to
    // its first change.
    bool showNextChange();
    bool showPreviousChange();
    // The change last scrolled to (0-based), -1 before any; and how many there are.
    int currentChange() const { return m_currentChange; }
    int changeCount() const { return int(m_changeStarts.size()); }

    // A changed text file's hunks can be ticked one by one (a "☐ Change 2 of 3" row heads
    // each) to apply only those; false for added, removed, binary and oversized files.
    bool hunksTickable() const { return m_hunksTickable; }
    // Whether hunks get their tick rows and "Open in editor" is offered: off until asked for
    // (a view that only compares has nothing to apply). Takes effect with the next diff.
    void setReviewActions(bool shown) { m_reviewActions = shown; }
    int hunkCount() const { return int(m_diff.hunks.size()); }
    bool hunkTicked(int hunk) const { return m_tickedHunks.contains(hunk); }
    void setHunkTicked(int hunk, bool ticked);
    // The ticked hunks' line ranges, in file order.
    std::vector<HunkMerge::Range> tickedHunks() const;
    // The lines in the baseline and in the copy (1-based, 0 where the line is not there) of
    // the row the caret of the view shown stands on; {0, 0} on a fold or without a diff.
    std::pair<int, int> caretLine() const;

    // The parts, for tests. Side by side, the two sides are two views scrolled together, one
    // row per line on each (so wrapping is off there: long lines scroll sideways).
    QTextBrowser* text() const { return m_text; }
    QTextBrowser* leftText() const { return m_left; }
    QTextBrowser* rightText() const { return m_right; }
    // The view the keys and the caret of n/p belong to in the layout shown.
    QTextBrowser* primaryText() const { return m_sideBySide ? m_left : m_text; }
    QLabel* summaryLabel() const { return m_summary; }
    QLabel* countsLabel() const { return m_counts; }
    QPushButton* unifiedButton() const { return m_unifiedButton; }
    QPushButton* sideBySideButton() const { return m_sideBySideButton; }
    QCheckBox* wrapBox() const { return m_wrapBox; }
    // Applies the ticked hunks; shown while some are ticked.
    QPushButton* applyHunksButton() const { return m_applyHunksButton; }
    // Opens the file in the editor at the caret's line.
    QPushButton* openButton() const { return m_openButton; }

Q_SIGNALS:
    // The reader chose a layout or wrapping (for the page to remember).
    void sideBySideChanged(bool sideBySide);
    void wrappingChanged(bool wrapping);
    // The reader asked to apply the ticked hunks.
    void applyHunksRequested();
    // The reader asked to edit the file at a row: its line in the baseline and in the copy
    // (1-based; 0 on the side without it, both 0 when no line is chosen).
    void openRequested(int oldLine, int newLine);

private:
    // A stretch of unchanged lines between hunks: baseline lines [oldFirst, oldFirst + count)
    // standing at newFirst onwards in the copy.
    struct Fold {
        int oldFirst = 0;
        int newFirst = 0;
        int count = 0;
        bool open = false;
    };

    void computeFolds();
    void render();
    void buildRows();
    void writeRows();
    void continueRows(int generation);
    void dropUnshown();
    QTextDocument* newDocument(QTextBrowser* owner, bool wrap) const;
    static void install(QTextBrowser* view, QTextDocument* document);
    QTextBrowser* makeBrowser();
    void syncControls();
    bool showChange(bool forward);
    void syncHunkButton();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    FileDiff m_diff;
    bool m_hasDiff = false;
    bool m_sideBySide = false;
    bool m_wrapping = true;
    // Folds before each hunk, then the one after the last (count 0 when there is nothing).
    std::vector<Fold> m_folds;
    // The rows of the layout shown, written up to m_nextRow so far. A row of a hunk names its
    // lines by their place in m_diff, whose changed words are marked as the row is written.
    struct Row {
        int lines = -1;  // the hunk whose lines `left` and `right` are
        int left = -1;   // unified: the line
        int right = -1;
        int oldContext = 0;  // an unfolded unchanged line (both sides, side by side)
        int newContext = 0;
        int fold = -1;
        int hunk = -1;  // the tick row heading this hunk
    };
    // The line a row shows on one side, its changed words marked; null for none.
    const DiffLine* lineOf(const Row& row, int side, std::optional<DiffLine>& context);
    std::vector<Row> m_rows;
    // Per hunk, once asked for: LineDiff::partners, and whether each line's words are marked.
    std::vector<std::vector<int>> m_partners;
    std::vector<std::vector<bool>> m_wordsMarked;
    std::size_t m_nextRow = 0;
    QTextCursor m_cursors[2];
    bool m_firstBlock = true;
    bool m_inChange = false;
    int m_digits = 1;
    int m_generation = 0;
    // Per block of the document being written: the baseline's and the copy's line it shows
    // ({0, 0} for a fold or a tick row), which "Open in editor" opens at.
    std::vector<std::pair<int, int>> m_shownRows;
    // Where each change starts in the document, in order.
    std::vector<int> m_changeStarts;
    int m_currentChange = -1;
    bool m_hunksTickable = false;
    bool m_reviewActions = false;
    QSet<int> m_tickedHunks;

    QLabel* m_counts = nullptr;
    QPushButton* m_unifiedButton = nullptr;
    QPushButton* m_sideBySideButton = nullptr;
    QCheckBox* m_wrapBox = nullptr;
    QPushButton* m_applyHunksButton = nullptr;
    QPushButton* m_openButton = nullptr;
    QStackedWidget* m_stack = nullptr;
    QLabel* m_summary = nullptr;
    QTextBrowser* m_text = nullptr;
    QWidget* m_panes = nullptr;
    QTextBrowser* m_left = nullptr;
    QTextBrowser* m_right = nullptr;
};
