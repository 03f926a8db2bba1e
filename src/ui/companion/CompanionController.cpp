#include "ui/companion/CompanionController.h"

#include "core/appearance/Theme.h"
#include "core/companion/CompanionModel.h"
#include "core/services/Preferences.h"
#include "core/terminal/TerminalScreen.h"
#include "core/terminal/TerminalSession.h"
#include "core/workspace/HistoryStore.h"
#include "core/workspace/Launcher.h"
#include "core/workspace/Notices.h"
#include "core/workspace/SessionManager.h"
#include "ui/companion/CompanionControls.h"
#include "ui/companion/DesktopPet.h"
#include "ui/companion/PetArt.h"
#include "ui/companion/WindowLift.h"
#include "ui/companion/X11PanelHints.h"
#include "ui/kit/Icons.h"
#include "ui/kit/Widgets.h"
#include "ui/navigation/Navigator.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

const QString kPositionX = QStringLiteral("kelo.pet.x");
const QString kPositionY = QStringLiteral("kelo.pet.y");

// A stored coordinate: a number, or 0 when missing or unreadable.
double storedCoordinate(const QVariant& value) {
    bool ok = false;
    const double number = value.toDouble(&ok);
    return ok && std::isfinite(number) ? number : 0.0;
}

}  // namespace

// --- CompanionPanel ------------------------------------------------------------------------

CompanionPanel::CompanionPanel(const QString& title, bool withShadow, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          (withShadow ? Qt::WindowFlags() : Qt::NoDropShadowWindowHint)),
      m_withShadow(withShadow) {
    setWindowTitle(title);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    prepareNativeWindow();
}

void CompanionPanel::prepareNativeWindow() {
    // The desktop-wide hints go on the native window before it is mapped, when the window
    // manager reads them. Window managers erase them when a window is hidden, so they are
    // set again before every showing.
    if (!isVisible()) {
        X11PanelHints::applyTo(winId());
    }
}

void CompanionPanel::orderFrontRegardless() {
    prepareNativeWindow();
    show();
    raise();
}

void CompanionPanel::makeKeyAndOrderFront() {
    prepareNativeWindow();
    show();
    raise();
    activateWindow();
}

// --- CompanionController -------------------------------------------------------------------

ScreenLayout qtScreenLayout() {
    ScreenLayout layout;
    const QList<QScreen*> screens = QGuiApplication::screens();
    QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary || screens.isEmpty()) {
        layout.mainIndex = -1;
        return layout;
    }
    layout.primaryGeometry = primary->geometry();
    const DesktopSpace space(layout.primaryGeometry);
    layout.mainIndex = int(screens.indexOf(primary));
    for (QScreen* screen : screens) {
        layout.screens.append(DesktopScreen{space.toDesktop(QRectF(screen->geometry())),
                                            space.toDesktop(QRectF(screen->availableGeometry()))});
    }
    return layout;
}

