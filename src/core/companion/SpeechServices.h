#pragma once

#include "core/base/Result.h"

#include <QByteArray>
#include <QLocale>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// The platform side of dictation and read-aloud, behind small interfaces so the companion's
// state machine can be driven by scripted fakes in tests. Every answer and result may arrive
// on any thread; the companion model moves it to its own thread before acting on it.

// One update from a recognition task: the best transcription so far (whole, not a delta),
// whether it is the last one of the utterance, and/or an error description.
struct RecognitionUpdate {
    std::optional<QString> text;
    bool isFinal = false;
    std::optional<QString> error;

    bool operator==(const RecognitionUpdate&) const = default;
};

// A recognizer for one language, created for one dictation and dropped afterwards.
class SpeechRecognizer {
public:
    using UpdateHandler = std::function<void(const RecognitionUpdate&)>;

    virtual ~SpeechRecognizer() = default;

    virtual bool isAvailable() const = 0;
    // Starts the task; audio then comes through appendAudio as 16 kHz mono signed 16-bit
    // samples, from the audio thread.
    virtual void start(UpdateHandler handler) = 0;
    virtual void appendAudio(const QByteArray& samples) = 0;
    // No more audio follows: finish the utterance.
    virtual void endAudio() = 0;
    // Stops at once; no further updates are delivered.
    virtual void cancel() = 0;
};

// The microphone. Buffers are delivered already converted to 16 kHz mono signed 16-bit.
class AudioInput {
public:
    using BufferConsumer = std::function<void(const QByteArray& samples)>;

    struct Format {
        int sampleRate = 0;
        int channelCount = 0;
    };

    virtual ~AudioInput() = default;

    // The device's own format; zero values when there is no input.
    virtual Format inputFormat() const = 0;
    virtual void installTap(BufferConsumer consumer) = 0;
    virtual void removeTap() = 0;
    // Fails with the error description when the device does not start.
    virtual Result<void> start() = 0;
    virtual bool isRunning() const = 0;
    virtual void stop() = 0;
};

class SpeechSynthesizer {
public:
    virtual ~SpeechSynthesizer() = default;

    // Speaks with the voice for the language tag (e.g. "en-US") at the default rate.
    virtual void speak(const QString& text, const QString& languageTag) = 0;
    // Silences at once. No finished notification follows for the stopped utterance.
    virtual void stopImmediately() = 0;
    // Called when an utterance ends by itself (from any thread).
    virtual void setFinishedHandler(std::function<void()> handler) = 0;
};

class SpeechServices {
public:
    using Answer = std::function<void(bool granted)>;

    virtual ~SpeechServices() = default;

    virtual void requestMicrophoneAccess(Answer answer) = 0;
    virtual void requestRecognitionAuthorization(Answer answer) = 0;
    // A recognizer for the locale, or null when the language has none.
    virtual std::unique_ptr<SpeechRecognizer> makeRecognizer(const QLocale& locale) = 0;
    virtual AudioInput& audioInput() = 0;
    virtual SpeechSynthesizer& synthesizer() = 0;
    // Why neither dictation nor read-aloud can work in this process (their libraries are
    // missing), in words for the user; nothing when they may. Asked before each dictation
    // and each reading.
    virtual std::optional<QString> unavailableReason() { return std::nullopt; }
};

// Services for a process without speech (automation runs): every permission is refused and
// nothing is spoken.
std::unique_ptr<SpeechServices> makeSilentSpeechServices();

// Services that refuse every dictation and reading with `reason`.
std::unique_ptr<SpeechServices> makeUnavailableSpeechServices(QString reason);
