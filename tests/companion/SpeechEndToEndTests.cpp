// Read-aloud through the real services: QTextToSpeech playing into the null sink of the sound
// server that scripts/test.sh starts. (Dictation through the same sound server, started from
// the quick draft, is in FloatingWindowTests.cpp.)
#include "core/companion/CompanionModel.h"
#include "core/services/Dialogs.h"
#include "core/services/Preferences.h"
#include "platform/speech/LinuxSpeechServices.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QTextToSpeech>

#include <gtest/gtest.h>

namespace {

// The output of a pactl command, or nothing when the sound server did not answer.
std::optional<QByteArray> pactl(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("pactl"), arguments);
    if (!process.waitForFinished(5000) || process.exitCode() != 0) {
        return std::nullopt;
    }
    return process.readAllStandardOutput();
}

TEST(SpeechEndToEnd, readingAloudPlaysIntoTheSinkAndEndsByItself) {
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER") || !pactl({QStringLiteral("info")}) ||
        QTextToSpeech::availableEngines().isEmpty()) {
        GTEST_SKIP() << "Skipping read-aloud: needs the private sound server of scripts/test.sh "
                        "(when pulseaudio is installed) and a text-to-speech engine";
    }
    MemoryPreferences preferences;
    ScriptedDialogs dialogs;
    CompanionModel model(false, preferences, dialogs, makeLinuxSpeechServices());
    model.speak(QStringLiteral("Hello from your desktop companion."));
    EXPECT_TRUE(model.speaking());
    EXPECT_EQ(model.message(), "Reading aloud… Stop VELK audio ends playback.");

    // While it plays, the sound server has a stream playing into the sink.
    bool streamSeen = false;
    const bool ended = testing_support::waitUntil(
        [&] {
            streamSeen = streamSeen || !pactl({QStringLiteral("list"), QStringLiteral("short"),
                                               QStringLiteral("sink-inputs")})
                                            .value_or(QByteArray())
                                            .trimmed()
                                            .isEmpty();
            return !model.speaking();
        },
        std::chrono::seconds(30));
    EXPECT_TRUE(ended) << "speaking never returned to false";
    EXPECT_TRUE(streamSeen) << "no audio stream reached the sound server";
}

}  // namespace
