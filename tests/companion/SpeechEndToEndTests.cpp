// Dictation and read-aloud through the real services: a sound server whose null sink's
// monitor is the default input (scripts/test.sh starts one), flite and espeak-ng speaking
// into that sink, pocketsphinx listening, and QTextToSpeech playing into the same sink.
#include "companion/CompanionModel.h"
#include "companion/LinuxSpeechServices.h"
#include "platform/Dialogs.h"
#include "platform/Preferences.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextToSpeech>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>

using testing_support::processEventsFor;
using testing_support::waitUntil;

namespace {

QStringList wordsOf(const QString& text) {
    return text.toLower()
        .remove(QRegularExpression(QStringLiteral("[^a-z' ]")))
        .split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Word-level edit distance over the reference length.
double wordErrorRate(const QStringList& reference, const QStringList& heard) {
    std::vector<int> previous(size_t(heard.size()) + 1), current(previous.size());
    for (size_t j = 0; j < previous.size(); ++j) {
        previous[j] = int(j);
    }
    for (qsizetype i = 1; i <= reference.size(); ++i) {
        current[0] = int(i);
        for (qsizetype j = 1; j <= heard.size(); ++j) {
            const int substitution =
                previous[size_t(j - 1)] + (reference[i - 1] == heard[j - 1] ? 0 : 1);
            current[size_t(j)] =
                std::min({substitution, previous[size_t(j)] + 1, current[size_t(j - 1)] + 1});
        }
        std::swap(previous, current);
    }
    return double(previous.back()) / double(std::max<qsizetype>(1, reference.size()));
}

// Why the sound setup is unusable, or nothing when it is ready.
std::optional<QString> missingSoundSetup() {
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER")) {
        return QStringLiteral(
            "no private sound server is running (scripts/test.sh starts one "
            "when pulseaudio is installed)");
    }
    for (const char* tool : {"espeak-ng", "paplay", "pactl"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            return QStringLiteral("%1 is not installed").arg(QLatin1String(tool));
        }
    }
    QProcess info;
    info.start(QStringLiteral("pactl"), {QStringLiteral("info")});
    if (!info.waitForFinished(5000) || info.exitCode() != 0) {
        return QStringLiteral("the sound server does not answer");
    }
    return std::nullopt;
}

class SpeechEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::optional<QString> missing = missingSoundSetup()) {
            GTEST_SKIP() << "Skipping the sound tests: " << missing->toStdString();
        }
        model = std::make_unique<CompanionModel>(false, preferences, dialogs,
                                                 makeLinuxSpeechServices());
    }

    MemoryPreferences preferences;
    ScriptedDialogs dialogs;
    std::unique_ptr<CompanionModel> model;
};

struct Dictation {
    bool finishedByItself = false;
    QString draft;
    QStringList heard;
    double wordErrorRate = 1.0;
};

// Dictates after the draft "Note:" while the voice command (run by sh with the sentence as
// $1 and a scratch file as $2) plays into the sink.
Dictation dictate(CompanionModel& model, const QString& voiceCommand, const QString& sentence) {
    Dictation result;
    model.setDraft(QStringLiteral("Note:"));
    model.toggleMicrophone();
    if (!waitUntil([&] { return !model.requestingMicrophone(); }) || !model.listening()) {
        ADD_FAILURE() << "dictation did not start: " << model.message().toStdString();
        return result;
    }
    // Let the recognizer settle on the background level before the voice starts.
    processEventsFor(std::chrono::milliseconds(700));
    QTemporaryDir scratch;
    QProcess voice;
    voice.start(QStringLiteral("sh"), {QStringLiteral("-c"), voiceCommand, QStringLiteral("voice"),
                                       sentence, scratch.filePath(QStringLiteral("voice.wav"))});
    if (!voice.waitForStarted()) {
        ADD_FAILURE() << "the voice did not start";
        model.stopMicrophone();
        return result;
    }
    result.finishedByItself =
        waitUntil([&] { return !model.voiceBusy(); }, std::chrono::seconds(40));
    voice.waitForFinished(5000);
    if (!result.finishedByItself) {
        model.stopMicrophone();
    }
    result.draft = model.draft();
    result.heard = wordsOf(result.draft.mid(6));
    result.wordErrorRate = wordErrorRate(wordsOf(sentence), result.heard);
    std::cout << "Dictation heard \"" << result.heard.join(' ').toStdString() << "\" for \""
              << sentence.toStdString() << "\": word error rate " << result.wordErrorRate
              << std::endl;
    return result;
}

