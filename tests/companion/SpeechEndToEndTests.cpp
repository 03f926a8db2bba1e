// Read-aloud through the speech module as the program opens it: QTextToSpeech playing into the
// null sink of the sound server that scripts/test.sh starts. (Dictation through the same sound
// server, started from the quick draft, is in FloatingWindowTests.cpp.)
#include "core/companion/CompanionModel.h"
#include "core/services/Dialogs.h"
#include "core/services/Preferences.h"
#include "platform/SpeechModule.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextToSpeech>

#include <dlfcn.h>

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
    CompanionModel model(false, preferences, dialogs,
                         makeSpeechServicesOnFirstUse({QStringLiteral(VELK_SPEECH_MODULE_FILE)}));
    // The module is opened by the first reading, not with the companion.
    EXPECT_EQ(dlopen(VELK_SPEECH_MODULE_FILE, RTLD_NOW | RTLD_NOLOAD), nullptr);
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

TEST(SpeechModule, withoutTheModuleDictationAndReadingAloudSayWhyInsteadOfStarting) {
    QTemporaryDir folder;
    const QString missing = folder.filePath(QStringLiteral("lib/velk-speech.so"));
    MemoryPreferences preferences;
    ScriptedDialogs dialogs;
    CompanionModel model(false, preferences, dialogs, makeSpeechServicesOnFirstUse({missing}));
    model.toggleMicrophone();
    EXPECT_FALSE(model.voiceBusy());
    const QString reason = model.message();
    EXPECT_TRUE(reason.startsWith(u"Dictation and read-aloud are unavailable: ") &&
                reason.contains(missing))
        << reason.toStdString();
    model.speak(QStringLiteral("Hello."));
    EXPECT_FALSE(model.speaking());
    EXPECT_EQ(model.message(), reason);

    // A file that is not a loadable module is named with the loader's own words.
    const QString broken = folder.filePath(QStringLiteral("velk-speech.so"));
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("not a library") > 0);
    file.close();
    const Result<std::unique_ptr<SpeechServices>> loaded = loadSpeechModule({missing, broken});
    ASSERT_FALSE(loaded);
    EXPECT_TRUE(loaded.error().message.contains(broken)) << loaded.error().message.toStdString();
}

}  // namespace
