#include "core/companion/SpeechServices.h"

namespace {

class NoAudioInput : public AudioInput {
public:
    Format inputFormat() const override { return {}; }
    void installTap(BufferConsumer) override {}
    void removeTap() override {}
    Result<void> start() override {
        return Error{Error::Kind::Unavailable, QStringLiteral("No audio input.")};
    }
    bool isRunning() const override { return false; }
    void stop() override {}
};

// Nothing is played, so every utterance ends as soon as it starts.
class NoSynthesizer : public SpeechSynthesizer {
public:
    void speak(const QString&, const QString&) override {
        if (m_finished) {
            m_finished();
        }
    }
    void stopImmediately() override {}
    void setFinishedHandler(std::function<void()> handler) override {
        m_finished = std::move(handler);
    }

private:
    std::function<void()> m_finished;
};

class SilentSpeechServices : public SpeechServices {
public:
    explicit SilentSpeechServices(std::optional<QString> reason = std::nullopt)
        : m_reason(std::move(reason)) {}

    void requestMicrophoneAccess(Answer answer) override { answer(false); }
    void requestRecognitionAuthorization(Answer answer) override { answer(false); }
    std::unique_ptr<SpeechRecognizer> makeRecognizer(const QLocale&) override { return nullptr; }
    AudioInput& audioInput() override { return m_input; }
    SpeechSynthesizer& synthesizer() override { return m_synthesizer; }
    std::optional<QString> unavailableReason() override { return m_reason; }

private:
    std::optional<QString> m_reason;
    NoAudioInput m_input;
    NoSynthesizer m_synthesizer;
};

}  // namespace

std::unique_ptr<SpeechServices> makeSilentSpeechServices() {
    return std::make_unique<SilentSpeechServices>();
}

std::unique_ptr<SpeechServices> makeUnavailableSpeechServices(QString reason) {
    return std::make_unique<SilentSpeechServices>(std::move(reason));
}
