#include "ui/kit/DesktopStyle.h"

#include "core/base/PngFile.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStyleOption>
#include <QTextEdit>
#include <QToolButton>
#include <QVariant>

#include <initializer_list>
#include <optional>
#include <tuple>

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

// Room on a spin box's right for its step arrows.
constexpr int kSpinButtonsWidth = 18;

// The dynamic property `name` of `widget`, or an invalid value. Only the widget's own few
// dynamic properties are compared: asking Qt for a missing one walks every property of every
// class above the widget.
QVariant ownProperty(const QWidget* widget, const char* name) {
    if (widget) {
        for (const QByteArray& each : widget->dynamicPropertyNames()) {
            if (each == name) {
                return widget->property(name);
            }
        }
    }
    return {};
}

enum class ButtonKind { Plain, Primary, Link, Segment, Tab, Quick, Bare, Nav, Flat };

// A button's kind, from the first of its kind properties that is true.
ButtonKind buttonKind(const QWidget* widget) {
    if (!widget) {
        return ButtonKind::Plain;
    }
    static const std::pair<const char*, ButtonKind> kinds[] = {
        {"primary", ButtonKind::Primary}, {"link", ButtonKind::Link},
        {"segment", ButtonKind::Segment}, {"tab", ButtonKind::Tab},
        {"quick", ButtonKind::Quick},     {"bare", ButtonKind::Bare},
        {"nav", ButtonKind::Nav},         {"flat", ButtonKind::Flat}};
    // One pass over the widget's own properties, for the reason ownProperty() gives.
    for (const QByteArray& name : widget->dynamicPropertyNames()) {
        for (const auto& [kindName, kind] : kinds) {
            if (name == kindName && widget->property(kindName).toBool()) {
                return kind;
            }
        }
    }
    return ButtonKind::Plain;
}

// Padding plus border on each side of a button's contents, and its corners' radius.
struct Box {
    int horizontal;
    int vertical;
    int radius;
};

Box buttonBox(ButtonKind kind) {
    switch (kind) {
        case ButtonKind::Primary:
            return {18, 8, 8};
        case ButtonKind::Link:
            return {2, 2, 0};
        case ButtonKind::Segment:
            return {13, 5, 6};
        case ButtonKind::Tab:
            return {11, 5, 6};
        case ButtonKind::Quick:
            return {15, 15, 12};
        case ButtonKind::Bare:
            return {0, 0, 0};
        case ButtonKind::Nav:
            return {10, 7, 8};
        case ButtonKind::Flat:
            return {4, 4, 0};
        case ButtonKind::Plain:
            break;
    }
    return {13, 7, 8};
}

QString role(const QWidget* widget) {
    return ownProperty(widget, "role").toString();
}

bool isCard(const QWidget* widget) {
    return ownProperty(widget, "card").toBool();
}

// A line edit that is part of a spin box or a combo box, drawn by its owner.
bool isInnerLineEdit(const QWidget* widget) {
    return widget && widget->parentWidget() &&
           (qobject_cast<const QAbstractSpinBox*>(widget->parentWidget()) ||
            qobject_cast<const QComboBox*>(widget->parentWidget()));
}

// The space a framed widget keeps between its edge and its contents (border and padding),
// for the widgets whose frame this style draws.
std::optional<QMargins> frameInsets(const QWidget* widget) {
    if (!widget) {
        return std::nullopt;
    }
    if (qobject_cast<const QScrollArea*>(widget)) {
        return QMargins();
    }
    if (qobject_cast<const QPlainTextEdit*>(widget)) {
        return QMargins(7, 7, 7, 7);
    }
    if (qobject_cast<const QAbstractItemView*>(widget) || qobject_cast<const QTextEdit*>(widget)) {
        return QMargins(1, 1, 1, 1);
    }
    if (widget->objectName() == QLatin1String("Notice")) {
        return QMargins(19, 11, 19, 11);
    }
    if (qobject_cast<const QLabel*>(widget)) {
        const QString labelRole = role(widget);
        if (labelRole == QLatin1String("pill")) {
            return QMargins(10, 2, 10, 2);
        }
        if (labelRole == QLatin1String("badge")) {
            return QMargins(6, 0, 6, 0);
        }
    }
    if (isCard(widget)) {
        return QMargins(1, 1, 1, 1);
    }
    return std::nullopt;
}

