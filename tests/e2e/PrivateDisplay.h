#pragma once

#include <QString>

#include <sys/types.h>

// An X server of the test program's own (Xvfb) with the openbox window manager. It starts
// before the Qt application object, so the program's own windows live on it too, and no
// window of another test running at the same time can take the keyboard focus.
class PrivateDisplay {
public:
    // Starts both and points DISPLAY at the new server; problem() says what went wrong.
    PrivateDisplay();
    ~PrivateDisplay();
    PrivateDisplay(const PrivateDisplay&) = delete;
    PrivateDisplay& operator=(const PrivateDisplay&) = delete;

    bool ready() const { return m_problem.isEmpty(); }
    QString problem() const { return m_problem; }
    QString name() const { return m_name; }

    // The display of the running test program, or nothing when it could not be started.
    static const PrivateDisplay* current();

private:
    void start();

    pid_t m_server = -1;
    pid_t m_windowManager = -1;
    QString m_name;
    QString m_problem;
};