int wordsFound(const QString& sentence, const QStringList& heard) {
    int found = 0;
    for (const QString& word : wordsOf(sentence)) {
        found += heard.contains(word) ? 1 : 0;
    }
    return found;
}

// flite's voices are close to the recordings pocketsphinx's model was trained on.
TEST_F(SpeechEndToEndTest, dictationWritesTheWordsSpokenIntoTheMicrophoneAfterTheDraft) {
    if (QStandardPaths::findExecutable(QStringLiteral("flite")).isEmpty()) {
        GTEST_SKIP() << "Skipping: flite is not installed";
    }
    const QString sentence = QStringLiteral("please open the door and turn on the light");
    const Dictation result = dictate(
        *model, QStringLiteral("flite -voice rms -t \"$1\" -o \"$2\" && paplay \"$2\""), sentence);
    EXPECT_TRUE(result.finishedByItself) << model->message().toStdString();
    EXPECT_EQ(model->message(), "Dictation finished. Review your draft before using it.");
    EXPECT_TRUE(result.draft.startsWith(QStringLiteral("Note: "))) << result.draft.toStdString();
    EXPECT_LE(result.wordErrorRate, 0.34) << result.draft.toStdString();
    EXPECT_GE(wordsFound(sentence, result.heard) * 3, wordsOf(sentence).size() * 2)
        << result.draft.toStdString();
}

// espeak-ng's formant voice is further from human speech; pocketsphinx still hears most of
// a short sentence.
TEST_F(SpeechEndToEndTest, dictationHearsMostWordsOfAFormantVoice) {
    const QString sentence = QStringLiteral("i want to go home");
    const Dictation result = dictate(
        *model, QStringLiteral("espeak-ng -v en-us -s 130 -w \"$2\" \"$1\" && paplay \"$2\""),
        sentence);
    EXPECT_TRUE(result.finishedByItself) << model->message().toStdString();
    EXPECT_EQ(model->message(), "Dictation finished. Review your draft before using it.");
    EXPECT_LE(result.wordErrorRate, 0.6) << result.draft.toStdString();
    EXPECT_GE(wordsFound(sentence, result.heard) * 2, wordsOf(sentence).size())
        << result.draft.toStdString();
}

TEST_F(SpeechEndToEndTest, readingAloudPlaysIntoTheSinkAndEndsByItself) {
    if (QTextToSpeech::availableEngines().isEmpty()) {
        GTEST_SKIP() << "Skipping read-aloud: no text-to-speech engine is installed";
    }
    model->speak(QStringLiteral("Hello from your desktop companion."));
    EXPECT_TRUE(model->speaking());
    EXPECT_EQ(model->message(), "Reading aloud… Stop VELK audio ends playback.");

    // While it plays, the sound server has a stream playing into the sink.
    bool streamSeen = false;
    const bool ended = waitUntil(
        [&] {
            if (!streamSeen) {
                QProcess list;
                list.start(QStringLiteral("pactl"),
                           {QStringLiteral("list"), QStringLiteral("short"),
                            QStringLiteral("sink-inputs")});
                list.waitForFinished(2000);
                streamSeen = !list.readAllStandardOutput().trimmed().isEmpty();
            }
            return !model->speaking();
        },
        std::chrono::seconds(30));
    EXPECT_TRUE(ended) << "speaking never returned to false";
    EXPECT_TRUE(streamSeen) << "no audio stream reached the sound server";
}

}  // namespace