void fillRounded(QPainter* painter, const QRectF& rect, qreal radius, const QColor& fill,
                 const QColor& border = QColor()) {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (border.isValid()) {
        painter->setPen(QPen(border, 1));
        painter->setBrush(fill.isValid() ? QBrush(fill) : Qt::NoBrush);
        painter->drawRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    } else if (fill.isValid()) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(fill);
        painter->drawRoundedRect(rect, radius, radius);
    }
    painter->restore();
}

// The font of a label drawn heavier than its widget's (a primary button's, the current
// sidebar entry's): semibold, as the titles, so that the first page needs no font of its own
// for them.
QFont emphasised(QFont font) {
    font.setWeight(QFont::DemiBold);
    return font;
}

void setFontSize(QWidget* widget, int pixelSize, int weight) {
    QFont font;  // sets only what is given; the rest follows the parent
    if (pixelSize > 0) {
        font.setPixelSize(pixelSize);
    }
    if (weight > 0) {
        font.setWeight(QFont::Weight(weight));
    }
    widget->setFont(font);
}

}  // namespace

void DesktopStyle::polish(QWidget* widget) {
    QProxyStyle::polish(widget);
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        const QString labelRole = role(label);
        if (labelRole == QLatin1String("title")) {
            setFontSize(label, label->objectName() == QLatin1String("HeaderTitle") ? 17 : 15, 600);
        } else if (labelRole == QLatin1String("headline")) {
            setFontSize(label, 30, 700);
        } else if (labelRole == QLatin1String("muted")) {
            label->setForegroundRole(QPalette::PlaceholderText);
        } else if (labelRole == QLatin1String("status")) {
            setFontSize(label, 12, 0);
            label->setForegroundRole(QPalette::PlaceholderText);
        } else if (labelRole == QLatin1String("accent")) {
            setFontSize(label, 0, 600);
            label->setForegroundRole(QPalette::Link);
        } else if (labelRole == QLatin1String("pill")) {
            setFontSize(label, 11, 600);
            label->setForegroundRole(QPalette::Link);
            label->setAttribute(Qt::WA_StyledBackground);
        } else if (labelRole == QLatin1String("badge")) {
            setFontSize(label, 11, 700);
            label->setForegroundRole(QPalette::HighlightedText);
            label->setAttribute(Qt::WA_StyledBackground);
        } else if (label->objectName() == QLatin1String("Notice")) {
            setFontSize(label, 0, 600);
            label->setAttribute(Qt::WA_StyledBackground);
        } else if (label->objectName() == QLatin1String("HeaderTitle")) {
            setFontSize(label, 17, 0);
        }
    }
    if (isCard(widget) || widget->objectName() == QLatin1String("StatusDot")) {
        widget->setAttribute(Qt::WA_StyledBackground);
    }
    if (qobject_cast<QAbstractButton*>(widget) || qobject_cast<QComboBox*>(widget)) {
        widget->setAttribute(Qt::WA_Hover);
    }
    if (auto* view = qobject_cast<QAbstractItemView*>(widget)) {
        view->viewport()->setAttribute(Qt::WA_Hover);
    }
    // The frame's rounded background shows through a view's viewport, which would otherwise
    // fill the corners square.
    if (qobject_cast<QAbstractItemView*>(widget) || qobject_cast<QTextEdit*>(widget)) {
        static_cast<QAbstractScrollArea*>(widget)->viewport()->setAutoFillBackground(false);
    }
    // Scrolled content shows what is behind its scroll area (QScrollArea fills both the
    // viewport and the content with the window's colour).
    if (auto* area = qobject_cast<QScrollArea*>(widget)) {
        area->viewport()->setAutoFillBackground(false);
        if (area->widget()) {
            area->widget()->setAutoFillBackground(false);
        }
    } else if (QWidget* parent = widget->parentWidget();
               parent && qobject_cast<QScrollArea*>(parent->parentWidget()) &&
               static_cast<QScrollArea*>(parent->parentWidget())->viewport() == parent) {
        widget->setAutoFillBackground(false);
    }
}

