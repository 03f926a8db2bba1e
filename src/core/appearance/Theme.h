#pragma once

#include "core/appearance/ThemePreset.h"

#include <QColor>
#include <QObject>
#include <QString>
#include <QStringList>

class Preferences;

// The user's appearance choices: background and accent colours (stored as hexadecimal
// text), the terminal text size and the chosen preset. Every other colour the interface
// paints is derived from the background, with hand-picked values for the two neutral
// charcoal backgrounds.
//
// With persistence on, the theme loads its keys at creation and writes them back whenever
// a colour or the text size is set; with it off it never reads or writes a key.
class Theme : public QObject {
    Q_OBJECT
    Q_PROPERTY(
        QString backgroundHex READ backgroundHex WRITE setBackgroundHex NOTIFY backgroundHexChanged)
    Q_PROPERTY(QString accentHex READ accentHex WRITE setAccentHex NOTIFY accentHexChanged)
    Q_PROPERTY(double fontSize READ fontSize WRITE setFontSize NOTIFY fontSizeChanged)
    Q_PROPERTY(QString presetID READ presetID WRITE setPresetID NOTIFY presetIDChanged)
    Q_PROPERTY(bool animationsEnabled READ animationsEnabled WRITE setAnimationsEnabled NOTIFY
                   animationsEnabledChanged)

    Q_PROPERTY(QColor bg READ bg NOTIFY backgroundHexChanged)
    Q_PROPERTY(QColor accent READ accent NOTIFY accentHexChanged)
    Q_PROPERTY(QColor sidebar READ sidebar NOTIFY backgroundHexChanged)
    Q_PROPERTY(QColor surface READ surface NOTIFY backgroundHexChanged)
    Q_PROPERTY(QColor border READ border NOTIFY backgroundHexChanged)
    Q_PROPERTY(QColor text READ text NOTIFY backgroundHexChanged)
    Q_PROPERTY(QColor muted READ muted NOTIFY backgroundHexChanged)

public:
    static constexpr double kDefaultFontSize = 12.0;

    Theme(bool persist, Preferences& preferences, QObject* parent = nullptr);

    bool persist() const { return m_persist; }

    QString backgroundHex() const { return m_backgroundHex; }
    QString accentHex() const { return m_accentHex; }
    double fontSize() const { return m_fontSize; }
    QString presetID() const { return m_presetID; }

    // Setting a colour or the text size saves all four values; setting the preset id alone
    // does not, so after a hand-picked colour ("custom") the stored preset keeps the former
    // id until the next save.
    void setBackgroundHex(const QString& hex);
    void setAccentHex(const QString& hex);
    void setFontSize(double points);
    void setPresetID(const QString& id);

    // Whether views may animate (blinking text, for one): the desktop's motion setting, which
    // the application follows. Not stored; on until told otherwise.
    bool animationsEnabled() const { return m_animationsEnabled; }
    void setAnimationsEnabled(bool enabled);

    // Writes the four values (persistence on only).
    void save();
    // Takes the preset's id and colours; the colour changes store the new id with them.
    void apply(const ThemePreset& preset);

    QColor bg() const;
    QColor accent() const;
    QColor sidebar() const;
    QColor surface() const;
    QColor border() const;
    QColor text() const;
    QColor muted() const;

    // The two hand-tuned charcoal backgrounds (compared on the stored text, upper-cased).
    bool isClaude() const;
    bool isOrlo() const;
    bool isNeutral() const { return isClaude() || isOrlo(); }
    // A light background: dark text on it, and surfaces a little lighter, borders darker.
    bool isLight() const;
    // Terminals and the code editor keep a dark background under a light theme: programs
    // and the highlighting colours assume light text on dark.
    QColor codeBackground() const;

Q_SIGNALS:
    void backgroundHexChanged();
    void accentHexChanged();
    void fontSizeChanged();
    void presetIDChanged();
    void animationsEnabledChanged();
    // After any of the four values changed; convenient for views that repaint everything.
    void changed();

private:
    void load();
    void applyOneTimeReset();

    const bool m_persist;
    Preferences& m_preferences;
    QString m_backgroundHex;
    QString m_accentHex;
    double m_fontSize = kDefaultFontSize;
    QString m_presetID;
    bool m_animationsEnabled = true;
};
