#include "ui/files/CodeEditor.h"

#include "core/appearance/HexColor.h"
#include "core/appearance/Theme.h"
#include "ui/files/LineRuler.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QMetaMethod>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>

#include <algorithm>

namespace {

// A text whose every line break is CR LF (and that has no lone CR) can be shown with plain
// breaks and given back with CR LF without changing a single character.
bool usesOnlyCrLf(const QString& text) {
    qsizetype crlf = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        if (ch == u'\r') {
            if (i + 1 >= text.size() || text.at(i + 1) != u'\n') {
                return false;
            }
            ++crlf;
            ++i;
        } else if (ch == u'\n') {
            return false;
        }
    }
    return crlf > 0;
}

QColor mix(const QColor& from, const QColor& to, qreal amount) {
    const QColor a = from.toRgb();
    const QColor b = to.toRgb();
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * amount,
                            a.greenF() + (b.greenF() - a.greenF()) * amount,
                            a.blueF() + (b.blueF() - a.blueF()) * amount);
}

}  // namespace

CodeEditor::CodeEditor(Theme& theme, QWidget* parent)
    : QPlainTextEdit(parent), m_theme(theme), m_ruler(new LineRuler(this)) {
    for (Highlighter::Style style = 0; style <= m_highlighter.rules().size(); ++style) {
        QTextCharFormat format;
        format.setForeground(m_highlighter.color(style));
        m_styleFormats.push_back(format);
    }

    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setUndoRedoEnabled(true);
    setReadOnly(false);
    setTextInteractionFlags(Qt::TextEditorInteraction);
    document()->setDocumentMargin(kTextInset);
    setViewportMargins(LineRuler::kThickness, 0, 0, 0);

    // Qt's caret is drawn by inverting the pixels under it; a zero width hides it, and
    // paintEvent draws one in the accent colour instead, blinking at the desktop's rate.
    setCursorWidth(0);
    m_caretBlink = new QTimer(this);
    connect(m_caretBlink, &QTimer::timeout, this, [this] {
        m_caretOn = !m_caretOn;
        viewport()->update(caretRect().united(m_paintedCaret));
    });
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &CodeEditor::restartCaretBlink);
    connect(this, &QPlainTextEdit::selectionChanged, this, &CodeEditor::restartCaretBlink);

    connect(document(), &QTextDocument::contentsChange, this, &CodeEditor::onContentsChange);
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (m_updating) {
            return;
        }
        Q_EMIT edited();
        // The whole text is built only for a receiver that asked for it.
        if (isSignalConnected(QMetaMethod::fromSignal(&CodeEditor::textEdited))) {
            Q_EMIT textEdited(text());
        }
    });
    // The ruler follows scrolling, edits and re-layouts of the text.
    connect(this, &QPlainTextEdit::updateRequest, m_ruler, [this] { m_ruler->update(); });
    connect(&m_theme, &Theme::accentHexChanged, this, &CodeEditor::applyAppearance);
    applyAppearance();
}

CodeEditor::~CodeEditor() = default;

QString CodeEditor::documentText() const {
    // toPlainText() would also turn non-breaking spaces into spaces and line separators into
    // line breaks; only the block separators must become "\n".
    QString text = document()->toRawText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    return text;
}

QString CodeEditor::toOwnerText(QString documentText) const {
    if (m_crlf) {
        documentText.replace(u'\n', QStringLiteral("\r\n"));
    }
    return documentText;
}

QString CodeEditor::text() const {
    return toOwnerText(documentText());
}

qsizetype CodeEditor::textLength() const {
    const QTextDocument* doc = document();
    const qsizetype length = doc->characterCount() - 1;
    return m_crlf ? length + doc->blockCount() - 1 : length;
}

void CodeEditor::setText(const QString& text) {
    if (textLength() == text.size() && this->text() == text) {
        return;
    }
    const int caret = textCursor().selectionStart();
    m_crlf = usesOnlyCrLf(text);
    const QString shown =
        m_crlf ? QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")) : text;

    m_updating = true;
    // setPlainText gives the whole text the current character format and starts a new undo
    // history; the default text colour is part of that format.
    QTextCharFormat plain;
    plain.setForeground(colorFromHex(Highlighter::defaultColorHex()));
    mergeCurrentCharFormat(plain);
    setPlainText(shown);
    QTextCursor cursor = textCursor();
    cursor.setPosition(std::min(caret, document()->characterCount() - 1));
    setTextCursor(cursor);
    m_updating = false;

    highlight();
    m_ruler->update();
}

void CodeEditor::setFontSize(double points) {
    if (points == m_fontSize) {
        return;
    }
    m_fontSize = points;
    applyAppearance();
}

void CodeEditor::setBackground(const QColor& color) {
    if (color == m_background) {
        return;
    }
    m_background = color;
    applyAppearance();
}

