#pragma once

#include <QWidget>

#include <functional>

class CompanionModel;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QToolButton;
class Theme;

// The quick-draft panel: an editable draft filled by typing or dictation, the microphone,
// read-aloud, and the ways on to the workspace and the companion's settings.
// Object names for scripted use: companionDraftEditor, companionMicrophoneButton,
// companionReadAloudButton, useDraftButton, customizePetButton, closeQuickDraftButton,
// companionStatus.
class CompanionControls : public QWidget {
    Q_OBJECT
public:
    // `close` closes the panel (the controller stops the microphone and hides it).
    CompanionControls(CompanionModel& model, Theme& theme, std::function<void()> close,
                      QWidget* parent = nullptr);

    QPlainTextEdit* editor() const { return m_editor; }
    QPushButton* microphoneButton() const { return m_microphone; }
    QMenu* readAloudMenu() const { return m_readMenu; }
    QPushButton* useDraftButton() const { return m_useDraft; }
    QPushButton* closeButton() const { return m_close; }
    QLabel* status() const { return m_status; }

private:
    void syncDraft();
    void syncVoice();
    void applyTheme();

    CompanionModel& m_model;
    Theme& m_theme;
    std::function<void()> m_closeAction;
    QPlainTextEdit* m_editor = nullptr;
    QPushButton* m_microphone = nullptr;
    QToolButton* m_readAloud = nullptr;
    QMenu* m_readMenu = nullptr;
    QPushButton* m_useDraft = nullptr;
    QPushButton* m_customize = nullptr;
    QPushButton* m_close = nullptr;
    QLabel* m_status = nullptr;
};
