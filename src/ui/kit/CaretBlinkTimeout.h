#pragma once

#include <QObject>
#include <QTimer>

/// Stops text carets blinking after a spell without input, as GNOME's cursor-blink-timeout
/// does, so that an untouched window does not wake twice a second forever. The next key,
/// click or input-method event restores the desktop's blink rate and starts the spell over.
/// Applies to every Qt text field of the application (through the style hints' flash time).
class CaretBlinkTimeout : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultTimeoutMs = 10'000;

    explicit CaretBlinkTimeout(int timeoutMs = kDefaultTimeoutMs, QObject* parent = nullptr);
    ~CaretBlinkTimeout() override;

    /// True once the spell without input has passed and carets are steady.
    bool stopped() const { return m_stopped; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void stopBlinking();

    QTimer m_spell;
    int m_flashTimeMs = 0;  // the desktop's, restored on input
    bool m_stopped = false;
};
