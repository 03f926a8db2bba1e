#pragma once

#include "platform/X11Windows.h"

#include <QImage>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <optional>
#include <ostream>

// Readable texts in failure messages.
inline void PrintTo(const QString& text, std::ostream* stream) {
    *stream << '"' << text.toStdString() << '"';
}

// The folder where an end-to-end test keeps its screenshots for a person to look at:
// $VELK_SCREENSHOT_DIR/<name> when that is set, else screenshots/<name> beside the test
// program. It is emptied first and its path printed.
QString screenshotFolder(const QString& name);
// The pixels of the window (0: the whole screen) once what shows has settled: two grabs a
// little apart that agree.
QImage settledGrab(quint64 window);

// A fresh home for a VELK the test starts: home, XDG and temporary folders in a scratch
// folder, an empty zsh start-up file (the sessions' login shells read nothing of the
// user's) and the stand-in assistants first on PATH, both reporting a sign-in so that tasks
// go out without a sign-in question.
class VelkHome {
public:
    VelkHome();
    // Puts back the variables apply() changed.
    ~VelkHome();
    VelkHome(const VelkHome&) = delete;
    VelkHome& operator=(const VelkHome&) = delete;

    bool ready() const { return m_ready; }
    QString path(const QString& relative) const { return m_scratch.filePath(relative); }
    // Sets every variable of the environment in this process, for a VELK built inside it.
    void apply();

    // The variables a VELK in this home runs with.
    QMap<QString, QString> environment;

private:
    QTemporaryDir m_scratch;
    bool m_ready = false;
    QMap<QByteArray, std::optional<QByteArray>> m_former;
};

// The built velk program started in a home as a process of its own on the test's display,
// and driven with X11 key events as a user at the keyboard would. Ended at destruction if
// it still runs.
class VelkProcess {
public:
    explicit VelkProcess(const VelkHome& home) : m_home(home) {}
    ~VelkProcess();

    // Starts the program (failing the test if it does not start), waits for its main
    // window, the first window it shows, and gives that the focus.
    void start(const QString& program, const QStringList& arguments);
    // A window of the program holds the keyboard focus.
    bool hasFocus() const;
    // Keys and text go out only while it does.
    void press(const QString& keys);
    void type(const QString& text);

    QProcess process;
    std::optional<X11Windows::Window> window;

private:
    const VelkHome& m_home;
};
