#pragma once

#include "core/files/Highlighter.h"

#include <QColor>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextBlock>
#include <QTextCharFormat>

class LineRuler;
class QTimer;
class Theme;

// The plain-text source editor: soft-wrapping, undoable, coloured by the Highlighter after
// every edit, with a LineRuler numbering logical lines on its left. It is bound to a text
// owned elsewhere (the workspace's editor buffer, or a plan on the actions page):
//
// - the owner pushes its text in with setText() whenever it changes; the editor replaces its
//   content only when the text differs, keeps the caret where it was (or at the new end when
//   the text got shorter), and does not report that change back;
// - every edit the user makes is reported with edited(), which carries nothing: the owner
//   reads text() when it needs it, so a keystroke in a large file copies nothing; and with
//   textEdited(), carrying the whole text, for an owner connected to it.
//
// Line endings: the text document knows only one kind of line break. A text whose lines all
// end in CR LF is shown with plain breaks and reported back with CR LF, so opening and
// editing such a file does not rewrite its line endings.
class CodeEditor : public QPlainTextEdit {
    Q_OBJECT

public:
    static constexpr int kTextInset = 15;
    static constexpr int kCaretWidth = 2;

    // The theme supplies the caret colour and is observed for changes; it must outlive the
    // editor.
    explicit CodeEditor(Theme& theme, QWidget* parent = nullptr);
    ~CodeEditor() override;

    // The text in the owner's terms (line endings as given to setText()).
    QString text() const;
    void setText(const QString& text);
    // The length of text(), without building it.
    qsizetype textLength() const;

    double fontSize() const { return m_fontSize; }
    void setFontSize(double points);
    QColor background() const { return m_background; }
    void setBackground(const QColor& color);

    // The text as the document holds it (plain line breaks), positions as the caret uses them.
    QString documentText() const;

    // What the ruler needs of the layout: the first block at least partly visible, and a
    // block's rectangle in viewport coordinates.
    QTextBlock firstVisibleTextBlock() const { return firstVisibleBlock(); }
    QRectF blockRectInViewport(const QTextBlock& block) const;

    LineRuler* ruler() const { return m_ruler; }

    // Re-colours the whole text (nothing at Highlighter::kMaxTextLength units or more).
    void highlight();

Q_SIGNALS:
    void edited();
    void textEdited(const QString& text);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void applyAppearance();
    // Where an edit put its new text, in document positions.
    struct EditSpan {
        int from = 0;
        int to = 0;
    };
    void onContentsChange(int position, int charsRemoved, int charsAdded);
    // Colours the text; after an edit only the blocks whose colouring may have changed.
    void recolour(std::optional<EditSpan> edit);
    void applyStyles(const std::vector<Highlighter::Style>& styles, int from, int to);
    QString toOwnerText(QString documentText) const;
    // The caret is painted here: Qt's own inverts the pixels under it and takes no colour.
    QRect caretRect() const;
    void restartCaretBlink();

    Theme& m_theme;
    LineRuler* m_ruler = nullptr;
    Highlighter m_highlighter;
    std::vector<QTextCharFormat> m_styleFormats;  // indexed by Highlighter::Style
    // The colouring the blocks carry now; nothing when they carry none or stale colours.
    std::optional<std::vector<Highlighter::Style>> m_appliedStyles;
    double m_fontSize = 13.0;
    QColor m_background = QColor(0x14, 0x14, 0x13);
    bool m_crlf = false;
    QTimer* m_caretBlink = nullptr;
    bool m_caretOn = false;
    QRect m_paintedCaret;
    // Set while the editor itself changes the document (replacing the text, colouring), so
    // those changes are not reported as the user's edits.
    bool m_updating = false;
};
