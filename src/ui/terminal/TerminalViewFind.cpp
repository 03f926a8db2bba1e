// The terminal view's find bar, its match highlights, the hovered address's underline and
// the overlay scroll bar.
#include "core/terminal/TerminalScreen.h"
#include "core/terminal/TerminalSearch.h"
#include "core/terminal/TerminalSession.h"
#include "ui/terminal/TerminalFindBar.h"
#include "ui/terminal/TerminalView.h"

#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>

#include <algorithm>

namespace {

constexpr std::uint32_t kLinkUnderlineRgb = 0xD0DEEB;  // the default text colour
constexpr int kScrollBarShownMs = 1200;
constexpr int kResearchAfterOutputMs = 300;
constexpr int kFindBarMargin = 6;

QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(alpha);
    return color;
}

// `from` moved a part of the way towards `to`.
QColor mixed(const QColor& from, const QColor& to, double part) {
    return QColor::fromRgbF(float(from.redF() + (to.redF() - from.redF()) * part),
                            float(from.greenF() + (to.greenF() - from.greenF()) * part),
                            float(from.blueF() + (to.blueF() - from.blueF()) * part));
}

}  // namespace

void TerminalView::createOverlays() {
    m_search = std::make_unique<TerminalSearch>();

    m_scrollBar = new QScrollBar(Qt::Vertical, this);
    m_scrollBar->setCursor(Qt::ArrowCursor);
    m_scrollBar->setFocusPolicy(Qt::NoFocus);
    m_scrollBar->hide();
    connect(m_scrollBar, &QScrollBar::valueChanged, this, [this](int firstLine) {
        setScrollOffset(scrollbackSize() - firstLine);
        revealScrollBar();
    });
    m_scrollBarHideTimer.setSingleShot(true);
    m_scrollBarHideTimer.setInterval(kScrollBarShownMs);
    connect(&m_scrollBarHideTimer, &QTimer::timeout, this, [this] {
        if (m_scrollBar->isSliderDown() || m_scrollBar->underMouse()) {
            m_scrollBarHideTimer.start();
        } else {
            m_scrollBar->hide();
        }
    });

    m_researchTimer.setSingleShot(true);
    m_researchTimer.setInterval(kResearchAfterOutputMs);
    connect(&m_researchTimer, &QTimer::timeout, this, [this] { runSearch(false); });
    styleOverlays();
}

void TerminalView::styleOverlays() {
    const QColor accent = m_accentColor;
    m_scrollBar->setStyleSheet(
        QStringLiteral("QScrollBar:vertical { background: transparent; width: %1px; margin: 2px "
                       "1px 2px 0; }"
                       "QScrollBar::handle:vertical { background: %2; border-radius: 3px; "
                       "min-height: 24px; }"
                       "QScrollBar::handle:vertical:hover, QScrollBar::handle:vertical:pressed "
                       "{ background: %3; }"
                       "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: "
                       "0; }"
                       "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { "
                       "background: transparent; }")
            .arg(kScrollBarWidth)
            .arg(withAlpha(accent, 0.5).name(QColor::HexArgb),
                 withAlpha(accent, 0.85).name(QColor::HexArgb)));
    if (m_findBar) {
        const QColor text = QColor(QRgb(0xFF000000u | kLinkUnderlineRgb));
        m_findBar->setColors(mixed(m_backgroundColor, text, 0.1), text, accent);
    }
}

void TerminalView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_scrollBar->setGeometry(width() - kScrollBarWidth - 1, 0, kScrollBarWidth, height());
    if (m_findBar) {
        const int barWidth = std::min(460, width() - 2 * kFindBarMargin - kScrollBarWidth);
        m_findBar->setGeometry(width() - barWidth - kFindBarMargin - kScrollBarWidth,
                               kFindBarMargin, barWidth, m_findBar->sizeHint().height());
    }
}

// ---- Find bar ------------------------------------------------------------------------------

void TerminalView::openFindBar() {
    if (!m_findBar) {
        m_findBar = new TerminalFindBar(this);
        connect(m_findBar, &TerminalFindBar::searchChanged, this, [this] { runSearch(true); });
        connect(m_findBar, &TerminalFindBar::nextRequested, this, [this] { stepMatch(true); });
        connect(m_findBar, &TerminalFindBar::previousRequested, this, [this] { stepMatch(false); });
        connect(m_findBar, &TerminalFindBar::closeRequested, this, &TerminalView::closeFindBar);
        styleOverlays();
        QResizeEvent resize(size(), size());
        resizeEvent(&resize);
    }
    const bool opening = m_findBar->isHidden();
    m_findBar->show();
    m_findBar->raise();
    m_findBar->focusText();
    if (opening && !m_findBar->text().isEmpty()) {
        runSearch(true);
    }
}

void TerminalView::closeFindBar() {
    m_researchTimer.stop();
    if (m_findBar) {
        m_findBar->hide();
    }
    m_search->clear();
    setFocus(Qt::OtherFocusReason);
    update();
}

