#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <variant>
#include <vector>

// Modal questions put to the user: alerts with ordered buttons, and open/save panels.
// The application uses QMessageBox/QFileDialog (QtDialogs, in the ui library); tests use
// ScriptedDialogs, which answers from a script and records what was asked.
class Dialogs {
public:
    enum class Style { Informational, Warning };

    struct Alert {
        QString message;
        QString informativeText;
        QStringList buttons;  // in display order; the first is the default
        Style style = Style::Warning;
        // Lines shown below the text in a list of bounded height that scrolls (the files of
        // an apply, however many).
        QStringList details = {};
    };

    struct OpenPanel {
        QString message;
        QString startFolder;
        bool chooseFiles = true;
        bool chooseFolders = false;
        QStringList nameFilters;  // e.g. "Applications (*.desktop)"; empty shows everything
    };

    struct SavePanel {
        QString startFolder;
        QString proposedName;
    };

    virtual ~Dialogs() = default;

    // Index of the chosen button in alert.buttons, or -1 when the alert was dismissed.
    virtual int alert(const Alert& alert) = 0;
    // The chosen location, or nothing when cancelled.
    virtual std::optional<QString> open(const OpenPanel& panel) = 0;
    virtual std::optional<QString> save(const SavePanel& panel) = 0;
};

// Answers dialogs from queued answers, in order. An alert with no queued answer is dismissed
// (-1); a panel with no queued answer is cancelled. Every question is recorded.
class ScriptedDialogs : public Dialogs {
public:
    void answerAlert(int buttonIndex) { m_alertAnswers.emplace_back(buttonIndex); }
    // Answers by button title; the alert returns that title's index (-1 when absent).
    void answerAlert(const QString& buttonTitle) { m_alertAnswers.emplace_back(buttonTitle); }
    void answerOpen(std::optional<QString> location) {
        m_openAnswers.push_back(std::move(location));
    }
    void answerSave(std::optional<QString> location) {
        m_saveAnswers.push_back(std::move(location));
    }

    int alert(const Alert& alert) override;
    std::optional<QString> open(const OpenPanel& panel) override;
    std::optional<QString> save(const SavePanel& panel) override;

    const std::vector<Alert>& alerts() const { return m_alerts; }
    const std::vector<OpenPanel>& openPanels() const { return m_openPanels; }
    const std::vector<SavePanel>& savePanels() const { return m_savePanels; }

private:
    std::vector<std::variant<int, QString>> m_alertAnswers;
    std::vector<std::optional<QString>> m_openAnswers;
    std::vector<std::optional<QString>> m_saveAnswers;
    size_t m_nextAlert = 0, m_nextOpen = 0, m_nextSave = 0;
    std::vector<Alert> m_alerts;
    std::vector<OpenPanel> m_openPanels;
    std::vector<SavePanel> m_savePanels;
};
