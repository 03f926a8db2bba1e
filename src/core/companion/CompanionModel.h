#pragma once

#include "core/base/Result.h"
#include "core/companion/SpeechServices.h"

#include <QImage>
#include <QLocale>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUuid>

#include <memory>
#include <optional>

class Dialogs;
class Preferences;

// The state of the desktop companion: its settings (kept in the preferences when created
// with persistence on), the pet image, the quick draft with dictation into it, and
// read-aloud. One model exists per process; it lives on the main thread.
//
// The signals named after actions (openControls, useDraft, …) are the requests the views
// make of the window controller; visibilityChanged and sizeChanged follow settings changes.
class CompanionModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool enabled READ enabled WRITE setEnabled NOTIFY enabledChanged)
    Q_PROPERTY(QString appearance READ appearance WRITE setAppearance NOTIFY appearanceChanged)
    Q_PROPERTY(double scale READ scale WRITE setScale NOTIFY scaleChanged)
    Q_PROPERTY(bool animate READ animate WRITE setAnimate NOTIFY animateChanged)
    Q_PROPERTY(QString draft READ draft WRITE setDraft NOTIFY draftChanged)
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)
    Q_PROPERTY(bool listening READ listening NOTIFY listeningChanged)
    Q_PROPERTY(
        bool requestingMicrophone READ requestingMicrophone NOTIFY requestingMicrophoneChanged)
    Q_PROPERTY(bool speaking READ speaking NOTIFY speakingChanged)

public:
    static constexpr double kMinimumScale = 0.65;
    static constexpr double kMaximumScale = 1.5;
    static constexpr int kDictationLimitMs = 60'000;
    static constexpr int kSpokenCharacters = 6000;

    // dialogs asks for the pet image; speech provides the microphone, recognition and
    // voices (the model owns it). With persist false no preference is read or written.
    CompanionModel(bool persist, Preferences& preferences, Dialogs& dialogs,
                   std::unique_ptr<SpeechServices> speech, QObject* parent = nullptr);
    ~CompanionModel() override;

    bool enabled() const { return m_enabled; }
    QString appearance() const { return m_appearance; }
    double scale() const { return m_scale; }
    bool animate() const { return m_animate; }
    const std::optional<QImage>& customImage() const { return m_customImage; }
    QString draft() const { return m_draft; }
    QString message() const { return m_message; }
    bool listening() const { return m_listening; }
    bool requestingMicrophone() const { return m_requestingMicrophone; }
    bool speaking() const { return m_speaking; }

    // The custom image when that appearance is chosen, else the built-in pet (absent only
    // when the built-in image is missing).
    std::optional<QImage> displayedImage() const;
    QString displayName() const;
    bool voiceBusy() const { return m_listening || m_requestingMicrophone; }

    // Each saves the settings; enabled and appearance then emit visibilityChanged, scale
    // emits sizeChanged. The appearance is "custom" only while a custom image is loaded and
    // "default" otherwise; the scale is kept within its range.
    void setEnabled(bool enabled);
    void setAppearance(const QString& appearance);
    void setScale(double scale);
    void setAnimate(bool animate);
    void setDraft(const QString& draft);

    // Writes enabled, appearance, scale and animate when persisting.
    void save();

    // Asks for an image file and loads it; a failure is shown in message.
    void importImage();
    // Validates and installs a custom image. A failure is left unshown (the caller decides
    // whether to show its message); on failure nothing changes.
    Result<void> loadCustomImage(const QString& path);
    void removeCustomImage();
    void restoreDefaultPet();

    // Dictation into the draft.
    void toggleMicrophone();
    void stopMicrophone();
    // How long dictation may run before it pauses by itself (one minute unless changed).
    void setDictationLimit(int milliseconds) { m_dictationLimit.setInterval(milliseconds); }
    // Read-aloud.
    void speak(const QString& text);
    void stopSpeech();
    // Stops the microphone and any speech; called when the application quits.
    void shutdown();

Q_SIGNALS:
    void enabledChanged();
    void appearanceChanged();
    void scaleChanged();
    void animateChanged();
    void customImageChanged();
    void draftChanged();
    void messageChanged();
    void listeningChanged();
    void requestingMicrophoneChanged();
    void speakingChanged();

    void visibilityChanged();
    void sizeChanged();
    void openControls();
    void openWorkspace();
    void openSettings();
    void resetPosition();
    void findOnDesktop();
    void useDraft();
    void readOutput();

private:
    void readStoredSettings();
    void setMessage(const QString& message);
    void setListening(bool listening);
    void setRequestingMicrophone(bool requesting);
    void setSpeaking(bool speaking);
    void silence();

    void onMicrophoneAnswer(QUuid attempt, bool granted);
    void onRecognitionAnswer(QUuid attempt, bool authorised);
    void startRecognition(QUuid attempt);
    void onRecognitionUpdate(QUuid attempt, const RecognitionUpdate& update);
    void onDictationLimit();

    // Runs work on this model's thread later, unless the model is gone by then.
    template <typename Work>
    void postToModel(Work work);

    bool m_persist;
    Preferences& m_preferences;
    Dialogs& m_dialogs;
    std::unique_ptr<SpeechServices> m_speech;

    bool m_enabled = true;
    QString m_appearance = QStringLiteral("default");
    double m_scale = 1.0;
    bool m_animate = true;
    std::optional<QImage> m_customImage;
    QString m_draft;
    QString m_message;
    bool m_listening = false;
    bool m_requestingMicrophone = false;
    bool m_speaking = false;

    QUuid m_attempt;
    bool m_tapInstalled = false;
    // Shared with the audio thread's tap, which appends buffers to it directly.
    std::shared_ptr<SpeechRecognizer> m_recognizer;
    QTimer m_dictationLimit;
    QString m_dictationBase;
    QLocale m_locale = QLocale::system();
};
