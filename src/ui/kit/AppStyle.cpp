#include "ui/kit/AppStyle.h"

#include "core/appearance/Theme.h"
#include "ui/kit/DesktopStyle.h"
#include "ui/kit/FontWarmUp.h"

#include <QApplication>
#include <QColor>
#include <QFont>
#include <QPalette>

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

DesktopStyle::Colours colours(const Theme& theme) {
    return {theme.bg(),
            theme.sidebar(),
            theme.surface(),
            theme.border(),
            theme.text(),
            theme.muted(),
            theme.accent(),
            withAlpha(theme.accent(), 0.16),
            textOn(theme.accent()),
            withAlpha(theme.text(), 0.07)};
}

QPalette palette(const DesktopStyle::Colours& c) {
    QPalette palette;
    palette.setColor(QPalette::Window, c.bg);
    palette.setColor(QPalette::Base, c.bg);
    palette.setColor(QPalette::AlternateBase, c.surface);
    palette.setColor(QPalette::Button, c.surface);
    palette.setColor(QPalette::ToolTipBase, c.surface);
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::ToolTipText}) {
        palette.setColor(role, c.text);
        palette.setColor(QPalette::Disabled, role, c.muted);
    }
    palette.setColor(QPalette::PlaceholderText, c.muted);
    palette.setColor(QPalette::Highlight, c.accent);
    palette.setColor(QPalette::HighlightedText, c.accentText);
    palette.setColor(QPalette::Link, c.accent);
    palette.setColor(QPalette::LinkVisited, c.accent);
    palette.setColor(QPalette::Mid, c.border);
    palette.setColor(QPalette::Dark, c.border);
    palette.setColor(QPalette::Light, c.hover);
    return palette;
}

}  // namespace

void install() {
    QApplication::setStyle(new DesktopStyle);
    QFont font = QApplication::font();
    font.setFamilies({installedFamily(font.family())});
    font.setPixelSize(13);
    QApplication::setFont(font);
}

void apply(const Theme& theme) {
    const DesktopStyle::Colours look = colours(theme);
    if (auto* style = dynamic_cast<DesktopStyle*>(QApplication::style())) {
        style->setColours(look);
    }
    QApplication::setPalette(palette(look));
}

}  // namespace AppStyle
