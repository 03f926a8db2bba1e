#pragma once

#include <QColor>
#include <QWidget>

class QLabel;
class QLineEdit;
class QToolButton;

/// The small bar over a terminal that holds what to find: the text, whether it is a regular
/// expression, whether case matters, the match count and the buttons to step through the
/// matches. It only says what the user asked for; TerminalView searches and answers with
/// setSummary().
///
/// Keys in the text field: Enter goes to the next match, Shift+Enter to the previous one,
/// Escape closes the bar.
class TerminalFindBar : public QWidget {
    Q_OBJECT
public:
    explicit TerminalFindBar(QWidget* parent = nullptr);

    QString text() const;
    bool regularExpression() const;
    bool caseSensitive() const;
    /// Takes the keyboard focus into the text field, its text selected.
    void focusText();
    /// "3 of 17", "No matches" or why the pattern is invalid (`error`: shown as a warning).
    void setSummary(const QString& summary, bool error);
    QString summary() const;
    void setColors(const QColor& background, const QColor& text, const QColor& accent);

Q_SIGNALS:
    /// The text or an option changed.
    void searchChanged();
    void nextRequested();
    void previousRequested();
    void closeRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    /// Keys the text field leaves (arrows, page keys) stop here: they are not for the program.
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QLineEdit* m_text;
    QLabel* m_summary;
    QToolButton* m_regex;
    QToolButton* m_case;
    QColor m_background;
    QColor m_border;
    QColor m_textColor;
    QColor m_accent;
    bool m_error = false;
};
