#pragma once

#include <QAbstractButton>
#include <QPointer>

class Theme;

// An on/off switch with its label on the right: a rounded track (the accent colour when on)
// and a round knob that sits left when off and right when on.
class Switch : public QAbstractButton {
    Q_OBJECT
public:
    explicit Switch(const QString& text, Theme* theme, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPointer<Theme> m_theme;
};