CompanionController::CompanionController(CompanionModel& model, Models models, Theme& theme,
                                         Preferences& preferences, Actions actions,
                                         ScreenSource screens, QObject* parent)
    : QObject(parent),
      m_model(model),
      m_models(models),
      m_theme(theme),
      m_preferences(preferences),
      m_actions(std::move(actions)),
      m_screens(std::move(screens)) {
    m_panel = std::make_unique<CompanionPanel>(QStringLiteral("VELK desktop companion"), false);
    m_panel->setObjectName(QStringLiteral("companionPetPanel"));
    m_pet = new DesktopPet(m_model, m_theme, this);
    m_pet->art()->setReducedMotion(desktopPrefersReducedMotion());
    // The pet floats by moving its window: the X server shifts what is drawn, so no frame is
    // painted and the window's shape is not cut again while it floats.
    m_pet->art()->setFloatsWindow(true);
    m_petLift = new WindowLift(m_panel.get());
    connect(m_pet->art(), &PetArt::offsetChanged, m_petLift, &WindowLift::setLift);
    m_panel->layout()->addWidget(m_pet);
    const bool translucent = X11PanelHints::translucencyWorks();
    m_pet->setShapedWindow(!translucent);

    m_controlsPanel =
        std::make_unique<CompanionPanel>(QStringLiteral("VELK companion controls"), true);
    m_controlsPanel->setObjectName(QStringLiteral("companionControlsPanel"));
    m_controlsPanel->setFixedSize(int(kControlsWidth), int(kControlsHeight));
    m_controls = new CompanionControls(m_model, m_theme, [this] { dismissControls(); });
    m_controlsPanel->layout()->addWidget(m_controls);
    if (!translucent) {
        QPainterPath card;
        card.addRoundedRect(QRectF(m_controlsPanel->rect()), 16, 16);
        m_controlsPanel->setMask(QRegion(card.toFillPolygon().toPolygon()));
    }

    // The connections end with this object, so no request reaches a controller that is gone.
    connect(&m_model, &CompanionModel::visibilityChanged, this,
            &CompanionController::updateVisibility);
    connect(&m_model, &CompanionModel::sizeChanged, this, &CompanionController::updateSize);
    connect(&m_model, &CompanionModel::openControls, this, &CompanionController::showControls);
    connect(&m_model, &CompanionModel::openWorkspace, this, &CompanionController::openMain);
    connect(&m_model, &CompanionModel::openSettings, this, [this] {
        m_models.navigator.setDestination(Destination::Companion);
        openMain();
    });
    connect(&m_model, &CompanionModel::resetPosition, this, &CompanionController::resetPosition);
    connect(&m_model, &CompanionModel::findOnDesktop, this, &CompanionController::findPet);
    connect(&m_model, &CompanionModel::useDraft, this, &CompanionController::useDraft);
    connect(&m_model, &CompanionModel::readOutput, this, &CompanionController::readOutput);

    buildStatusItem();

    // When a screen comes or goes, the pet stays where it can be seen. Qt settles the new
    // screen list first, hence the deferred call.
    auto keepOnScreen = [this] {
        QTimer::singleShot(0, this, [this] {
            constrainPosition();
            positionControls();
        });
    };
    connect(qGuiApp, &QGuiApplication::screenAdded, this, keepOnScreen);
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, keepOnScreen);
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, keepOnScreen);

    updateSize();
    restorePosition();
    updateVisibility();
}

CompanionController::~CompanionController() {
    shutdown();
}

DesktopPet* CompanionController::pet() const {
    return m_pet;
}

CompanionControls* CompanionController::controls() const {
    return m_controls;
}

void CompanionController::buildStatusItem() {
    m_statusMenu = std::make_unique<QMenu>();
    m_statusMenu->setObjectName(QStringLiteral("companionStatusMenu"));
    m_statusMenu->addAction(QStringLiteral("Open VELK"), this, &CompanionController::openMain);
    m_statusMenu->addAction(QStringLiteral("Settings…"), this,
                            &CompanionController::openSettingsPage);
    QAction* stopAudio =
        m_statusMenu->addAction(Widgets::literal(QStringLiteral("Stop microphone & audio")), this,
                                &CompanionController::stopAudio);
    stopAudio->setObjectName(QStringLiteral("companionStopAudioAction"));
    m_statusMenu->addSeparator();
    QAction* quit = m_statusMenu->addAction(QStringLiteral("Quit VELK"), this, [this] {
        if (m_actions.quit) {
            m_actions.quit();
        } else {
            QCoreApplication::quit();
        }
    });
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setShortcutVisibleInContextMenu(true);

    // The menu exists either way, so that the application can offer its commands elsewhere
    // where the desktop has no tray.
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        return;
    }

    m_statusItem = std::make_unique<QSystemTrayIcon>();
    m_statusItem->setIcon(Icons::icon(QStringLiteral("circle.hexagongrid"), m_theme.accent(), 22));
    m_statusItem->setToolTip(QStringLiteral("VELK"));
    m_statusItem->setContextMenu(m_statusMenu.get());
    // A click shows the same menu as the context click, as the menu-bar item does.
    connect(m_statusItem.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger && m_statusMenu) {
                    m_statusMenu->popup(QCursor::pos());
                }
            });
    m_statusItem->show();
}

