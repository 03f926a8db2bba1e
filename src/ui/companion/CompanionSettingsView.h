#pragma once

#include <QWidget>

class CompanionModel;
class PetArt;
class QLabel;
class QPushButton;
class QSlider;
class Switch;
class Theme;
class Navigator;

// The Companion page: the pet with its name and kind, showing and hiding it, choosing or
// removing a custom image, the floating motion, the pet's size and position, and what the
// microphone and read-aloud do.
class CompanionSettingsView : public QWidget {
    Q_OBJECT
public:
    CompanionSettingsView(CompanionModel& model, Navigator& navigator, Theme& theme,
                          QWidget* parent = nullptr);

    QLabel* nameLabel() const { return m_name; }
    QLabel* kindPill() const { return m_kind; }
    Switch* enabledSwitch() const { return m_enabled; }
    Switch* animateSwitch() const { return m_animate; }
    QSlider* sizeSlider() const { return m_size; }
    QLabel* sizeLabel() const { return m_sizeValue; }
    QLabel* status() const { return m_status; }
    // A button of the page by its text; null when there is none.
    QPushButton* button(const QString& text) const;

private:
    void sync();

    CompanionModel& m_model;
    Navigator& m_navigator;
    PetArt* m_art = nullptr;
    QLabel* m_name = nullptr;
    QLabel* m_kind = nullptr;
    Switch* m_enabled = nullptr;
    Switch* m_animate = nullptr;
    QSlider* m_size = nullptr;
    QLabel* m_sizeValue = nullptr;
    QLabel* m_status = nullptr;
};
