#include "ui/kit/AppStyle.h"

#include "core/appearance/Theme.h"

#include <QColor>

namespace AppStyle {

QString css(const QColor& color) {
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(QString::number(color.alphaF(), 'f', 3));
}

namespace {

QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(alpha);
    return color;
}

// Black or white, whichever reads better on `fill`.
QColor textOn(const QColor& fill) {
    const double luminance = 0.299 * fill.redF() + 0.587 * fill.greenF() + 0.114 * fill.blueF();
    return luminance > 0.6 ? QColor(0x10, 0x14, 0x18) : QColor(Qt::white);
}

}  // namespace

QString styleSheet(const Theme& theme) {
    const QString bg = css(theme.bg());
    const QString accent = css(theme.accent());
    const QString sidebar = css(theme.sidebar());
    const QString surface = css(theme.surface());
    const QString border = css(theme.border());
    const QString text = css(theme.text());
    const QString muted = css(theme.muted());
    const QString accentSoft = css(withAlpha(theme.accent(), 0.16));
    const QString accentText = css(textOn(theme.accent()));
    const QString hover = css(withAlpha(theme.text(), 0.07));

    QString sheet = QStringLiteral(R"(
QWidget { color: %text; font-size: 13px; }
QMainWindow, #Root, #PageArea { background: %bg; }
/* Dialogs (message boxes, file choosers) inherit the text colour: they need its background. */
QDialog { background: %bg; }
QLabel { background: transparent; }
#Sidebar { background: %sidebar; border-right: 1px solid %border; }
#Header { background: %bg; border-bottom: 1px solid %border; }
#StatusBar { background: %sidebar; border-top: 1px solid %border; }
QLabel[role="status"] { color: %muted; font-size: 12px; }
#StatusDot { background: %accent; border-radius: 4px; }
#HeaderTitle { font-size: 17px; }
#Notice { background: %surface; border: 1px solid %accent; border-radius: 10px;
          padding: 10px 18px; font-weight: 600; }
QFrame[card="true"] { background: %surface; border: 1px solid %border; border-radius: 12px; }
QLabel[role="title"] { font-size: 15px; font-weight: 600; }
QLabel[role="headline"] { font-size: 30px; font-weight: 700; }
QLabel[role="muted"] { color: %muted; }
QLabel[role="accent"] { color: %accent; font-weight: 600; }
QLabel[role="pill"] { color: %accent; background: %accentSoft; border-radius: 9px;
                      padding: 2px 10px; font-size: 11px; font-weight: 600; }
QLabel[role="badge"] { color: %accentText; background: %accent; border-radius: 8px;
                       padding: 0px 6px; font-size: 11px; font-weight: 700; }
QPushButton, QToolButton { background: %surface; border: 1px solid %border; border-radius: 8px;
                           padding: 6px 12px; color: %text; }
QPushButton:hover, QToolButton:hover { background: %hover; }
QPushButton:disabled, QToolButton:disabled { color: %muted; }
QPushButton[primary="true"] { background: %accent; color: %accentText; border: none;
                              font-weight: 700; padding: 8px 18px; }
QPushButton[primary="true"]:disabled { background: %accentSoft; color: %muted; }
QPushButton[link="true"] { background: transparent; border: none; color: %accent; padding: 2px; }
QPushButton[segment="true"] { border-radius: 6px; padding: 4px 12px; }
QPushButton[segment="true"]:checked { background: %accentSoft; color: %accent; border-color: %accent; }
QPushButton[tab="true"] { border-radius: 6px; padding: 4px 10px; }
QPushButton[tab="true"]:checked { background: %accentSoft; color: %accent; border-color: %accent; }
QPushButton[quick="true"] { text-align: left; padding: 14px; border-radius: 12px; }
QPushButton[bare="true"], QPushButton[bare="true"]:hover { background: transparent; border: none;
                                                           padding: 0px; }
QToolButton[nav="true"] { background: transparent; border: none; text-align: left;
                          padding: 7px 10px; border-radius: 8px; }
QToolButton[nav="true"]:hover { background: %hover; }
QToolButton[nav="true"]:checked { background: %accentSoft; color: %accent; font-weight: 600; }
QToolButton[flat="true"] { background: transparent; border: none; padding: 4px; }
QToolButton::menu-indicator { image: none; width: 0px; }
QPlainTextEdit { background: %bg; border: 1px solid %border; border-radius: 8px; padding: 6px;
                 selection-background-color: %accent; selection-color: %accentText; }
QLineEdit { background: %bg; border: 1px solid %border; border-radius: 6px; padding: 5px 8px;
            selection-background-color: %accent; selection-color: %accentText; }
QLineEdit:focus, QPlainTextEdit:focus { border-color: %accent; }
QAbstractSpinBox { background: %bg; border: 1px solid %border; border-radius: 6px;
                   padding: 4px 8px; color: %text; selection-background-color: %accent;
                   selection-color: %accentText; }
QAbstractSpinBox:focus { border-color: %accent; }
QAbstractSpinBox QLineEdit { background: transparent; border: none; padding: 0; }
QListView, QTreeView, QTableView, QTextEdit { background: %bg; border: 1px solid %border;
                                              border-radius: 8px; outline: none; }
QListView::item, QTreeView::item { padding: 3px 4px; }
QListView::indicator, QTreeView::indicator { width: 13px; height: 13px; border-radius: 3px;
                                             border: 1px solid %muted; background: %bg; }
QListView::indicator:checked, QTreeView::indicator:checked { background: %accent;
                                                             border-color: %accent; }
QComboBox { background: %surface; border: 1px solid %border; border-radius: 6px;
            padding: 5px 8px; color: %text; }
QComboBox:hover { background: %hover; }
QComboBox QAbstractItemView { background: %surface; color: %text; border: 1px solid %border;
                              selection-background-color: %accentSoft; selection-color: %accent; }
QListView::item:selected, QTreeView::item:selected { background: %accentSoft; color: %accent; }
QListView::item:hover, QTreeView::item:hover { background: %hover; }
QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; border: none; }
QScrollBar:vertical { background: transparent; width: 8px; }
QScrollBar::handle:vertical { background: %border; border-radius: 4px; min-height: 24px; }
QScrollBar::add-line, QScrollBar::sub-line { height: 0px; width: 0px; }
QScrollBar:horizontal { background: transparent; height: 8px; }
QScrollBar::handle:horizontal { background: %border; border-radius: 4px; min-width: 24px; }
QHeaderView { background: %surface; border: none; }
QHeaderView::section { background: %surface; color: %text; border: none;
                       border-right: 1px solid %border; border-bottom: 1px solid %border;
                       padding: 4px 6px; }
QTableCornerButton::section { background: %surface; border: none; }
QMenu { background: %surface; border: 1px solid %border; padding: 4px; }
QMenu::item { padding: 5px 18px; border-radius: 4px; }
QMenu::item:selected { background: %accentSoft; color: %accent; }
QMenuBar { background: %sidebar; }
QMenuBar::item:selected { background: %accentSoft; }
QToolTip { background: %surface; color: %text; border: 1px solid %border; }
)");
    sheet.replace(QStringLiteral("%bg"), bg)
        .replace(QStringLiteral("%accentSoft"), accentSoft)
        .replace(QStringLiteral("%accentText"), accentText)
        .replace(QStringLiteral("%accent"), accent)
        .replace(QStringLiteral("%sidebar"), sidebar)
        .replace(QStringLiteral("%surface"), surface)
        .replace(QStringLiteral("%border"), border)
        .replace(QStringLiteral("%text"), text)
        .replace(QStringLiteral("%muted"), muted)
        .replace(QStringLiteral("%hover"), hover);
    return sheet;
}

}  // namespace AppStyle
