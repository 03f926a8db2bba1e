#include "FakeSpeechServices.h"

#include "core/companion/CompanionModel.h"
#include "core/services/Dialogs.h"
#include "core/services/Preferences.h"
#include "support/TestSupport.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

using testing_support::processEventsFor;
using testing_support::waitUntil;

namespace {

const QString kMicrophoneOff = QStringLiteral("Microphone off. Your draft is ready to review.");
const QString kReading = QStringLiteral("Reading aloud… Stop VELK audio ends playback.");

class CompanionDictationTest : public ::testing::Test {
protected:
    CompanionDictationTest() {
        auto services = std::make_unique<FakeSpeechServices>();
        speech = services.get();
        model = std::make_unique<CompanionModel>(false, preferences, dialogs, std::move(services));
    }

    // Answers and results are delivered on the model's thread later, as from the platform.
    static void settle() { QCoreApplication::processEvents(); }
    bool startListening() { return speech->startListening(*model); }
    static void answer(std::vector<FakeSpeechServices::Answer>& questions, bool granted) {
        questions.back()(granted);
        settle();
    }
    void push(const QString& text, bool isFinal = false, std::optional<QString> error = {}) {
        speech->recognizer()->push({text, isFinal, error});
        settle();
    }

    MemoryPreferences preferences;
    ScriptedDialogs dialogs;
    FakeSpeechServices* speech = nullptr;
    std::unique_ptr<CompanionModel> model;
};

TEST_F(CompanionDictationTest, eachWayDictationCannotStartEndsTheRequestWithItsOwnMessage) {
    // Stopped while waiting for permission: the late answer is dropped.
    model->toggleMicrophone();
    EXPECT_TRUE(model->requestingMicrophone());
    EXPECT_EQ(model->message(), "Waiting for microphone permission…");
    model->toggleMicrophone();
    EXPECT_FALSE(model->voiceBusy());
    answer(speech->microphoneQuestions, true);
    EXPECT_TRUE(speech->recognitionQuestions.empty());
    EXPECT_FALSE(model->voiceBusy());
    EXPECT_EQ(model->message(), kMicrophoneOff);

    model->toggleMicrophone();
    answer(speech->microphoneQuestions, false);
    EXPECT_FALSE(model->voiceBusy());
    EXPECT_EQ(model->message(),
              "The microphone could not be opened. Choose an input device in your desktop’s "
              "sound settings (PulseAudio or PipeWire).");

    model->toggleMicrophone();
    answer(speech->microphoneQuestions, true);
    EXPECT_EQ(model->message(), "Waiting for speech recognition permission…");
    answer(speech->recognitionQuestions, false);
    EXPECT_FALSE(model->voiceBusy());
    EXPECT_EQ(model->message(),
              "Speech recognition is off: the offline recognizer’s English model is missing. "
              "Install the pocketsphinx-en-us package.");

    const QString unavailable = QStringLiteral(
        "Speech recognition is unavailable for this language or connection. You can still "
        "type your draft.");
    speech->recognizerAvailable = false;
    for (bool exists : {false, true}) {
        speech->recognizerExists = exists;
        EXPECT_FALSE(startListening());
        EXPECT_FALSE(model->voiceBusy());
        EXPECT_EQ(model->message(), unavailable);
    }

    speech->recognizerAvailable = true;
    speech->input.format = {0, 1};
    EXPECT_FALSE(startListening());
    EXPECT_FALSE(model->voiceBusy());
    EXPECT_EQ(model->message(), "No microphone input is available.");
    EXPECT_EQ(speech->recognizer(), nullptr);

    speech->input.format = {44100, 1};
    speech->input.startFailure = QStringLiteral("The device is busy.");
    EXPECT_FALSE(startListening());
    EXPECT_FALSE(model->voiceBusy());
    EXPECT_EQ(model->message(), "Could not start the microphone: The device is busy.");
    EXPECT_FALSE(speech->input.tap);
}

TEST_F(CompanionDictationTest, resultsFollowTheTrimmedDraftAndReplaceEachOther) {
    model->setDraft(QStringLiteral("  \n Buy milk\t\n"));
    ASSERT_TRUE(startListening());
    EXPECT_EQ(model->message(), "Listening… tap the microphone to stop.");
    EXPECT_FALSE(model->requestingMicrophone());
    speech->input.tap(QByteArray(320, '\1'));
    EXPECT_EQ(speech->recognizer()->audio.size(), 320);

    push("and");
    EXPECT_EQ(model->draft(), "Buy milk and");
    push("and bread");
    EXPECT_EQ(model->draft(), "Buy milk and bread");
    EXPECT_TRUE(model->listening());
    push("and bread please", true);
    EXPECT_EQ(model->draft(), "Buy milk and bread please");
    EXPECT_FALSE(model->listening());
    EXPECT_EQ(model->message(), "Dictation finished. Review your draft before using it.");
    EXPECT_FALSE(speech->input.running);
    EXPECT_FALSE(speech->input.tap);
    EXPECT_EQ(speech->recognizer(), nullptr);

    // A blank draft is no base: the draft becomes just the words.
    model->setDraft(QStringLiteral(" \n "));
    ASSERT_TRUE(startListening());
    push("hello");
    EXPECT_EQ(model->draft(), "hello");
}

TEST_F(CompanionDictationTest, anErrorOrAStopKeepsTheDraftAndLaterResultsAreDropped) {
    model->setDraft(QStringLiteral("Notes"));
    ASSERT_TRUE(startListening());
    push("first words", false, QStringLiteral("The audio stream broke."));
    EXPECT_EQ(model->draft(), "Notes first words");
    EXPECT_FALSE(model->listening());
    EXPECT_EQ(model->message(),
              "Dictation ended. Check your microphone, language, and connection; your draft is "
              "kept.");
    EXPECT_EQ(speech->cancels, 1);
    EXPECT_EQ(speech->recognizer(), nullptr);

    ASSERT_TRUE(startListening());
    push("second");
    model->setDraft(model->draft() + QStringLiteral(" typed"));
    model->stopMicrophone();
    EXPECT_EQ(model->draft(), "Notes first words second typed");
    EXPECT_EQ(model->message(), kMicrophoneOff);
    EXPECT_EQ(speech->audioEnds, 2);
    EXPECT_EQ(speech->recognizer(), nullptr);
}

TEST_F(CompanionDictationTest, dictationPausesByItselfAfterTheTimeLimit) {
    model->setDictationLimit(50);
    model->setDraft(QStringLiteral("kept"));
    ASSERT_TRUE(startListening());
    push("words");
    ASSERT_TRUE(waitUntil([&] { return !model->listening(); }));
    EXPECT_EQ(model->message(), "Dictation paused after one minute. Your draft is ready.");
    EXPECT_EQ(model->draft(), "kept words");
    EXPECT_FALSE(speech->input.running);

    // Once stopped, the limit does not fire again over a later message.
    model->speak(QStringLiteral("x"));
    processEventsFor(std::chrono::milliseconds(120));
    EXPECT_EQ(model->message(), kReading);
}

TEST_F(CompanionDictationTest, readingAloudSpeaksTheLastPartEndsByItselfAndInterruptsDictation) {
    model->speak(QStringLiteral(" \n\t "));
    EXPECT_EQ(model->message(), "There is no text to read yet.");
    EXPECT_TRUE(speech->voice.spoken.isEmpty());
    EXPECT_FALSE(model->speaking());

    const QString text = QStringLiteral("abcdefghijklmnopqrstuvwxyz").repeated(385).left(10000);
    model->speak(QStringLiteral("\n") + text + QStringLiteral("  "));
    ASSERT_EQ(speech->voice.spoken.size(), 1);
    EXPECT_EQ(speech->voice.spoken[0], text.right(6000));
    EXPECT_FALSE(speech->voice.languages[0].contains(QLatin1Char('_')));
    EXPECT_TRUE(model->speaking());
    EXPECT_EQ(model->message(), kReading);
    speech->voice.finished();
    settle();
    EXPECT_FALSE(model->speaking());
    EXPECT_EQ(model->message(), kReading);

    // Reading stops the microphone; the microphone stops reading.
    ASSERT_TRUE(startListening());
    model->speak(QStringLiteral("read this"));
    EXPECT_FALSE(model->listening());
    EXPECT_FALSE(speech->input.running);
    EXPECT_TRUE(model->speaking());
    const int stopsBefore = speech->voice.stops;
    model->toggleMicrophone();
    EXPECT_FALSE(model->speaking());
    EXPECT_GT(speech->voice.stops, stopsBefore);
    EXPECT_TRUE(model->requestingMicrophone());

    model->shutdown();
    EXPECT_FALSE(model->voiceBusy());
    EXPECT_FALSE(model->speaking());
}

}  // namespace