ScreenLayout CompanionController::screens() const {
    return m_screens ? m_screens() : qtScreenLayout();
}

QRectF CompanionController::frameOf(const QWidget* panel) const {
    // The pet's frame is where it rests, wherever floating has lifted its window to.
    const QRect frame = panel == m_panel.get() ? QRect(m_petLift->restingPlace(), panel->size())
                                               : panel->geometry();
    return DesktopSpace(screens().primaryGeometry).toDesktop(QRectF(frame));
}

QRectF CompanionController::petFrame() const {
    return frameOf(m_panel.get());
}

QRectF CompanionController::controlsFrame() const {
    return frameOf(m_controlsPanel.get());
}

void CompanionController::movePanel(QWidget* panel, const QPointF& desktopOrigin) {
    const QRectF qtRect =
        DesktopSpace(screens().primaryGeometry).toQt(QRectF(desktopOrigin, QSizeF(panel->size())));
    const QPoint place(int(std::lround(qtRect.x())), int(std::lround(qtRect.y())));
    if (panel == m_panel.get()) {
        m_petLift->rest(place);
    } else {
        panel->move(place);
    }
}

void CompanionController::updateVisibility() {
    if (m_model.enabled() && m_model.displayedImage()) {
        m_panel->orderFrontRegardless();
        return;
    }
    m_panel->hide();
    m_model.stopMicrophone();
    m_controlsPanel->hide();
    m_model.stopMicrophone();
    m_model.stopSpeech();
}

void CompanionController::updateSize() {
    const double scale =
        std::clamp(m_model.scale(), CompanionModel::kMinimumScale, CompanionModel::kMaximumScale);
    // The bottom-left corner stays put while the pet grows or shrinks, as it is the
    // remembered position.
    const QRectF before = petFrame();
    m_panel->setFixedSize(int(std::lround(kPetWidth * scale)),
                          int(std::lround(kPetHeight * scale)));
    movePanel(m_panel.get(), QPointF(before.x(), before.y()));
    constrainPosition();
    positionControls();
}

void CompanionController::constrainPosition() {
    const QRectF frame = petFrame();
    const std::optional<DesktopScreen> screen = DesktopGeometry::screenFor(frame, screens());
    if (!screen) {
        return;
    }
    movePanel(m_panel.get(), DesktopGeometry::boundedOrigin(QPointF(frame.x(), frame.y()),
                                                            frame.size(), screen->visibleFrame));
}

void CompanionController::positionControls() {
    const QRectF pet = petFrame();
    const std::optional<DesktopScreen> screen = DesktopGeometry::currentScreen(pet, screens());
    if (!screen) {
        return;
    }
    movePanel(m_controlsPanel.get(),
              DesktopGeometry::controlsOrigin(pet, QSizeF(m_controlsPanel->size()),
                                              screen->visibleFrame));
}

void CompanionController::savePosition() {
    const QRectF frame = petFrame();
    m_preferences.setValue(kPositionX, frame.x());
    m_preferences.setValue(kPositionY, frame.y());
}

void CompanionController::restorePosition() {
    if (!m_preferences.contains(kPositionX)) {
        resetPosition();
        return;
    }
    movePanel(m_panel.get(), QPointF(storedCoordinate(m_preferences.value(kPositionX)),
                                     storedCoordinate(m_preferences.value(kPositionY))));
    constrainPosition();
}

void CompanionController::resetPosition() {
    if (const std::optional<DesktopScreen> main = screens().mainScreen()) {
        const DesktopSpace space(screens().primaryGeometry);
        const QRectF window =
            m_actions.mainFrame ? space.toDesktop(QRectF(m_actions.mainFrame())) : QRectF();
        QList<QRectF> controls;
        if (m_actions.mainControls) {
            for (const QRect& control : m_actions.mainControls()) {
                controls.append(space.toDesktop(QRectF(control)));
            }
        }
        movePanel(m_panel.get(),
                  DesktopGeometry::firstOrigin(QSizeF(m_panel->size()), main->visibleFrame, window,
                                               controls));
    }
    savePosition();
    positionControls();
}

