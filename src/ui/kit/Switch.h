#pragma once

#include <QAbstractButton>

class Theme;

// An on/off switch with its label on the right: a rounded track (the accent colour when on)
// and a round knob that sits left when off and right when on.
class Switch : public QAbstractButton {
    Q_OBJECT
public:
    // The theme must outlive the switch.
    Switch(const QString& text, Theme& theme, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Theme& m_theme;
};
