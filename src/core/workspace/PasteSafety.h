#pragma once

#include <QObject>
#include <QString>

class Dialogs;
class Preferences;

// The setting "Ask before pasting several lines" and the question it asks. A program that
// has not turned on bracketed paste cannot tell pasted text from typing, so every line break
// in a paste reaches it as Enter and may run a command before the user has read the rest.
// On by default. Main thread only.
class PasteSafety : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool enabled READ enabled WRITE setEnabled NOTIFY enabledChanged)

public:
    // How many of the pasted lines the question quotes, and how much of each.
    static constexpr int kQuotedLines = 5;
    static constexpr int kQuotedLineLength = 80;

    // With a `store` the setting is read now and stored on each change.
    PasteSafety(Preferences* store, Dialogs& dialogs, QObject* parent = nullptr);

    bool enabled() const { return m_enabled; }
    void setEnabled(bool enabled);

    // Whether `text`, about to go unbracketed to a program, may be pasted: asks "Paste N
    // lines?" quoting the first lines, with Paste and Cancel, when the setting is on and the
    // text holds a line break; true at once otherwise.
    bool confirm(const QString& text);

    // The lines of `text` as a terminal receives them: split at CR LF, LF or CR, without the
    // empty remainder after a final line break.
    static QStringList lines(const QString& text);

Q_SIGNALS:
    void enabledChanged();

private:
    Preferences* m_store;
    Dialogs& m_dialogs;
    bool m_enabled = true;
};