void DesktopStyle::unpolish(QWidget* widget) {
    if (qobject_cast<QAbstractButton*>(widget) || qobject_cast<QComboBox*>(widget)) {
        widget->setAttribute(Qt::WA_Hover, false);
    }
    QProxyStyle::unpolish(widget);
}

void DesktopStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                 QPainter* painter, const QWidget* widget) const {
    const Colours& c = m_colours;
    switch (element) {
        case PE_Widget: {
            if (!widget) {
                break;
            }
            const QString name = widget->objectName();
            const QRect r = option->rect;
            if (name == QLatin1String("Sidebar")) {
                painter->fillRect(r, c.sidebar);
                painter->fillRect(QRect(r.right(), r.top(), 1, r.height()), c.border);
            } else if (name == QLatin1String("Header")) {
                painter->fillRect(r, c.bg);
                painter->fillRect(QRect(r.left(), r.bottom(), r.width(), 1), c.border);
            } else if (name == QLatin1String("StatusBar")) {
                painter->fillRect(r, c.sidebar);
                painter->fillRect(QRect(r.left(), r.top(), r.width(), 1), c.border);
            } else if (name == QLatin1String("Notice")) {
                fillRounded(painter, r, 10, c.surface, c.accent);
            } else if (name == QLatin1String("StatusDot")) {
                fillRounded(painter, r, 4, c.accent);
            } else if (isCard(widget)) {
                fillRounded(painter, r, 12, c.surface, c.border);
            } else if (const QString labelRole = role(widget); labelRole == QLatin1String("pill")) {
                fillRounded(painter, r, 9, c.accentSoft);
            } else if (labelRole == QLatin1String("badge")) {
                fillRounded(painter, r, 8, c.accent);
            }
            return;
        }
        case PE_PanelLineEdit: {
            if (isInnerLineEdit(widget)) {
                return;
            }
            const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
            if (frame && frame->lineWidth <= 0) {
                painter->fillRect(option->rect, option->palette.base());
                return;
            }
            fillRounded(painter, option->rect, 6, option->palette.color(QPalette::Base),
                        option->state & State_HasFocus ? c.accent : c.border);
            return;
        }
        case PE_FrameLineEdit:
            return;
        case PE_FrameFocusRect:
            if (qobject_cast<const QAbstractItemView*>(widget)) {
                return;  // the selection shows where the view is
            }
            break;
        case PE_PanelItemViewItem:
            if (option->state & State_Selected) {
                painter->fillRect(option->rect, c.accentSoft);
            } else if (option->state & State_MouseOver) {
                painter->fillRect(option->rect, c.hover);
            }
            return;
        case PE_IndicatorItemViewItemCheck:
        case PE_IndicatorCheckBox:
            if (qobject_cast<const QAbstractItemView*>(widget)) {
                const QRectF box = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
                const bool checked = option->state & State_On;
                fillRounded(painter, box, 3, checked ? c.accent : c.bg,
                            checked ? c.accent : c.muted);
                if (checked) {
                    painter->save();
                    painter->setRenderHint(QPainter::Antialiasing);
                    painter->setPen(
                        QPen(c.accentText, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
                    const QPointF o = box.topLeft();
                    const qreal s = box.width();
                    painter->drawPolyline(QList<QPointF>{o + QPointF(s * 0.24, s * 0.52),
                                                         o + QPointF(s * 0.42, s * 0.70),
                                                         o + QPointF(s * 0.76, s * 0.30)});
                    painter->restore();
                }
                return;
            }
            break;
        case PE_PanelMenu:
        case PE_FrameMenu:
            fillRounded(painter, option->rect, 0, element == PE_PanelMenu ? c.surface : QColor(),
                        c.border);
            return;
        case PE_PanelTipLabel:
            fillRounded(painter, option->rect, 0, c.surface, c.border);
            return;
        default:
            break;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

namespace {

// The fill, border and text colours of a button in the state the option gives.
struct ButtonLook {
    QColor fill;
    QColor border;
    QColor text;
};

ButtonLook buttonLook(ButtonKind kind, const QStyleOption* option, const DesktopStyle::Colours& c) {
    const bool enabled = option->state & QStyle::State_Enabled;
    const bool hovered = enabled && (option->state & QStyle::State_MouseOver);
    const bool checked = option->state & QStyle::State_On;
    const bool keyboardFocus = (option->state & QStyle::State_HasFocus) &&
                               (option->state & QStyle::State_KeyboardFocusChange);
    ButtonLook look{c.surface, c.border, enabled ? c.text : c.muted};
    switch (kind) {
        case ButtonKind::Primary:
            look = enabled ? ButtonLook{c.accent, QColor(), c.accentText}
                           : ButtonLook{c.accentSoft, QColor(), c.muted};
            break;
        case ButtonKind::Link:
            look = {QColor(), QColor(), c.accent};
            break;
        case ButtonKind::Bare:
        case ButtonKind::Flat:
            look = {QColor(), QColor(), look.text};
            break;
        case ButtonKind::Nav:
            look = {hovered ? c.hover : QColor(), QColor(), look.text};
            if (checked) {
                look = {c.accentSoft, QColor(), c.accent};
            }
            break;
        case ButtonKind::Segment:
        case ButtonKind::Tab:
            if (checked) {
                look = {c.accentSoft, c.accent, c.accent};
                break;
            }
            [[fallthrough]];
        case ButtonKind::Quick:
        case ButtonKind::Plain:
            if (hovered) {
                look.fill = c.hover;
            }
            break;
    }
    if (keyboardFocus && kind != ButtonKind::Bare) {
        look.border = c.accent;
    }
    return look;
}

QRect contentsRect(const QRect& rect, ButtonKind kind) {
    const Box box = buttonBox(kind);
    return rect.adjusted(box.horizontal, box.vertical, -box.horizontal, -box.vertical);
}

void drawButtonPanel(QPainter* painter, const QRect& rect, ButtonKind kind,
                     const ButtonLook& look) {
    fillRounded(painter, rect, buttonBox(kind).radius, look.fill, look.border);
}

}  // namespace

void DesktopStyle::drawControl(ControlElement element, const QStyleOption* option,
                               QPainter* painter, const QWidget* widget) const {
    const Colours& c = m_colours;
    switch (element) {
        case CE_PushButton: {
            const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
            if (!button) {
                break;
            }
            proxy()->drawControl(CE_PushButtonBevel, button, painter, widget);
            QStyleOptionButton label = *button;
            label.rect = proxy()->subElementRect(SE_PushButtonContents, button, widget);
            proxy()->drawControl(CE_PushButtonLabel, &label, painter, widget);
            return;
        }
        case CE_PushButtonBevel: {
            const ButtonKind kind = buttonKind(widget);
            drawButtonPanel(painter, option->rect, kind, buttonLook(kind, option, c));
            if (const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
                button && (button->features & QStyleOptionButton::HasMenu)) {
                QStyleOption arrow = *option;
                const int size = 8;
                arrow.rect = QRect(option->rect.right() - buttonBox(kind).horizontal - size,
                                   option->rect.center().y() - size / 2, size, size);
                arrow.palette.setColor(QPalette::ButtonText, buttonLook(kind, option, c).text);
                proxy()->drawPrimitive(PE_IndicatorArrowDown, &arrow, painter, widget);
            }
            return;
        }
        case CE_PushButtonLabel: {
            const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
            if (!button) {
                break;
            }
            const ButtonKind kind = buttonKind(widget);
            QStyleOptionButton label = *button;
            label.palette.setColor(QPalette::ButtonText, buttonLook(kind, option, c).text);
            label.state &= ~(State_Sunken | State_On);  // no pressed offset
            if (kind == ButtonKind::Primary) {
                painter->save();
                painter->setFont(emphasised(painter->font()));
                label.fontMetrics = QFontMetrics(painter->font());  // centres icon and text
                QProxyStyle::drawControl(element, &label, painter, widget);
                painter->restore();
                return;
            }
            QProxyStyle::drawControl(element, &label, painter, widget);
            return;
        }
        case CE_ShapedFrame: {
            if (qobject_cast<const QScrollArea*>(widget)) {
                return;
            }
            const bool plainText = qobject_cast<const QPlainTextEdit*>(widget);
            if (plainText || qobject_cast<const QAbstractItemView*>(widget) ||
                qobject_cast<const QTextEdit*>(widget)) {
                const QColor border =
                    plainText && (option->state & State_HasFocus) ? c.accent : c.border;
                // Base, not the theme's background: a view may have a colour of its own.
                fillRounded(painter, option->rect, 8, option->palette.color(QPalette::Base),
                            border);
                return;
            }
            if (frameInsets(widget)) {
                return;  // drawn as the widget's background
            }
            break;
        }
        case CE_ItemViewItem: {
            const auto* item = qstyleoption_cast<const QStyleOptionViewItem*>(option);
            if (!item) {
                break;
            }
            QStyleOptionViewItem look = *item;
            look.palette.setColor(QPalette::HighlightedText, c.accent);
            QProxyStyle::drawControl(element, &look, painter, widget);
            return;
        }
        case CE_MenuItem: {
            const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
            if (!item) {
                break;
            }
            // Items sit on the menu's surface; the selected one is tinted with the accent.
            QStyleOptionMenuItem look = *item;
            look.palette.setColor(QPalette::Window, c.surface);
            if ((item->state & State_Selected) && (item->state & State_Enabled) &&
                item->menuItemType != QStyleOptionMenuItem::Separator) {
                painter->fillRect(item->rect, c.surface);
                fillRounded(painter, item->rect.adjusted(1, 0, -1, 0), 4, c.accentSoft);
                look.state &= ~State_Selected;
                for (const QPalette::ColorRole role :
                     {QPalette::Text, QPalette::WindowText, QPalette::ButtonText}) {
                    look.palette.setColor(role, c.accent);
                }
            }
            QProxyStyle::drawControl(element, &look, painter, widget);
            return;
        }
        case CE_MenuBarEmptyArea:
            painter->fillRect(option->rect, c.sidebar);
            return;
        case CE_MenuBarItem: {
            const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
            if (!item) {
                break;
            }
            // accentSoft is translucent: it tints the bar's own colour.
            painter->fillRect(item->rect, c.sidebar);
            if (item->state & State_Selected) {
                painter->fillRect(item->rect, c.accentSoft);
            }
            QStyleOptionMenuItem look = *item;
            look.state &= ~(State_Selected | State_Sunken);
            look.palette.setBrush(QPalette::Window, Qt::transparent);  // keeps the fill
            QProxyStyle::drawControl(element, &look, painter, widget);
            return;
        }
        default:
            break;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

void DesktopStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                      QPainter* painter, const QWidget* widget) const {
    const Colours& c = m_colours;
    switch (control) {
        case CC_ToolButton: {
            const auto* button = qstyleoption_cast<const QStyleOptionToolButton*>(option);
            if (!button) {
                break;
            }
            const ButtonKind kind = buttonKind(widget);
            const ButtonLook look = buttonLook(kind, option, c);
            drawButtonPanel(painter, option->rect, kind, look);
            QStyleOptionToolButton label = *button;
            label.rect = contentsRect(option->rect, kind);
            // A button kept smaller than its padding (the file dialog's icon-only buttons)
            // shows its icon whole, centred, rather than shrunk to fit the padding.
            if (label.rect.width() < button->iconSize.width() ||
                label.rect.height() < button->iconSize.height()) {
                label.rect = option->rect;
            }
            label.palette.setColor(QPalette::ButtonText, look.text);
            label.state &= ~(State_Sunken | State_On);
            label.features &= ~QStyleOptionToolButton::HasMenu;  // no menu arrow
            if (kind == ButtonKind::Nav && (option->state & State_On)) {
                label.font = emphasised(label.font);
            }
            proxy()->drawControl(CE_ToolButtonLabel, &label, painter, widget);
            return;
        }
        case CC_ScrollBar: {
            const QRect handle =
                proxy()->subControlRect(control, option, SC_ScrollBarSlider, widget);
            if (handle.isValid()) {
                fillRounded(painter, handle, 4, c.border);
            }
            return;
        }
        case CC_SpinBox: {
            const auto* spin = qstyleoption_cast<const QStyleOptionSpinBox*>(option);
            if (!spin) {
                break;
            }
            if (spin->frame) {
                fillRounded(painter, option->rect, 6, c.bg,
                            option->state & State_HasFocus ? c.accent : c.border);
            }
            if (spin->buttonSymbols == QAbstractSpinBox::NoButtons) {
                return;
            }
            for (const auto& [part, arrowElement, stepFlag] :
                 {std::tuple{SC_SpinBoxUp, PE_IndicatorArrowUp, QAbstractSpinBox::StepUpEnabled},
                  std::tuple{SC_SpinBoxDown, PE_IndicatorArrowDown,
                             QAbstractSpinBox::StepDownEnabled}}) {
                QStyleOption arrow = *option;
                arrow.rect = proxy()->subControlRect(control, option, part, widget);
                const bool enabled =
                    (option->state & State_Enabled) && (spin->stepEnabled & stepFlag);
                arrow.palette.setColor(QPalette::ButtonText, enabled ? c.text : c.muted);
                arrow.state &= ~(State_Sunken | State_On);
                proxy()->drawPrimitive(arrowElement, &arrow, painter, widget);
            }
            return;
        }
        case CC_Slider: {
            const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
            if (!slider || slider->orientation != Qt::Horizontal) {
                break;
            }
            // A thin track, accent up to the handle, and a round handle in the text colour.
            const QRect groove = proxy()->subControlRect(control, option, SC_SliderGroove, widget);
            const QRect handle = proxy()->subControlRect(control, option, SC_SliderHandle, widget);
            const QRectF track(groove.left(), groove.center().y() - 1.5, groove.width(), 4);
            fillRounded(painter, track, 2, c.border);
            const qreal filledTo = slider->upsideDown ? track.right() : handle.center().x();
            const qreal filledFrom = slider->upsideDown ? handle.center().x() : track.left();
            fillRounded(painter, QRectF(filledFrom, track.top(), filledTo - filledFrom, 4), 2,
                        (option->state & State_Enabled) ? c.accent : c.muted);
            const qreal diameter = qMin(handle.width(), handle.height()) - 2;
            fillRounded(painter,
                        QRectF(handle.center().x() - diameter / 2 + 0.5,
                               handle.center().y() - diameter / 2 + 0.5, diameter, diameter),
                        diameter / 2, (option->state & State_Enabled) ? c.text : c.muted, c.border);
            return;
        }
        case CC_ComboBox: {
            const auto* combo = qstyleoption_cast<const QStyleOptionComboBox*>(option);
            if (!combo) {
                break;
            }
            const bool hovered =
                (option->state & State_Enabled) && (option->state & State_MouseOver);
            fillRounded(
                painter, option->rect, 6, hovered ? c.hover : c.surface,
                (option->state & State_HasFocus) && (option->state & State_KeyboardFocusChange)
                    ? c.accent
                    : c.border);
            QStyleOption arrow = *option;
            arrow.rect = proxy()->subControlRect(control, option, SC_ComboBoxArrow, widget);
            arrow.palette.setColor(QPalette::ButtonText, c.text);
            arrow.state &= ~(State_Sunken | State_On);
            proxy()->drawPrimitive(PE_IndicatorArrowDown, &arrow, painter, widget);
            return;
        }
        default:
            break;
    }
    QProxyStyle::drawComplexControl(control, option, painter, widget);
}

int DesktopStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                              const QWidget* widget) const {
    switch (metric) {
        case PM_ScrollBarExtent:
            return 8;
        case PM_ScrollBarSliderMin:
            return 24;
        case PM_MenuButtonIndicator:
            if (qobject_cast<const QToolButton*>(widget)) {
                return 0;
            }
            break;
        case PM_ButtonShiftHorizontal:
        case PM_ButtonShiftVertical:
        case PM_ButtonDefaultIndicator:
            return 0;
        case PM_MenuPanelWidth:
            return 1;
        case PM_MenuHMargin:
        case PM_MenuVMargin:
            return 4;
        case PM_IndicatorWidth:
        case PM_IndicatorHeight:
            if (qobject_cast<const QAbstractItemView*>(widget)) {
                return 15;
            }
            break;
        case PM_DefaultFrameWidth:
            if (const auto insets = frameInsets(widget)) {
                return insets->left();
            }
            break;
        default:
            break;
    }
    return QProxyStyle::pixelMetric(metric, option, widget);
}

QSize DesktopStyle::sizeFromContents(ContentsType type, const QStyleOption* option,
                                     const QSize& size, const QWidget* widget) const {
    switch (type) {
        case CT_PushButton: {
            const ButtonKind kind = buttonKind(widget);
            const Box box = buttonBox(kind);
            QSize contents = size;
            const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
            if (kind == ButtonKind::Primary && button && !button->text.isEmpty()) {
                // The label is drawn heavier: the button fits the heavier text.
                const QFontMetrics heavier(emphasised(widget ? widget->font() : QFont()));
                contents.rwidth() +=
                    heavier.size(Qt::TextShowMnemonic, button->text).width() -
                    button->fontMetrics.size(Qt::TextShowMnemonic, button->text).width();
            }
            return contents + QSize(2 * box.horizontal, 2 * box.vertical);
        }
        case CT_ToolButton: {
            // 3 px more each way than the contents and the box: the sizes the pages' tool
            // buttons are laid out for.
            const Box box = buttonBox(buttonKind(widget));
            return size + QSize(2 * box.horizontal + 3, 2 * box.vertical + 3);
        }
        case CT_LineEdit: {
            const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
            if (isInnerLineEdit(widget) || (frame && frame->lineWidth <= 0)) {
                return size;
            }
            return size + QSize(18, 12);
        }
        case CT_ComboBox:
            return size + QSize(18 + 20, 12);
        case CT_SpinBox: {
            const auto* spin = qstyleoption_cast<const QStyleOptionSpinBox*>(option);
            const int buttons =
                spin && spin->buttonSymbols != QAbstractSpinBox::NoButtons ? kSpinButtonsWidth : 0;
            return size + QSize(18 + buttons, 10);
        }
        case CT_ItemViewItem:
            // A view under a stylesheet of its own has the sheet's item padding added to this.
            return QProxyStyle::sizeFromContents(type, option, size, widget) +
                   (widget && widget->style() != this ? QSize() : QSize(8, 6));
        default:
            break;
    }
    return QProxyStyle::sizeFromContents(type, option, size, widget);
}

QRect DesktopStyle::subElementRect(SubElement element, const QStyleOption* option,
                                   const QWidget* widget) const {
    switch (element) {
        case SE_PushButtonContents:
            return contentsRect(option->rect, buttonKind(widget));
        case SE_PushButtonFocusRect:
            return option->rect;
        case SE_LineEditContents: {
            const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
            if (isInnerLineEdit(widget) || (frame && frame->lineWidth <= 0)) {
                return option->rect;
            }
            return option->rect.adjusted(9, 6, -9, -6);
        }
        case SE_ShapedFrameContents:
            if (const auto insets = frameInsets(widget)) {
                return option->rect.marginsRemoved(*insets);
            }
            break;
        default:
            break;
    }
    return QProxyStyle::subElementRect(element, option, widget);
}

QRect DesktopStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                   SubControl subControl, const QWidget* widget) const {
    if (control == CC_ScrollBar) {
        const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
        if (!bar) {
            return {};
        }
        // No arrow buttons: the handle runs the whole length.
        const bool horizontal = bar->orientation == Qt::Horizontal;
        const QRect r = bar->rect;
        const int length = horizontal ? r.width() : r.height();
        const qint64 range = qint64(bar->maximum) - bar->minimum;
        int handleLength = length;
        if (range > 0) {
            handleLength = int(qint64(bar->pageStep) * length / (range + bar->pageStep));
            handleLength = qBound(qMin(24, length), handleLength, length);
        }
        const int start = sliderPositionFromValue(bar->minimum, bar->maximum, bar->sliderPosition,
                                                  length - handleLength, bar->upsideDown);
        auto along = [&](int from, int span) {
            return horizontal ? QRect(r.left() + from, r.top(), span, r.height())
                              : QRect(r.left(), r.top() + from, r.width(), span);
        };
        switch (subControl) {
            case SC_ScrollBarSlider:
                return range > 0 ? along(start, handleLength) : QRect();
            case SC_ScrollBarSubPage:
                return along(0, start);
            case SC_ScrollBarAddPage:
                return along(start + handleLength, length - start - handleLength);
            case SC_ScrollBarGroove:
                return r;
            default:
                return {};
        }
    }
    if (control == CC_SpinBox) {
        const auto* spin = qstyleoption_cast<const QStyleOptionSpinBox*>(option);
        const QRect r = option->rect;
        const int buttons =
            spin && spin->buttonSymbols != QAbstractSpinBox::NoButtons ? kSpinButtonsWidth : 0;
        const int half = r.height() / 2;
        switch (subControl) {
            case SC_SpinBoxUp:
                return buttons ? QRect(r.right() - buttons, r.top() + 2, buttons - 4, half - 2)
                               : QRect();
            case SC_SpinBoxDown:
                return buttons ? QRect(r.right() - buttons, r.top() + half, buttons - 4, half - 2)
                               : QRect();
            case SC_SpinBoxEditField:
                return r.adjusted(9, 5, -9 - buttons, -5);
            case SC_SpinBoxFrame:
                return r;
            default:
                break;
        }
    }
    if (control == CC_ComboBox) {
        const QRect r = option->rect;
        switch (subControl) {
            case SC_ComboBoxArrow:
                return QRect(r.right() - 20, r.top(), 14, r.height());
            case SC_ComboBoxEditField:
                return r.adjusted(9, 6, -9 - 20, -6);
            case SC_ComboBoxFrame:
                return r;
            default:
                break;
        }
    }
    return QProxyStyle::subControlRect(control, option, subControl, widget);
}

QPixmap DesktopStyle::generatedIconPixmap(QIcon::Mode mode, const QPixmap& pixmap,
                                          const QStyleOption* option) const {
    if (mode != QIcon::Disabled) {
        return QProxyStyle::generatedIconPixmap(mode, pixmap, option);
    }
    // A disabled icon leans towards the colour of disabled text, whatever the theme's
    // background, and keeps some of its own shading.
    QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    painter.setOpacity(0.65);
    painter.fillRect(image.rect(), m_colours.muted);
    painter.end();
    return QPixmap::fromImage(std::move(image));
}

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
