#include "ui/kit/DesktopStyle.h"

#include "core/base/PngFile.h"

#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QStyleOption>

#include <initializer_list>

namespace {

// Qt's own artwork for the icon, every size of it, or a null icon when one is missing.
QIcon iconFromPngs(const QString& stem, std::initializer_list<int> sizes) {
    QIcon icon;
    for (int size : sizes) {
        const QImage image =
            readPngFile(QStringLiteral(":/qt-project.org/styles/commonstyle/images/%1-%2.png")
                            .arg(stem)
                            .arg(size));
        if (image.isNull()) {
            return {};
        }
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

}  // namespace

QIcon DesktopStyle::standardIcon(StandardPixmap standardIcon, const QStyleOption* option,
                                 const QWidget* widget) const {
    QIcon icon;
    if (standardIcon == SP_ToolBarHorizontalExtensionButton) {
        const Qt::LayoutDirection direction =
            option ? option->direction : QGuiApplication::layoutDirection();
        icon = iconFromPngs(direction == Qt::RightToLeft ? QStringLiteral("toolbar-ext-h-rtl")
                                                         : QStringLiteral("toolbar-ext-h"),
                            {8, 16, 32});
    } else if (standardIcon == SP_ToolBarVerticalExtensionButton) {
        icon = iconFromPngs(QStringLiteral("toolbar-ext-v"), {5, 10, 20});
    } else if (standardIcon == SP_LineEditClearButton) {
        icon = iconFromPngs(QStringLiteral("cleartext"), {16, 32});
    }
    // Another Qt may keep its artwork elsewhere: its own lookup then finds it.
    return icon.isNull() ? QProxyStyle::standardIcon(standardIcon, option, widget) : icon;
}
