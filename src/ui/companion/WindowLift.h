#pragma once

#include <QAbstractNativeEventFilter>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QWidget>

struct _XDisplay;  // Xlib's Display

// Floats a top-level window a few pixels off its resting place, several times a second,
// cheaply. Moved through Qt, each step costs Qt four X round trips and two events (the size
// hints set again, the position asked again on the configure event, the frame margins
// walked): about 17 thread wake-ups. Here a step is one request and one event: the native
// window is moved directly, and the configure event it causes is taken out before Qt sees
// it, so Qt keeps the window's resting place as its geometry.
//
// Where there is no X11 display (tests on the offscreen platform), the lift goes through Qt.
class WindowLift : public QObject, public QAbstractNativeEventFilter {
public:
    explicit WindowLift(QWidget* window);
    ~WindowLift() override;

    // Where the window rests, in Qt's global coordinates.
    QPoint restingPlace() const { return m_rest; }
    // Makes `place` the resting place and moves the window there, still lifted as it was.
    void rest(QPoint place);
    // Shows the window `lift` pixels above its resting place (below it when negative).
    void setLift(int lift);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPoint liftedPlace() const { return m_rest - QPoint(0, m_lift); }
    // Sends the window to the lifted place past Qt.
    void placeNatively();

    QPointer<QWidget> m_window;
    _XDisplay* m_display;  // Qt's X11 connection, or null off X11
    QPoint m_rest;
    int m_lift = 0;
    // Geometries this object asked the server for whose configure events are still to come,
    // oldest first, and the last few places it put the window (their echoes are not moves).
    QList<QRect> m_pending;
    QList<QPoint> m_placed;
};
