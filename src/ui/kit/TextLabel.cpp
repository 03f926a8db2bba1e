#include "ui/kit/TextLabel.h"

#include <QEvent>
#include <QFontMetrics>
#include <QStyle>

#include <algorithm>

namespace {

// Text sizes kept per label: the widths of one pair of hints and of a few layout passes.
constexpr std::size_t kKeptTextSizes = 8;

}  // namespace

TextLabel::TextLabel(const QString& text, QWidget* parent) : QLabel(parent) {
    // Format and interaction first, so that the text is never scanned for markup.
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::NoTextInteraction);
    setText(text);
}

bool TextLabel::usesOwnHints() const {
    // QLabel lays out anything but plain, unselectable text with a text document, and shows
    // mnemonics for a buddy. An empty text may mean no text at all, which QLabel sizes apart.
    if (textFormat() != Qt::PlainText || textInteractionFlags() != Qt::NoTextInteraction ||
        focusPolicy() != Qt::NoFocus || buddy() || text().isEmpty()) {
        m_valid = false;  // QLabel renews its hints when it comes back to text
        return false;
    }
    Inputs now{text(),   font(),       contentsMargins(), margin(),
               indent(), frameWidth(), alignment(),       wordWrap()};
    if (!m_valid || !(now == m_inputs)) {
        m_inputs = std::move(now);
        m_hints.reset();
        m_textSizes.clear();
        m_valid = true;
    }
    return true;
}

QSize TextLabel::sizeHint() const {
    ensurePolished();  // the style may still set the font and padding
    return usesOwnHints() ? hints().size : QLabel::sizeHint();
}

QSize TextLabel::minimumSizeHint() const {
    ensurePolished();
    if (!usesOwnHints()) {
        return QLabel::minimumSizeHint();
    }
    if (m_hints && m_hints->policy != sizePolicy()) {
        m_hints.reset();
    }
    return hints().minimum;
}

int TextLabel::heightForWidth(int width) const {
    // No polishing and nothing kept here: QLabel answers with its font and minimum size at
    // the time.
    return usesOwnHints() ? sizeForWidth(width).height() : QLabel::heightForWidth(width);
}

// Kept, as QLabel keeps its own, until the inputs or the size policy change: a minimum or
// maximum size set later is seen in the next hints only, exactly as with a QLabel.
const TextLabel::Hints& TextLabel::hints() const {
    if (!m_hints) {
        const QSize size = sizeForWidth(-1);
        // The width of the longest word and the height of the unwrapped lines, at most the
        // preferred height.
        const QSize minimum(sizeForWidth(0).width(),
                            std::min(sizeForWidth(QWIDGETSIZE_MAX).height(), size.height()));
        m_hints = Hints{size, minimum, sizePolicy()};
    }
    return *m_hints;
}

void TextLabel::changeEvent(QEvent* event) {
    // A font equal by its description may still come out differently: after fonts were added
    // to the font database, or on a screen of another resolution.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::ApplicationFontChange) {
        m_valid = false;
    }
    QLabel::changeEvent(event);
}

// The plain-text branch of QLabel's own sizing (QLabelPrivate::sizeForWidth), step by step,
// so that layouts place these labels exactly as they place QLabels.
QSize TextLabel::sizeForWidth(int width) const {
    const Inputs& in = m_inputs;
    if (minimumWidth() > 0) {
        width = std::max(width, minimumWidth());
    }
    const QFontMetrics metrics(in.font);
    int hextra = 2 * in.margin;
    int vextra = hextra;

    const Qt::LayoutDirection direction =
        in.text.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight;
    const int align = QStyle::visualAlignment(direction, in.alignment) | Qt::TextExpandTabs |
                      (in.wordWrap ? Qt::TextWordWrap : 0);
    int indent = in.indent;
    if (indent < 0 && in.frameWidth) {
        indent = metrics.horizontalAdvance(u'x') - in.margin * 2;
    }
    if (indent > 0) {
        if (align & (Qt::AlignLeft | Qt::AlignRight)) {
            hextra += indent;
        }
        if (align & (Qt::AlignTop | Qt::AlignBottom)) {
            vextra += indent;
        }
    }

    // Centring only moves the box; leaving it out keeps its halving from rounding the size.
    const int flags = align & ~(Qt::AlignVCenter | Qt::AlignHCenter);
    const int marginsWidth = in.contentsMargins.left() + in.contentsMargins.right();
    // Wrapped text without a width tries a line of 80 average characters, then half and a
    // quarter of it while the text stays short, to come out wider than high.
    const bool tryWidth = width < 0 && in.wordWrap;
    if (tryWidth) {
        width = std::min(metrics.averageCharWidth() * 80, maximumWidth());
    } else if (width < 0) {
        width = 2000;
    }
    width -= hextra + marginsWidth;
    QSize text = textSize(width, flags);
    if (tryWidth && text.height() < 4 * metrics.lineSpacing() && text.width() > width / 2) {
        text = textSize(width / 2, flags);
    }
    if (tryWidth && text.height() < 2 * metrics.lineSpacing() && text.width() > width / 4) {
        text = textSize(width / 4, flags);
    }

    const QSize contents(text.width() + hextra, text.height() + vextra);
    const QSize margins(marginsWidth, in.contentsMargins.top() + in.contentsMargins.bottom());
    return (contents + margins).expandedTo(minimumSize());
}

QSize TextLabel::textSize(int width, int flags) const {
    // Unwrapped text has one size at any width.
    const int key = m_inputs.wordWrap ? width : 0;
    const auto kept = std::find_if(m_textSizes.begin(), m_textSizes.end(),
                                   [key](const auto& entry) { return entry.first == key; });
    if (kept != m_textSizes.end()) {
        return kept->second;
    }
    const QSize size =
        QFontMetrics(m_inputs.font).boundingRect(0, 0, width, 2000, flags, m_inputs.text).size();
    if (m_textSizes.size() == kKeptTextSizes) {
        m_textSizes.erase(m_textSizes.begin());
    }
    m_textSizes.emplace_back(key, size);
    return size;
}
