#pragma once

#include <QPixmap>
#include <QPointer>
#include <QRegion>
#include <QTimer>
#include <QWidget>

#include <optional>

class CompanionModel;
class QPainter;

// Draws the companion's image scaled to fit with a 10-point margin, floating gently up and
// down while animation is wanted, allowed by the model and not refused by the desktop's
// reduced-motion setting. Without any image it shows a placeholder symbol.
class PetArt : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMargin = 10;
    static constexpr int kFramesPerSecond = 24;

    explicit PetArt(CompanionModel& model, QWidget* parent = nullptr);

    // Whether this drawing should float at all (the desktop pet does, page previews don't).
    void setAnimated(bool animated);
    // Whether the floating moves the window holding the drawing (through offsetChanged)
    // rather than the image inside it: the image then stays at rest, and nothing is drawn
    // again or re-shaped as it floats.
    void setFloatsWindow(bool floatsWindow);
    void setReducedMotion(bool reduced);
    // The "needs you" pose: the pet holds still with a raised exclamation mark beside it.
    void setCalling(bool calling);
    bool calling() const { return m_calling; }
    bool floating() const { return m_timer.isActive(); }

    // The vertical offset of the floating motion at `seconds`: sin(t × 1.6) × 3, rounded.
    static int floatOffset(double seconds);
    // How long after `seconds` the offset first differs, in whole frames (at most two seconds).
    static int msUntilOffsetChanges(double seconds);
    // The floating offset now: 0 while the drawing does not float.
    int currentOffset() const { return m_offset; }

    // Where the image is drawn now, and the part of the widget its visible pixels cover (the
    // placeholder's square when there is no image), with the exclamation mark while calling.
    QRect imageRect() const;
    // The exclamation mark's bubble, at the image's top right corner; empty when not calling.
    QRect callRect() const;
    QRegion opaqueRegion() const;

Q_SIGNALS:
    // The drawn image moved or changed, and with it opaqueRegion().
    void shapeChanged();
    // The floating offset changed (in points, upward); only where the window floats.
    void offsetChanged(int offset);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void syncImage();
    void paintCall(QPainter& painter) const;
    void syncMotion();
    void tick();
    void setOffset(int offset);
    // The offset the image is drawn at inside the widget.
    int drawnOffset() const;

    CompanionModel& m_model;
    QImage m_image;
    QPixmap m_scaled;  // m_image at the size drawn
    bool m_pixelArt = true;
    bool m_animated = false;
    bool m_floatsWindow = false;
    bool m_reducedMotion = false;
    bool m_calling = false;
    int m_offset = 0;
    QTimer m_timer;
    // The opaque pixels of the image as drawn at rest, for the current size and image.
    mutable std::optional<QRegion> m_restingRegion;
};

// Whether the desktop asks applications to reduce motion (GNOME's "enable-animations" off).
bool desktopPrefersReducedMotion();
