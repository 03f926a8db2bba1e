#pragma once

#include <QObject>

class Preferences;

// How the review shows a file's diff: unified or side by side, and whether long lines wrap.
// With a `store` both are read at creation and stored on each change. Main thread only.
class ReviewLayout : public QObject {
    Q_OBJECT

public:
    explicit ReviewLayout(Preferences* store, QObject* parent = nullptr);

    bool sideBySide() const { return m_sideBySide; }
    void setSideBySide(bool sideBySide);
    bool wrapping() const { return m_wrapping; }
    void setWrapping(bool wrapping);

Q_SIGNALS:
    void changed();

private:
    Preferences* m_store;
    bool m_sideBySide = false;
    bool m_wrapping = true;
};
