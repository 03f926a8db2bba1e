#include "ui/terminal/TerminalFindBar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QToolButton>

namespace {

QToolButton* barButton(QWidget* parent, const QString& text, const QString& tip) {
    auto* button = new QToolButton(parent);
    button->setText(text);
    button->setToolTip(tip);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

}  // namespace

TerminalFindBar::TerminalFindBar(QWidget* parent)
    : QWidget(parent),
      m_text(new QLineEdit(this)),
      m_summary(new QLabel(this)),
      m_regex(barButton(this, QStringLiteral(".*"), QStringLiteral("Regular expression"))),
      m_case(barButton(this, QStringLiteral("Aa"), QStringLiteral("Match case"))) {
    setObjectName(QStringLiteral("terminalFindBar"));
    setAutoFillBackground(false);
    setCursor(Qt::ArrowCursor);
    m_text->setPlaceholderText(QStringLiteral("Find"));
    m_text->setClearButtonEnabled(false);
    m_text->setFrame(false);
    m_text->setMinimumWidth(180);
    m_text->installEventFilter(this);
    m_regex->setCheckable(true);
    m_regex->setObjectName(QStringLiteral("regularExpression"));
    m_case->setCheckable(true);
    m_case->setObjectName(QStringLiteral("matchCase"));
    m_summary->setMinimumWidth(90);
    auto* previous = barButton(this, QStringLiteral("↑"), QStringLiteral("Previous (Shift+Enter)"));
    auto* next = barButton(this, QStringLiteral("↓"), QStringLiteral("Next (Enter)"));
    auto* close = barButton(this, QStringLiteral("✕"), QStringLiteral("Close (Escape)"));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 5, 6, 5);
    layout->setSpacing(4);
    layout->addWidget(m_text, 1);
    layout->addWidget(m_summary);
    layout->addWidget(m_regex);
    layout->addWidget(m_case);
    layout->addWidget(previous);
    layout->addWidget(next);
    layout->addWidget(close);

    connect(m_text, &QLineEdit::textChanged, this, &TerminalFindBar::searchChanged);
    connect(m_regex, &QToolButton::toggled, this, &TerminalFindBar::searchChanged);
    connect(m_case, &QToolButton::toggled, this, &TerminalFindBar::searchChanged);
    connect(previous, &QToolButton::clicked, this, &TerminalFindBar::previousRequested);
    connect(next, &QToolButton::clicked, this, &TerminalFindBar::nextRequested);
    connect(close, &QToolButton::clicked, this, &TerminalFindBar::closeRequested);
    setColors(QColor(0x10, 0x20, 0x34), QColor(0xD0, 0xDE, 0xEB), QColor(0x00, 0xE5, 0xD0));
}

QString TerminalFindBar::text() const {
    return m_text->text();
}

bool TerminalFindBar::regularExpression() const {
    return m_regex->isChecked();
}

bool TerminalFindBar::caseSensitive() const {
    return m_case->isChecked();
}

void TerminalFindBar::focusText() {
    m_text->setFocus(Qt::ShortcutFocusReason);
    m_text->selectAll();
}

void TerminalFindBar::setSummary(const QString& summary, bool error) {
    m_summary->setText(summary);
    m_summary->setToolTip(error ? summary : QString());
    if (error != m_error) {
        m_error = error;
        setColors(m_background, m_textColor, m_accent);
    }
}

QString TerminalFindBar::summary() const {
    return m_summary->text();
}

void TerminalFindBar::setColors(const QColor& background, const QColor& text,
                                const QColor& accent) {
    m_background = background;
    m_textColor = text;
    m_accent = accent;
    m_border = m_error ? QColor(0xE5, 0x48, 0x4D) : accent;
    QColor muted = text;
    muted.setAlphaF(0.7);
    QColor checked = accent;
    checked.setAlphaF(0.3);
    setStyleSheet(QStringLiteral("QLineEdit { background: transparent; color: %1; "
                                 "selection-background-color: %2; }"
                                 "QLabel { color: %3; }"
                                 "QToolButton { color: %1; border: none; border-radius: 4px; "
                                 "padding: 2px 5px; }"
                                 "QToolButton:hover { background: %4; }"
                                 "QToolButton:checked { background: %4; color: %5; }")
                      .arg(text.name(), accent.name(),
                           (m_error ? m_border : muted).name(QColor::HexArgb),
                           checked.name(QColor::HexArgb), accent.name()));
    update();
}

bool TerminalFindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_text && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        switch (key->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
                if (key->modifiers() & Qt::ShiftModifier) {
                    Q_EMIT previousRequested();
                } else {
                    Q_EMIT nextRequested();
                }
                return true;
            case Qt::Key_Escape:
                Q_EMIT closeRequested();
                return true;
            default:
                break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TerminalFindBar::keyPressEvent(QKeyEvent* event) {
    event->accept();
}

void TerminalFindBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(m_border, 1));
    painter.setBrush(m_background);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
}
