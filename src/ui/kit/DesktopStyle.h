#pragma once

#include <QColor>
#include <QProxyStyle>

// The application's widget style: the desktop's own (the one Qt would choose) for what it
// leaves alone, with VELK's look drawn in code for the rest. It reads what a widget is from
// object names and dynamic properties, set before the widget joins a window (`Widgets::`
// sets them; `Widgets::restyle` applies a change):
//   #Sidebar, #Header, #StatusBar, #Notice       the window's frame parts
//   #HeaderTitle, #StatusDot                     the current page's name, the status light
//   card=true                                    a raised surface with a border
//   role="title"|"headline"|"muted"|"pill"|"badge"|"accent"|"status"   text roles of labels
//   QPushButton primary|link|segment|tab|quick|bare=true   the kinds of buttons
//   QToolButton nav|flat=true                    a sidebar page entry (checked = selected),
//                                                an icon-only button
// Drawing in code costs a widget nothing when it is made; a style sheet made every widget of
// the window match its rules, twice, while the window was being built.
//
// Its standard icons (a menu bar's overflow button, a search field's clear button) are read
// as PNG directly: read the usual way, the first of them makes Qt load every image-format
// plugin and its libraries while the window is being built.
class DesktopStyle : public QProxyStyle {
public:
    // What the widgets are drawn in; the application's palette carries the same colours.
    struct Colours {
        QColor bg, sidebar, surface, border, text, muted, accent, accentSoft, accentText, hover;
    };

    void setColours(const Colours& colours) { m_colours = colours; }
    const Colours& colours() const { return m_colours; }

    void polish(QWidget* widget) override;
    void unpolish(QWidget* widget) override;
    using QProxyStyle::polish;
    using QProxyStyle::unpolish;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget = nullptr) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override;
    QRect subElementRect(SubElement element, const QStyleOption* option,
                         const QWidget* widget) const override;
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                         SubControl subControl, const QWidget* widget) const override;
    QPixmap generatedIconPixmap(QIcon::Mode mode, const QPixmap& pixmap,
                                const QStyleOption* option) const override;
    QIcon standardIcon(StandardPixmap standardIcon, const QStyleOption* option = nullptr,
                       const QWidget* widget = nullptr) const override;

private:
    Colours m_colours{QColor(0x14, 0x14, 0x14), QColor(0x1a, 0x1a, 0x1a),
                      QColor(0x22, 0x22, 0x22), QColor(0x33, 0x33, 0x33),
                      QColor(0xe6, 0xe6, 0xe6), QColor(0x99, 0x99, 0x99),
                      QColor(0x22, 0xd3, 0xee), QColor(0x22, 0xd3, 0xee, 40),
                      QColor(Qt::black),        QColor(255, 255, 255, 18)};
};
