#include "platform/SpeechModule.h"

#include "core/base/LoadableModule.h"

namespace {

const QString kModuleFile = QStringLiteral("velk-speech.so");

QString unavailable(const QString& why) {
    return QStringLiteral(
               "Dictation and read-aloud are unavailable: %1 Reinstall VELK to use them.")
        .arg(why);
}

class LazySpeechServices;

// The microphone and the voice hand over to the module's own once it is loaded; before that
// there is nothing to stop.
class LazyAudioInput : public AudioInput {
public:
    explicit LazyAudioInput(LazySpeechServices& owner) : m_owner(owner) {}
    Format inputFormat() const override;
    void installTap(BufferConsumer consumer) override;
    void removeTap() override;
    Result<void> start() override;
    bool isRunning() const override;
    void stop() override;

private:
    LazySpeechServices& m_owner;
};

class LazySynthesizer : public SpeechSynthesizer {
public:
    explicit LazySynthesizer(LazySpeechServices& owner) : m_owner(owner) {}
    void speak(const QString& text, const QString& languageTag) override;
    void stopImmediately() override;
    void setFinishedHandler(std::function<void()> handler) override;

private:
    LazySpeechServices& m_owner;
};

class LazySpeechServices : public SpeechServices {
public:
    explicit LazySpeechServices(QStringList candidates) : m_candidates(std::move(candidates)) {}

    void requestMicrophoneAccess(Answer answer) override {
        services().requestMicrophoneAccess(std::move(answer));
    }
    void requestRecognitionAuthorization(Answer answer) override {
        services().requestRecognitionAuthorization(std::move(answer));
    }
    std::unique_ptr<SpeechRecognizer> makeRecognizer(const QLocale& locale) override {
        return services().makeRecognizer(locale);
    }
    AudioInput& audioInput() override { return m_input; }
    SpeechSynthesizer& synthesizer() override { return m_synthesizer; }
    std::optional<QString> unavailableReason() override { return services().unavailableReason(); }

    // The loaded services, loading them first.
    SpeechServices& services() {
        if (!m_loaded) {
            Result<std::unique_ptr<SpeechServices>> loaded = loadSpeechModule(m_candidates);
            m_loaded = loaded ? std::move(loaded).value()
                              : makeUnavailableSpeechServices(loaded.error().message);
            m_loaded->synthesizer().setFinishedHandler(m_finished);
        }
        return *m_loaded;
    }
    // The loaded services, or null while nothing needed them.
    SpeechServices* loadedServices() const { return m_loaded.get(); }

    void setFinishedHandler(std::function<void()> handler) {
        m_finished = std::move(handler);
        if (m_loaded) {
            m_loaded->synthesizer().setFinishedHandler(m_finished);
        }
    }

private:
    const QStringList m_candidates;
    std::unique_ptr<SpeechServices> m_loaded;
    std::function<void()> m_finished;
    LazyAudioInput m_input{*this};
    LazySynthesizer m_synthesizer{*this};
};

AudioInput::Format LazyAudioInput::inputFormat() const {
    return m_owner.services().audioInput().inputFormat();
}
void LazyAudioInput::installTap(BufferConsumer consumer) {
    m_owner.services().audioInput().installTap(std::move(consumer));
}
void LazyAudioInput::removeTap() {
    if (SpeechServices* loaded = m_owner.loadedServices()) {
        loaded->audioInput().removeTap();
    }
}
Result<void> LazyAudioInput::start() {
    return m_owner.services().audioInput().start();
}
bool LazyAudioInput::isRunning() const {
    SpeechServices* loaded = m_owner.loadedServices();
    return loaded && loaded->audioInput().isRunning();
}
void LazyAudioInput::stop() {
    if (SpeechServices* loaded = m_owner.loadedServices()) {
        loaded->audioInput().stop();
    }
}

void LazySynthesizer::speak(const QString& text, const QString& languageTag) {
    m_owner.services().synthesizer().speak(text, languageTag);
}
void LazySynthesizer::stopImmediately() {
    if (SpeechServices* loaded = m_owner.loadedServices()) {
        loaded->synthesizer().stopImmediately();
    }
}
void LazySynthesizer::setFinishedHandler(std::function<void()> handler) {
    m_owner.setFinishedHandler(std::move(handler));
}

}  // namespace

QStringList speechModuleCandidates() {
    return LoadableModule::candidates("VELK_SPEECH_MODULE", kModuleFile);
}

Result<std::unique_ptr<SpeechServices>> loadSpeechModule(const QStringList& candidates) {
    Result<void*> found = LoadableModule::openSymbol(candidates, kSpeechModuleEntry,
                                                     QStringLiteral("speech module"), unavailable);
    if (!found) {
        return found.error();
    }
    return std::unique_ptr<SpeechServices>(reinterpret_cast<SpeechModuleEntry>(*found)());
}

std::unique_ptr<SpeechServices> makeSpeechServicesOnFirstUse(QStringList candidates) {
    return std::make_unique<LazySpeechServices>(std::move(candidates));
}
