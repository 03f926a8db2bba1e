#include "ui/companion/DesktopPet.h"
#include "ui/companion/CompanionControls.h"

#include "core/appearance/Theme.h"
#include "core/companion/CompanionModel.h"
#include "ui/companion/CompanionController.h"
#include "ui/companion/PetArt.h"
#include "ui/kit/AppStyle.h"

#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>

PetInteractionView::PetInteractionView(CompanionModel& model, CompanionController* controller,
                                       QWidget* parent)
    : QAbstractButton(parent), m_model(model), m_controller(controller) {
    setObjectName(QStringLiteral("companionPetButton"));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setToolTip(QStringLiteral("Click your companion for a quick draft. Drag to move it."));
    // The accessibility press action (and only it: the mouse is handled below) clicks.
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (m_controller) {
            m_controller->toggleControls();
        }
    });
}

void PetInteractionView::paintEvent(QPaintEvent*) {
    // Transparent: the pet drawn beneath shows through.
}

void PetInteractionView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_controller) {
        event->ignore();
        return;
    }
    m_controller->pressPet(event->globalPosition());
    event->accept();
}

void PetInteractionView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) || !m_controller) {
        return;
    }
    m_controller->dragPet(event->globalPosition());
    event->accept();
}

void PetInteractionView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_controller) {
        return;
    }
    if (m_controller->releasePet()) {
        m_controller->toggleControls();
    }
    event->accept();
}

std::unique_ptr<QMenu> PetInteractionView::contextMenu() {
    auto menu = std::make_unique<QMenu>();
    QPointer<CompanionController> controller = m_controller;
    CompanionModel* model = &m_model;
    menu->addAction(QStringLiteral("Open VELK"), model, [model] { Q_EMIT model->openWorkspace(); });
    menu->addAction(QStringLiteral("Quick draft"), model, [controller] {
        if (controller) {
            controller->showControls();
        }
    });
    menu->addAction(QStringLiteral("Change pet image…"), model, [model] { model->importImage(); });
    menu->addAction(QStringLiteral("Customize companion"), model,
                    [model] { Q_EMIT model->openSettings(); });
    menu->addAction(QStringLiteral("Hide companion"), model, [model] { model->setEnabled(false); });
    return menu;
}

void PetInteractionView::contextMenuEvent(QContextMenuEvent* event) {
    const std::unique_ptr<QMenu> menu = contextMenu();
    menu->exec(event->globalPos());
}

DesktopPet::DesktopPet(CompanionModel& model, Theme& theme, CompanionController* controller,
                       QWidget* parent)
    : QWidget(parent), m_model(model), m_theme(theme) {
    setObjectName(QStringLiteral("companionPet"));
    setAttribute(Qt::WA_TranslucentBackground);
    m_art = new PetArt(model, this);
    m_art->setAnimated(true);
    m_badge = new QLabel(this);
    m_badge->setObjectName(QStringLiteral("companionBadge"));
    m_badge->setAlignment(Qt::AlignCenter);
    m_interaction = new PetInteractionView(model, controller, this);
    m_interaction->setAccessibleName(model.displayName());

    connect(&m_model, &CompanionModel::listeningChanged, this, &DesktopPet::syncBadge);
    connect(&m_model, &CompanionModel::speakingChanged, this, &DesktopPet::syncBadge);
    connect(&m_model, &CompanionModel::appearanceChanged, this,
            [this] { m_interaction->setAccessibleName(m_model.displayName()); });
    connect(&m_theme, &Theme::changed, this, &DesktopPet::applyTheme);
    connect(m_art, &PetArt::shapeChanged, this, &DesktopPet::updateWindowShape);
    applyTheme();
    syncBadge();
}

QRegion DesktopPet::shape() const {
    return m_art->opaqueRegion().translated(m_art->pos()) + QRegion(m_badge->geometry());
}

void DesktopPet::setShapedWindow(bool shaped) {
    m_shapedWindow = shaped;
    if (!shaped) {
        window()->clearMask();
    }
    updateWindowShape();
}

void DesktopPet::updateWindowShape() {
    if (m_shapedWindow && window() != this) {
        window()->setMask(shape().translated(mapTo(window(), QPoint(0, 0))));
    }
}

void DesktopPet::syncBadge() {
    m_badge->setText(m_model.listening()    ? QStringLiteral("Listening")
                     : m_model.speaking()   ? QStringLiteral("Speaking")
                     : !m_callout.isEmpty() ? m_callout
                                            : QStringLiteral("VELK"));
    m_badge->adjustSize();
    m_badge->resize(m_badge->width() + 14, m_badge->height() + 4);
    m_badge->move((width() - m_badge->width()) / 2, height() - m_badge->height() - 4);
    updateWindowShape();
}

void DesktopPet::setCallout(const QString& callout) {
    if (m_callout == callout) {
        return;
    }
    m_callout = callout;
    m_art->setCalling(!callout.isEmpty());
    syncBadge();
}

void DesktopPet::applyTheme() {
    m_badge->setStyleSheet(QStringLiteral("QLabel { background: %1; color: %2; border: 1px solid "
                                          "%3; border-radius: 9px; font-size: 10px; "
                                          "font-weight: 700; padding: 1px 6px; }")
                               .arg(AppStyle::css(m_theme.surface()), AppStyle::css(m_theme.text()),
                                    AppStyle::css(m_theme.accent())));
    syncBadge();
}

void DesktopPet::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_art->setGeometry(rect());
    m_interaction->setGeometry(rect());
    syncBadge();
}
