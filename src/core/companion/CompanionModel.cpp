#include "core/companion/CompanionModel.h"

#include "core/companion/BrandAssets.h"
#include "core/companion/PetImage.h"
#include "core/services/Dialogs.h"
#include "core/services/Preferences.h"

#include <algorithm>
#include <cmath>

namespace {

const QString kEnabledKey = QStringLiteral("kelo.pet.enabled");
const QString kAppearanceKey = QStringLiteral("kelo.pet.appearance");
const QString kScaleKey = QStringLiteral("kelo.pet.scale");
const QString kAnimateKey = QStringLiteral("kelo.pet.animate");
const QString kImageKey = QStringLiteral("kelo.pet.image");
const QString kResetDoneKey = QStringLiteral("kelo.pet.warriorInstalled.v1");

const QString kDefaultAppearance = QStringLiteral("default");
const QString kCustomAppearance = QStringLiteral("custom");

std::optional<bool> storedBool(const Preferences& preferences, const QString& key) {
    const QVariant value = preferences.value(key);
    if (value.typeId() != QMetaType::Bool) {
        return std::nullopt;
    }
    return value.toBool();
}

std::optional<double> storedDouble(const Preferences& preferences, const QString& key) {
    const QVariant value = preferences.value(key);
    switch (value.typeId()) {
        case QMetaType::Double:
        case QMetaType::Float:
        case QMetaType::Int:
        case QMetaType::LongLong:
            break;
        default:
            return std::nullopt;
    }
    const double number = value.toDouble();
    if (!std::isfinite(number)) {
        return std::nullopt;
    }
    return number;
}

double clampScale(double scale) {
    return std::clamp(scale, CompanionModel::kMinimumScale, CompanionModel::kMaximumScale);
}

}  // namespace

CompanionModel::CompanionModel(bool persist, Preferences& preferences, Dialogs& dialogs,
                               std::unique_ptr<SpeechServices> speech, QObject* parent)
    : QObject(parent),
      m_persist(persist),
      m_preferences(preferences),
      m_dialogs(dialogs),
      m_speech(std::move(speech)),
      m_message(QStringLiteral("Click your companion for a quick draft. Drag to move it.")) {
    if (!m_speech) {
        m_speech = makeSilentSpeechServices();
    }
    m_dictationLimit.setSingleShot(true);
    m_dictationLimit.setInterval(kDictationLimitMs);
    connect(&m_dictationLimit, &QTimer::timeout, this, &CompanionModel::onDictationLimit);

    if (m_persist) {
        readStoredSettings();
    }
    // Only a loaded custom image can be shown; anything else falls back to the pixel pet.
    if (!(m_appearance == kCustomAppearance && m_customImage)) {
        setAppearance(kDefaultAppearance);
    }
    // Once per installation the built-in pet comes back, shown and selected. A stored
    // custom image stays stored for the user to pick again.
    if (m_persist && storedBool(m_preferences, kResetDoneKey) != true) {
        setAppearance(kDefaultAppearance);
        setEnabled(true);
        m_preferences.setValue(kAppearanceKey, kDefaultAppearance);
        m_preferences.setValue(kEnabledKey, true);
        m_preferences.setValue(kResetDoneKey, true);
    }

    m_speech->synthesizer().setFinishedHandler(
        [this] { postToModel([this] { setSpeaking(false); }); });
}

CompanionModel::~CompanionModel() {
    shutdown();
    // The services stop their threads here, before this object's members go away; any
    // result they posted is discarded with the object.
    m_recognizer.reset();
    m_speech.reset();
}

void CompanionModel::readStoredSettings() {
    if (const std::optional<bool> enabled = storedBool(m_preferences, kEnabledKey)) {
        m_enabled = *enabled;
    }
    const QVariant appearance = m_preferences.value(kAppearanceKey);
    if (appearance.typeId() == QMetaType::QString) {
        m_appearance = appearance.toString();
    }
    if (const std::optional<double> scale = storedDouble(m_preferences, kScaleKey)) {
        m_scale = clampScale(*scale);
    }
    if (const std::optional<bool> animate = storedBool(m_preferences, kAnimateKey)) {
        m_animate = *animate;
    }
    const QVariant image = m_preferences.value(kImageKey);
    if (image.typeId() == QMetaType::QByteArray) {
        const QImage decoded = PetImage::decode(image.toByteArray());
        if (!decoded.isNull()) {
            m_customImage = decoded;
        }
    }
}

