#include "platform/speech/LinuxSpeechServices.h"

#include "platform/speech/PocketSphinxRecognizer.h"
#include "platform/speech/SpeechAudioConverter.h"

#include <QAudioDevice>
#include <QAudioSource>
#include <QIODevice>
#include <QMediaDevices>
#include <QPointer>
#include <QTextToSpeech>

namespace {

QString describe(QAudio::Error error) {
    switch (error) {
        case QAudio::NoError:
            return QString();
        case QAudio::OpenError:
            return QStringLiteral("The audio input device could not be opened.");
        case QAudio::IOError:
            return QStringLiteral("The audio input device could not be read.");
        case QAudio::UnderrunError:
            return QStringLiteral("The audio input stopped delivering sound.");
        case QAudio::FatalError:
            return QStringLiteral("The audio input device failed.");
    }
    return QStringLiteral("The audio input device failed.");
}

std::optional<SpeechAudioConverter::SampleFormat> converterFormat(
    QAudioFormat::SampleFormat format) {
    switch (format) {
        case QAudioFormat::UInt8:
            return SpeechAudioConverter::SampleFormat::UInt8;
        case QAudioFormat::Int16:
            return SpeechAudioConverter::SampleFormat::Int16;
        case QAudioFormat::Int32:
            return SpeechAudioConverter::SampleFormat::Int32;
        case QAudioFormat::Float:
            return SpeechAudioConverter::SampleFormat::Float;
        default:
            return std::nullopt;
    }
}

// The recorder's format: the device's own, converted to 16 kHz mono here. Asking the sound
// server for 16 kHz instead goes through its default resampler, which costs the recognizer
// words (in the end-to-end test a sentence heard perfectly this way lost two of nine words).
QAudioFormat captureFormat(const QAudioDevice& device) {
    QAudioFormat format = device.preferredFormat();
    if (!converterFormat(format.sampleFormat())) {
        format.setSampleFormat(QAudioFormat::Int16);
    }
    return format;
}

class QtAudioInput : public AudioInput {
public:
    Format inputFormat() const override {
        const QAudioDevice device = QMediaDevices::defaultAudioInput();
        if (device.isNull()) {
            return {};
        }
        const QAudioFormat format = device.preferredFormat();
        return {format.sampleRate(), format.channelCount()};
    }

    void installTap(BufferConsumer consumer) override { m_consumer = std::move(consumer); }
    void removeTap() override { m_consumer = nullptr; }

    Result<void> start() override {
        stop();
        const QAudioDevice device = QMediaDevices::defaultAudioInput();
        if (device.isNull()) {
            return Error{Error::Kind::Unavailable,
                         QStringLiteral("No audio input device is connected.")};
        }
        const QAudioFormat format = captureFormat(device);
        const std::optional<SpeechAudioConverter::SampleFormat> sampleFormat =
            converterFormat(format.sampleFormat());
        if (!sampleFormat ||
            !m_converter.configure(*sampleFormat, format.sampleRate(), format.channelCount())) {
            return Error{Error::Kind::Unavailable,
                         QStringLiteral("The audio input format is not supported.")};
        }
        m_source = std::make_unique<QAudioSource>(device, format);
        // About 1024 frames per buffer at the device's rate.
        m_source->setBufferSize(format.bytesForFrames(1024) * 4);
        QIODevice* stream = m_source->start();
        if (!stream || m_source->error() != QAudio::NoError) {
            const QString failure = describe(m_source->error());
            m_source.reset();
            return Error{Error::Kind::System,
                         failure.isEmpty() ? describe(QAudio::OpenError) : failure};
        }
        QObject::connect(stream, &QIODevice::readyRead, stream, [this, stream] {
            const QByteArray samples = m_converter.convert(stream->readAll());
            if (m_consumer && !samples.isEmpty()) {
                m_consumer(samples);
            }
        });
        return {};
    }

    bool isRunning() const override {
        return m_source && m_source->state() != QAudio::StoppedState;
    }

    void stop() override {
        if (m_source) {
            m_source->stop();
            m_source.reset();
        }
    }