void TerminalView::runSearch(bool scrollToCurrent) {
    m_researchTimer.stop();
    if (!m_session || !m_findBar || m_findBar->isHidden()) {
        return;
    }
    const TerminalScreen& screen = m_session->screen();
    const int history = screen.scrollbackSize();
    // A new pattern starts from the bottom of what shows, so the match found first is the
    // newest above it; a search again after output stays on the match it was on.
    TerminalTextPosition near{history - std::min(m_scrollOffset, history) + screen.rows() - 1,
                              screen.columns()};
    if (!scrollToCurrent && m_search->current() >= 0) {
        near = m_search->matches()[std::size_t(m_search->current())].start;
    }
    m_search->search(screen, m_findBar->text(),
                     {m_findBar->regularExpression(), m_findBar->caseSensitive()}, near,
                     m_session->revision());
    m_searchedRevision = m_session->revision();
    m_findBar->setSummary(m_search->summary(), !m_search->error().isEmpty());
    if (scrollToCurrent) {
        showCurrentMatch();
    }
    update();
}

void TerminalView::stepMatch(bool forward) {
    if (m_session && m_session->revision() != m_searchedRevision) {
        runSearch(false);
    }
    if (forward) {
        m_search->next();
    } else {
        m_search->previous();
    }
    m_findBar->setSummary(m_search->summary(), !m_search->error().isEmpty());
    showCurrentMatch();
    update();
}

void TerminalView::showCurrentMatch() {
    if (!m_session || m_search->current() < 0) {
        return;
    }
    const TerminalScreen& screen = m_session->screen();
    const TerminalTextRange& match = m_search->matches()[std::size_t(m_search->current())];
    setScrollOffset(TerminalSearch::offsetShowing(match.start.line, screen.rows(),
                                                  screen.scrollbackSize(), m_scrollOffset));
}

void TerminalView::paintFindOverlays(QPainter& painter, int first, int end) {
    const TerminalScreen& screen = m_session->screen();
    const double w = m_cellWidth;
    const int h = lineHeight();
    // Cells `from` … `to` - 1 of each line of `range` that shows.
    auto forEachShownRun = [&](const TerminalTextRange& range, auto&& paint) {
        const int last = std::min(range.end.line, end - 1);
        for (int line = std::max(range.start.line, first); line <= last; ++line) {
            const int from = line == range.start.line ? range.start.column : 0;
            const int to = line == range.end.line ? range.end.column : screen.columns();
            if (to > from) {
                paint(w * from + kLeftMargin, w * to + kLeftMargin,
                      double(h) * (line - first) + kTopMargin);
            }
        }
    };

    if (m_findBar && m_findBar->isVisible() && !m_findBar->text().isEmpty()) {
        // Output moves lines: the matches are found again soon, not on every chunk.
        if (m_session->revision() != m_searchedRevision && !m_researchTimer.isActive()) {
            m_researchTimer.start();
        }
        const std::vector<TerminalTextRange>& matches = m_search->matches();
        const auto shown = std::lower_bound(
            matches.begin(), matches.end(), first,
            [](const TerminalTextRange& match, int line) { return match.end.line < line; });
        const QColor all = withAlpha(m_accentColor, 0.28);
        const QColor current = withAlpha(m_accentColor, 0.7);
        for (auto match = shown; match != matches.end() && match->start.line < end; ++match) {
            const bool isCurrent = match - matches.begin() == m_search->current();
            forEachShownRun(*match, [&](double left, double right, double top) {
                painter.fillRect(QRectF(left, top, right - left, h), isCurrent ? current : all);
            });
        }
    }

    if (m_hoveredUrl && m_pointer) {
        // Output may have moved the text under a still pointer.
        const std::optional<TerminalTextPosition> cell = textPositionAt(*m_pointer);
        m_hoveredUrl = cell ? TerminalUrlDetector::urlAt(screen, *cell) : std::nullopt;
        if (m_hoveredUrl) {
            forEachShownRun(m_hoveredUrl->range, [&](double left, double right, double top) {
                decorate(Decoration::Kind::Single, kLinkUnderlineRgb, left, right, top + m_ascent);
            });
        }
    }
}

// ---- Scroll bar ----------------------------------------------------------------------------

void TerminalView::syncScrollBar(int history, int rows) {
    {
        const QSignalBlocker quiet(m_scrollBar);
        m_scrollBar->setRange(0, history);
        m_scrollBar->setPageStep(rows);
        m_scrollBar->setValue(history - m_scrollOffset);
    }
    if (m_scrollOffset != m_shownOffset) {
        m_shownOffset = m_scrollOffset;
        // Not from inside the paint: showing a child repaints.
        QTimer::singleShot(0, this, &TerminalView::revealScrollBar);
    }
}

void TerminalView::revealScrollBar() {
    if (scrollbackSize() == 0) {
        return;
    }
    m_scrollBar->show();
    m_scrollBar->raise();
    m_scrollBarHideTimer.start();
}
