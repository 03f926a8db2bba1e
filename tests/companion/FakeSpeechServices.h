#pragma once

#include "core/companion/CompanionModel.h"
#include "core/companion/SpeechServices.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QStringList>

#include <vector>

// Speech services driven by the test: permission answers are held until the test gives
// them, recognizers report whatever the test pushes, and the synthesizer records what it
// was asked to say.
class FakeSpeechServices : public SpeechServices {
public:
    class Recognizer : public SpeechRecognizer {
    public:
        explicit Recognizer(FakeSpeechServices& owner) : m_owner(owner) {}
        ~Recognizer() override { m_owner.m_recognizer = nullptr; }
        bool isAvailable() const override { return m_owner.recognizerAvailable; }
        void start(UpdateHandler handler) override { m_handler = std::move(handler); }
        void appendAudio(const QByteArray& samples) override { audio += samples; }
        void endAudio() override { ++m_owner.audioEnds; }
        void cancel() override { ++m_owner.cancels; }

        void push(const RecognitionUpdate& update) { m_handler(update); }
        QByteArray audio;

    private:
        FakeSpeechServices& m_owner;
        UpdateHandler m_handler;
    };

    class Input : public AudioInput {
    public:
        Format inputFormat() const override { return format; }
        void installTap(BufferConsumer consumer) override { tap = std::move(consumer); }
        void removeTap() override { tap = nullptr; }
        Result<void> start() override {
            running = !startFailure;
            if (startFailure) {
                return Error{Error::Kind::System, *startFailure};
            }
            return {};
        }
        bool isRunning() const override { return running; }
        void stop() override { running = false; }

        Format format{48000, 2};
        std::optional<QString> startFailure;
        BufferConsumer tap;
        bool running = false;
    };

    class Synthesizer : public SpeechSynthesizer {
    public:
        void speak(const QString& text, const QString& languageTag) override {
            spoken.append(text);
            languages.append(languageTag);
        }
        void stopImmediately() override { ++stops; }
        void setFinishedHandler(std::function<void()> handler) override {
            finished = std::move(handler);
        }

        QStringList spoken, languages;
        int stops = 0;
        std::function<void()> finished;
    };

    void requestMicrophoneAccess(Answer answer) override {
        microphoneQuestions.push_back(std::move(answer));
    }
    void requestRecognitionAuthorization(Answer answer) override {
        recognitionQuestions.push_back(std::move(answer));
    }
    std::unique_ptr<SpeechRecognizer> makeRecognizer(const QLocale&) override {
        if (!recognizerExists) {
            return nullptr;
        }
        auto recognizer = std::make_unique<Recognizer>(*this);
        m_recognizer = recognizer.get();
        return recognizer;
    }
    AudioInput& audioInput() override { return input; }
    SpeechSynthesizer& synthesizer() override { return voice; }

    // The recognizer of the current dictation, or null.
    Recognizer* recognizer() const { return m_recognizer; }

    // Starts the model's dictation, granting both permissions as they are asked (the model
    // takes each answer on its own thread later); whether the microphone then runs for a
    // recognizer.
    bool startListening(CompanionModel& model) {
        const size_t microphoneAsked = microphoneQuestions.size();
        const size_t recognitionAsked = recognitionQuestions.size();
        model.toggleMicrophone();
        if (microphoneQuestions.size() != microphoneAsked + 1) {
            return false;
        }
        microphoneQuestions.back()(true);
        QCoreApplication::processEvents();
        if (recognitionQuestions.size() != recognitionAsked + 1) {
            return false;
        }
        recognitionQuestions.back()(true);
        QCoreApplication::processEvents();
        return model.listening() && input.running && m_recognizer;
    }

    std::vector<Answer> microphoneQuestions, recognitionQuestions;
    bool recognizerExists = true;
    bool recognizerAvailable = true;
    int audioEnds = 0, cancels = 0;
    Input input;
    Synthesizer voice;

private:
    Recognizer* m_recognizer = nullptr;
};