    ~QtAudioInput() override { stop(); }

private:
    std::unique_ptr<QAudioSource> m_source;
    SpeechAudioConverter m_converter;
    BufferConsumer m_consumer;
};

// QTextToSpeech reports the end of an utterance as a return to Ready. A stop ends the
// utterance silently, so the Ready it causes is not reported as a finish.
class QtSpeechSynthesizer : public SpeechSynthesizer {
public:
    ~QtSpeechSynthesizer() override {
        if (m_engine) {
            QObject::disconnect(m_engine.get(), nullptr, nullptr, nullptr);
            m_engine->stop(QTextToSpeech::BoundaryHint::Immediate);
        }
    }

    void speak(const QString& text, const QString& languageTag) override {
        QTextToSpeech& voice = engine();
        const QLocale locale(QString(languageTag).replace(QLatin1Char('-'), QLatin1Char('_')));
        if (voice.availableLocales().contains(locale)) {
            voice.setLocale(locale);
        }
        voice.setRate(0.0);  // the engine's default rate
        m_utteranceActive = true;
        m_heardSpeaking = false;
        voice.say(text);
        if (voice.state() == QTextToSpeech::Error) {
            finish();
        }
    }

    void stopImmediately() override {
        m_utteranceActive = false;
        if (m_engine) {
            m_engine->stop(QTextToSpeech::BoundaryHint::Immediate);
        }
    }

    void setFinishedHandler(std::function<void()> handler) override {
        m_finished = std::move(handler);
    }

private:
    QTextToSpeech& engine() {
        if (!m_engine) {
            m_engine = std::make_unique<QTextToSpeech>();
            QObject::connect(m_engine.get(), &QTextToSpeech::stateChanged, m_engine.get(),
                             [this](QTextToSpeech::State state) { onState(state); });
        }
        return *m_engine;
    }

    void onState(QTextToSpeech::State state) {
        if (!m_utteranceActive) {
            return;
        }
        if (state == QTextToSpeech::Speaking) {
            m_heardSpeaking = true;
        } else if ((state == QTextToSpeech::Ready && m_heardSpeaking) ||
                   state == QTextToSpeech::Error) {
            finish();
        }
    }

    void finish() {
        m_utteranceActive = false;
        if (m_finished) {
            m_finished();
        }
    }

    std::unique_ptr<QTextToSpeech> m_engine;  // created on first use: nothing speaks at launch
    std::function<void()> m_finished;
    bool m_utteranceActive = false;
    bool m_heardSpeaking = false;
};

class LinuxSpeechServices : public SpeechServices {
public:
    void requestMicrophoneAccess(Answer answer) override {
        const QAudioDevice device = QMediaDevices::defaultAudioInput();
        bool opens = false;
        if (!device.isNull()) {
            QAudioSource probe(device, captureFormat(device));
            probe.start();
            opens = probe.error() == QAudio::NoError && probe.state() != QAudio::StoppedState;
            probe.stop();
        }
        answer(opens);
    }

    void requestRecognitionAuthorization(Answer answer) override {
        answer(PocketSphinxRecognizer::modelInstalled(pocketSphinxModelFolder()));
    }

    std::unique_ptr<SpeechRecognizer> makeRecognizer(const QLocale& locale) override {
        // The installed model is US English; the C locale's texts are English too.
        if (locale.language() != QLocale::English && locale.language() != QLocale::C) {
            return nullptr;
        }
        return std::make_unique<PocketSphinxRecognizer>(pocketSphinxModelFolder());
    }

    AudioInput& audioInput() override { return m_input; }
    SpeechSynthesizer& synthesizer() override { return m_synthesizer; }

private:
    QtAudioInput m_input;
    QtSpeechSynthesizer m_synthesizer;
};

}  // namespace

QString pocketSphinxModelFolder() {
    const QString configured = qEnvironmentVariable("VELK_POCKETSPHINX_MODELS");
    return configured.isEmpty() ? QStringLiteral(VELK_POCKETSPHINX_MODELS) : configured;
}

std::unique_ptr<SpeechServices> makeLinuxSpeechServices() {
    return std::make_unique<LinuxSpeechServices>();
}
