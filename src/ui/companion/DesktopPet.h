#pragma once

#include <QAbstractButton>
#include <QPointer>
#include <QWidget>

class CompanionController;
class CompanionModel;
class PetArt;
class QLabel;
class QMenu;
class Theme;

// A transparent layer over the pet that turns the mouse into clicks, drags and the context
// menu. A press that moves the mouse by more than three points drags the pet; anything less
// is a click, which opens or closes the quick draft. Being a button, it offers the
// accessibility press action, which also counts as a click.
class PetInteractionView : public QAbstractButton {
    Q_OBJECT
public:
    // Without a controller (a preview) the pet cannot be moved or clicked.
    PetInteractionView(CompanionModel& model, CompanionController* controller,
                       QWidget* parent = nullptr);

    // The context menu offered on a right click; built anew for each use.
    std::unique_ptr<QMenu> contextMenu();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    CompanionModel& m_model;
    QPointer<CompanionController> m_controller;
};

// The pet window's content: the floating pet drawing, the interaction layer over it and a
// small badge reading "Listening", "Speaking", who needs the user ("Codex needs you") or
// "VELK".
class DesktopPet : public QWidget {
    Q_OBJECT
public:
    // `controller` may be null for a preview that only shows the pet.
    DesktopPet(CompanionModel& model, Theme& theme, CompanionController* controller,
               QWidget* parent = nullptr);

    PetArt* art() const { return m_art; }

    // The pixels the pet shows now: the image's opaque part and the badge.
    QRegion shape() const;
    // Cuts the window holding the pet to shape() and keeps it so; for desktops that draw
    // translucent windows opaque (X11 without a compositing manager).
    void setShapedWindow(bool shaped);
    PetInteractionView* interaction() const { return m_interaction; }
    // Takes the "needs you" pose with the badge reading `callout`; an empty text ends it.
    void setCallout(const QString& callout);
    QString callout() const { return m_callout; }
    QLabel* badge() const { return m_badge; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void syncBadge();
    void applyTheme();
    void updateWindowShape();

    CompanionModel& m_model;
    Theme& m_theme;
    PetArt* m_art = nullptr;
    PetInteractionView* m_interaction = nullptr;
    QLabel* m_badge = nullptr;
    bool m_shapedWindow = false;
    QString m_callout;
};