void CompanionController::showControls() {
    positionControls();
    m_controlsPanel->makeKeyAndOrderFront();
    m_controls->editor()->setFocus();
}

void CompanionController::dismissControls() {
    m_model.stopMicrophone();
    m_controlsPanel->hide();
}

void CompanionController::toggleControls() {
    if (m_controlsPanel->isVisible()) {
        dismissControls();
    } else {
        showControls();
    }
}

void CompanionController::findPet() {
    m_model.setEnabled(true);
    resetPosition();
    m_panel->makeKeyAndOrderFront();
}

void CompanionController::openMain() {
    if (m_actions.showMain) {
        m_actions.showMain();
    }
}

void CompanionController::openSettingsPage() {
    m_models.navigator.setDestination(Destination::Settings);
    openMain();
}

void CompanionController::stopAudio() {
    m_model.stopMicrophone();
    m_model.stopSpeech();
}

void CompanionController::toggle() {
    m_model.setEnabled(!m_model.enabled());
}

void CompanionController::useDraft() {
    // Dictation still running would keep writing into the draft after it was handed on (the
    // used words would come back) and would keep listening behind the hidden panel; it
    // stops first, which leaves the draft as it is.
    if (m_model.voiceBusy()) {
        m_model.stopMicrophone();
    }
    const QString text = m_model.draft().trimmed();
    if (text.isEmpty()) {
        return;
    }
    const QString prompt = m_models.launcher.prompt();
    m_models.launcher.setPrompt(
        prompt.trimmed().isEmpty() ? text : prompt + QStringLiteral("\n\n") + text);
    m_models.navigator.setDestination(Destination::Workspace);
    m_model.setDraft(QString());
    m_controlsPanel->hide();
    openMain();
    m_models.notices.notify(
        QStringLiteral("Companion draft added. Choose your assistants and run it when ready."));
}

void CompanionController::readOutput() {
    QString text;
    if (const SessionPointer session = m_models.sessions.activeSession()) {
        text = session->screen().plainText();
    } else if (!m_models.history.history().isEmpty()) {
        text = m_models.history.history().first().output;
    }
    m_model.speak(text);
}

void CompanionController::pressPet(const QPointF& globalPosition) {
    const QRectF frame = petFrame();
    m_pressMouse = DesktopSpace(screens().primaryGeometry).pointToDesktop(globalPosition);
    m_pressOrigin = QPointF(frame.x(), frame.y());
    m_pressed = true;
    m_moved = false;
}

void CompanionController::dragPet(const QPointF& globalPosition) {
    if (!m_pressed) {
        return;
    }
    const QPointF mouse = DesktopSpace(screens().primaryGeometry).pointToDesktop(globalPosition);
    const QPointF offset = mouse - m_pressMouse;
    if (std::abs(offset.x()) + std::abs(offset.y()) > kClickSlop) {
        m_moved = true;
    }
    movePanel(m_panel.get(), m_pressOrigin + offset);
    constrainPosition();
    positionControls();
}

bool CompanionController::releasePet() {
    if (!m_pressed) {
        return false;
    }
    m_pressed = false;
    if (m_moved) {
        savePosition();
        return false;
    }
    // A click: the pet followed the pointer's few points of movement; put it back, so what
    // is on screen stays what is stored.
    movePanel(m_panel.get(), m_pressOrigin);
    constrainPosition();
    positionControls();
    return true;
}

void CompanionController::shutdown() {
    m_model.stopMicrophone();
    m_model.stopSpeech();
    m_panel->hide();
    m_controlsPanel->hide();
    if (m_statusItem) {
        m_statusItem->hide();
        m_statusItem.reset();
    }
}