void CodeEditor::applyAppearance() {
    const QColor textColor = colorFromHex(Highlighter::defaultColorHex());
    const QColor accent = m_theme.accent();
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(m_fontSize);
    font.setWeight(QFont::Normal);

    // A style sheet of its own for the editor's frame, padding, colours and font, which are
    // not the other text fields'. The caret is painted in the text colour
    // ("color"); the text itself carries its colour in character formats (the default colour
    // and the highlighting), so the caret can take the accent colour alone.
    const auto rgb = [](const QColor& color) { return color.name(QColor::HexRgb); };
    setStyleSheet(QStringLiteral("CodeEditor { background-color: %1; color: %2; border: none; "
                                 "padding: 0px; margin: 0px; selection-background-color: %3; "
                                 "selection-color: %4; font-family: \"%5\"; font-size: %6pt; }")
                      .arg(rgb(m_background), rgb(accent), rgb(mix(m_background, accent, 0.35)),
                           rgb(textColor), font.family(), QString::number(m_fontSize)));
    QPalette colors = palette();
    colors.setColor(QPalette::Base, m_background);
    colors.setColor(QPalette::Window, m_background);
    colors.setColor(QPalette::Text, accent);
    setPalette(colors);
    if (font != this->font()) {
        setFont(font);
    }
    setTabStopDistance(4 * QFontMetricsF(this->font()).horizontalAdvance(u' '));

    highlight();
    m_ruler->update();
}

QRectF CodeEditor::blockRectInViewport(const QTextBlock& block) const {
    return blockBoundingGeometry(block).translated(contentOffset());
}

void CodeEditor::onContentsChange(int position, int, int charsAdded) {
    if (m_updating) {
        return;
    }
    recolour(EditSpan{position, position + charsAdded});
    m_ruler->update();
}

void CodeEditor::highlight() {
    recolour(std::nullopt);
}

void CodeEditor::recolour(std::optional<EditSpan> edit) {
    // A text too long to colour is not copied just to learn that.
    if (document()->characterCount() - 1 >= Highlighter::kMaxTextLength) {
        m_appliedStyles.reset();
        return;
    }
    std::optional<std::vector<Highlighter::Style>> styles = m_highlighter.styles(documentText());
    if (!styles) {
        // Left as they are; the next colouring that happens starts afresh.
        m_appliedStyles.reset();
        return;
    }

    // The whole text is matched again, but only the blocks whose colouring can differ from
    // what they were given last time are visited: text outside the common prefix and suffix
    // of the old and new colouring keeps both its styles and its place within its block.
    int from = 0;
    int to = static_cast<int>(styles->size());
    if (edit && m_appliedStyles) {
        const std::vector<Highlighter::Style>& old = *m_appliedStyles;
        const size_t shorter = std::min(old.size(), styles->size());
        const size_t prefix =
            std::mismatch(old.begin(), old.begin() + shorter, styles->begin()).first - old.begin();
        const size_t suffix =
            std::mismatch(old.rbegin(), old.rbegin() + (shorter - prefix), styles->rbegin()).first -
            old.rbegin();
        from = std::min(static_cast<int>(prefix), edit->from);
        to = std::max(static_cast<int>(styles->size() - suffix), edit->to);
    }
    applyStyles(*styles, from, to);
    m_appliedStyles = std::move(styles);
}

void CodeEditor::applyStyles(const std::vector<Highlighter::Style>& styles, int from, int to) {
    m_updating = true;
    QTextDocument* doc = document();
    // Formats are attached to each block's layout (outside the text and its undo history).
    // Only blocks whose colouring changed are handed new formats, and the layout is told once
    // about the span that changed.
    int dirtyFrom = -1;
    int dirtyTo = -1;
    QList<QTextLayout::FormatRange> ranges;
    for (QTextBlock block = doc->findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        const int start = block.position();
        const int length = block.length() - 1;
        ranges.clear();
        for (int offset = 0; offset < length;) {
            const Highlighter::Style style = styles[start + offset];
            int end = offset + 1;
            while (end < length && styles[start + end] == style) {
                ++end;
            }
            ranges.append({offset, end - offset, m_styleFormats[style]});
            offset = end;
        }
        QTextLayout* layout = block.layout();
        if (layout->formats() != ranges) {
            layout->setFormats(ranges);
            if (dirtyFrom < 0) {
                dirtyFrom = start;
            }
            dirtyTo = start + block.length();
        }
    }
    if (dirtyFrom >= 0) {
        doc->markContentsDirty(dirtyFrom, dirtyTo - dirtyFrom);
    }
    m_updating = false;
}

QRect CodeEditor::caretRect() const {
    QRect rect = cursorRect();
    rect.setWidth(kCaretWidth);
    return rect;
}

void CodeEditor::restartCaretBlink() {
    viewport()->update(m_paintedCaret);
    m_caretOn = hasFocus();
    const int flashTime = QApplication::cursorFlashTime();
    if (m_caretOn && flashTime > 0) {
        m_caretBlink->start(flashTime / 2);
    } else {
        m_caretBlink->stop();
    }
    viewport()->update(caretRect());
}

void CodeEditor::focusInEvent(QFocusEvent* event) {
    QPlainTextEdit::focusInEvent(event);
    restartCaretBlink();
}

void CodeEditor::focusOutEvent(QFocusEvent* event) {
    QPlainTextEdit::focusOutEvent(event);
    restartCaretBlink();
}

void CodeEditor::paintEvent(QPaintEvent* event) {
    QPlainTextEdit::paintEvent(event);
    m_paintedCaret = QRect();
    if (!m_caretOn || !hasFocus() || isReadOnly() || textCursor().hasSelection()) {
        return;
    }
    const QRect caret = caretRect();
    if (!event->rect().intersects(caret)) {
        return;
    }
    QPainter painter(viewport());
    painter.fillRect(caret, m_theme.accent());
    m_paintedCaret = caret;
}

void CodeEditor::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    const QRect area = contentsRect();
    m_ruler->setGeometry(area.left(), area.top(), LineRuler::kThickness, area.height());
}
