#pragma once

#include <QColor>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QSlider;
class Theme;

// The Appearance page: preset palettes, the personal palette with its two colour pickers,
// the terminal text size with a preview, and the way back to the default palette. Every
// change goes straight to the theme.
class AppearancePage : public QWidget {
    Q_OBJECT
public:
    // Asks the user for a colour, starting from `initial`; nothing when cancelled.
    using ColorChooser =
        std::function<std::optional<QColor>(const QColor& initial, const QString& title)>;

    explicit AppearancePage(Theme& theme, QWidget* parent = nullptr);

    // Replaces the colour dialog (tests answer without a window).
    void setColorChooser(ColorChooser chooser) { m_chooseColor = std::move(chooser); }

    // A colour picked by hand: the theme takes its hex text and the preset becomes "custom".
    void pickBackground(const QColor& color);
    void pickAccent(const QColor& color);

    // The card of a preset (object name "preset:<id>").
    QWidget* presetCard(const QString& presetID) const;
    QPushButton* backgroundButton() const { return m_backgroundButton; }
    QPushButton* accentButton() const { return m_accentButton; }
    QSlider* fontSlider() const { return m_fontSlider; }
    QLabel* fontSizeLabel() const { return m_fontSizeLabel; }
    QPushButton* restoreButton() const { return m_restore; }

private:
    void sync();

    Theme& m_theme;
    ColorChooser m_chooseColor;
    QWidget* m_presets = nullptr;
    QPushButton* m_backgroundButton = nullptr;
    QPushButton* m_accentButton = nullptr;
    QSlider* m_fontSlider = nullptr;
    QLabel* m_fontSizeLabel = nullptr;
    QLabel* m_previewTitle = nullptr;
    QLabel* m_previewTerminal = nullptr;
    QPushButton* m_restore = nullptr;
};