template <typename Work>
void CompanionModel::postToModel(Work work) {
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

std::optional<QImage> CompanionModel::displayedImage() const {
    if (m_appearance == kCustomAppearance && m_customImage) {
        return m_customImage;
    }
    return BrandAssets::defaultPet();
}

QString CompanionModel::displayName() const {
    return m_appearance == kCustomAppearance ? QStringLiteral("Your custom companion")
                                             : QStringLiteral("VELK’s pixel companion");
}

void CompanionModel::setEnabled(bool enabled) {
    const bool changed = m_enabled != enabled;
    m_enabled = enabled;
    save();
    if (changed) {
        Q_EMIT enabledChanged();
    }
    Q_EMIT visibilityChanged();
}

void CompanionModel::setAppearance(const QString& requested) {
    // "custom" needs a loaded image; every other text means the pixel pet.
    const QString appearance =
        requested == kCustomAppearance && m_customImage ? kCustomAppearance : kDefaultAppearance;
    const bool changed = m_appearance != appearance;
    m_appearance = appearance;
    save();
    if (changed) {
        Q_EMIT appearanceChanged();
    }
    Q_EMIT visibilityChanged();
}

void CompanionModel::setScale(double scale) {
    if (!std::isfinite(scale)) {
        return;
    }
    scale = clampScale(scale);
    const bool changed = m_scale != scale;
    m_scale = scale;
    save();
    if (changed) {
        Q_EMIT scaleChanged();
    }
    Q_EMIT sizeChanged();
}

void CompanionModel::setAnimate(bool animate) {
    const bool changed = m_animate != animate;
    m_animate = animate;
    save();
    if (changed) {
        Q_EMIT animateChanged();
    }
}

void CompanionModel::setDraft(const QString& draft) {
    if (m_draft == draft) {
        return;
    }
    m_draft = draft;
    Q_EMIT draftChanged();
}

void CompanionModel::save() {
    if (!m_persist) {
        return;
    }
    m_preferences.setValue(kEnabledKey, m_enabled);
    m_preferences.setValue(kAppearanceKey, m_appearance);
    m_preferences.setValue(kScaleKey, m_scale);
    m_preferences.setValue(kAnimateKey, m_animate);
    // No explicit sync: the store writes its file once after a burst of changes (a dragged
    // size slider), which matters when it also holds an image of up to 10 MB.
}

void CompanionModel::importImage() {
    Dialogs::OpenPanel panel;
    panel.message =
        QStringLiteral("Choose a pet image. Transparent PNG images blend into your desktop.");
    panel.chooseFiles = true;
    panel.chooseFolders = false;
    panel.nameFilters = {QStringLiteral("Images (*.png *.jpg *.jpeg *.heic *.heif *.tif *.tiff)")};
    const std::optional<QString> path = m_dialogs.open(panel);
    if (!path) {
        return;
    }
    if (const Result<void> loaded = loadCustomImage(*path); !loaded) {
        setMessage(loaded.error().message);
    }
}

Result<void> CompanionModel::loadCustomImage(const QString& path) {
    Result<PetImage::Loaded> result = PetImage::load(path);
    if (!result) {
        return result.error();
    }
    PetImage::Loaded& loaded = result.value();
    m_customImage = std::move(loaded.image);
    if (m_persist) {
        m_preferences.setValue(kImageKey, loaded.bytes);
    }
    Q_EMIT customImageChanged();
    setAppearance(kCustomAppearance);
    setEnabled(true);
    setMessage(QStringLiteral("Your custom companion is ready."));
    return {};
}

void CompanionModel::removeCustomImage() {
    m_customImage.reset();
    if (m_persist) {
        m_preferences.remove(kImageKey);
    }
    Q_EMIT customImageChanged();
    restoreDefaultPet();
}

void CompanionModel::restoreDefaultPet() {
    setAppearance(kDefaultAppearance);
    setEnabled(true);
    setMessage(QStringLiteral("Your default pixel companion is ready."));
}

void CompanionModel::setMessage(const QString& message) {
    if (m_message == message) {
        return;
    }
    m_message = message;
    Q_EMIT messageChanged();
}

void CompanionModel::setListening(bool listening) {
    if (m_listening == listening) {
        return;
    }
    m_listening = listening;
    Q_EMIT listeningChanged();
}

void CompanionModel::setRequestingMicrophone(bool requesting) {
    if (m_requestingMicrophone == requesting) {
        return;
    }
    m_requestingMicrophone = requesting;
    Q_EMIT requestingMicrophoneChanged();
}

void CompanionModel::setSpeaking(bool speaking) {
    if (m_speaking == speaking) {
        return;
    }
    m_speaking = speaking;
    Q_EMIT speakingChanged();
}

// Dictation. Every asynchronous answer carries the attempt it belongs to and is dropped
// when a newer attempt (or a stop) has replaced it.

void CompanionModel::toggleMicrophone() {
    if (voiceBusy()) {
        stopMicrophone();
        return;
    }
    silence();
    if (const std::optional<QString> reason = m_speech->unavailableReason()) {
        setMessage(*reason);
        return;
    }
    const QUuid attempt = QUuid::createUuid();
    m_attempt = attempt;
    setRequestingMicrophone(true);
    setMessage(QStringLiteral("Waiting for microphone permission…"));
    m_speech->requestMicrophoneAccess([this, attempt](bool granted) {
        postToModel([this, attempt, granted] { onMicrophoneAnswer(attempt, granted); });
    });
}

void CompanionModel::onMicrophoneAnswer(QUuid attempt, bool granted) {
    if (attempt != m_attempt) {
        return;
    }
    if (!granted) {
        setRequestingMicrophone(false);
        setMessage(QStringLiteral(
            "The microphone could not be opened. Choose an input device in your desktop’s "
            "sound settings (PulseAudio or PipeWire)."));
        return;
    }
    setMessage(QStringLiteral("Waiting for speech recognition permission…"));
    m_speech->requestRecognitionAuthorization([this, attempt](bool authorised) {
        postToModel([this, attempt, authorised] { onRecognitionAnswer(attempt, authorised); });
    });
}

void CompanionModel::onRecognitionAnswer(QUuid attempt, bool authorised) {
    if (attempt != m_attempt) {
        return;
    }
    if (!authorised) {
        setRequestingMicrophone(false);
        setMessage(QStringLiteral(
            "Speech recognition is off: the offline recognizer’s English model is missing. "
            "Install the pocketsphinx-en-us package."));
        return;
    }
    startRecognition(attempt);
}

void CompanionModel::startRecognition(QUuid attempt) {
    std::shared_ptr<SpeechRecognizer> recognizer = m_speech->makeRecognizer(m_locale);
    if (!recognizer || !recognizer->isAvailable()) {
        setRequestingMicrophone(false);
        setMessage(QStringLiteral(
            "Speech recognition is unavailable for this language or connection. You can "
            "still type your draft."));
        return;
    }
    m_recognizer = recognizer;
    m_dictationBase = m_draft.trimmed();

    AudioInput& input = m_speech->audioInput();
    const AudioInput::Format format = input.inputFormat();
    if (format.sampleRate <= 0 || format.channelCount <= 0) {
        stopMicrophone();
        setMessage(QStringLiteral("No microphone input is available."));
        return;
    }
    // The tap keeps its own reference: buffers may still be in flight on the audio thread
    // while the dictation stops.
    input.installTap([recognizer](const QByteArray& samples) { recognizer->appendAudio(samples); });
    m_tapInstalled = true;

    recognizer->start([this, attempt](const RecognitionUpdate& update) {
        postToModel([this, attempt, update] { onRecognitionUpdate(attempt, update); });
    });

    if (const Result<void> started = input.start(); !started) {
        stopMicrophone();
        setMessage(QStringLiteral("Could not start the microphone: ") + started.error().message);
        return;
    }
    setRequestingMicrophone(false);
    setListening(true);
    setMessage(QStringLiteral("Listening… tap the microphone to stop."));
    m_dictationLimit.start();
}

void CompanionModel::onRecognitionUpdate(QUuid attempt, const RecognitionUpdate& update) {
    if (attempt != m_attempt) {
        return;
    }
    if (update.text) {
        // Each result is the whole transcription so far, so it replaces the previous one.
        setDraft(m_dictationBase.isEmpty() ? *update.text
                                           : m_dictationBase + QLatin1Char(' ') + *update.text);
    }
    if (update.error) {
        stopMicrophone();
        setMessage(QStringLiteral(
            "Dictation ended. Check your microphone, language, and connection; your draft is "
            "kept."));
        return;
    }
    if (update.isFinal) {
        stopMicrophone();
        setMessage(QStringLiteral("Dictation finished. Review your draft before using it."));
    }
}

void CompanionModel::onDictationLimit() {
    stopMicrophone();
    setMessage(QStringLiteral("Dictation paused after one minute. Your draft is ready."));
}

void CompanionModel::stopMicrophone() {
    m_attempt = QUuid::createUuid();
    m_dictationLimit.stop();
    AudioInput& input = m_speech->audioInput();
    if (input.isRunning()) {
        input.stop();
    }
    if (m_tapInstalled) {
        input.removeTap();
        m_tapInstalled = false;
    }
    if (m_recognizer) {
        m_recognizer->endAudio();
        m_recognizer->cancel();
        m_recognizer.reset();
    }
    setListening(false);
    setRequestingMicrophone(false);
    setMessage(QStringLiteral("Microphone off. Your draft is ready to review."));
}

// Read-aloud.

void CompanionModel::silence() {
    m_speech->synthesizer().stopImmediately();
    setSpeaking(false);
}

void CompanionModel::speak(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        setMessage(QStringLiteral("There is no text to read yet."));
        return;
    }
    stopMicrophone();
    silence();
    if (const std::optional<QString> reason = m_speech->unavailableReason()) {
        setMessage(*reason);
        return;
    }
    QString spoken = trimmed.right(kSpokenCharacters);
    // Never start the spoken part in the middle of a surrogate pair.
    if (!spoken.isEmpty() && spoken.front().isLowSurrogate()) {
        spoken.remove(0, 1);
    }
    const QString languageTag = m_locale.name().replace(QLatin1Char('_'), QLatin1Char('-'));
    setSpeaking(true);
    setMessage(QStringLiteral("Reading aloud… Stop VELK audio ends playback."));
    m_speech->synthesizer().speak(spoken, languageTag);
}

void CompanionModel::stopSpeech() {
    silence();
}

void CompanionModel::shutdown() {
    stopMicrophone();
    silence();
}
