#include "platform/speech/LinuxSpeechServices.h"
#include "platform/speech/PocketSphinxRecognizer.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <mutex>

using testing_support::waitUntil;

namespace {

// Records every update the recognizer's thread delivers.
struct UpdateLog {
    std::vector<RecognitionUpdate> updates() const {
        std::lock_guard lock(mutex);
        return list;
    }
    SpeechRecognizer::UpdateHandler handler() {
        return [this](const RecognitionUpdate& update) {
            std::lock_guard lock(mutex);
            list.push_back(update);
        };
    }
    bool finished() const {
        std::lock_guard lock(mutex);
        return !list.empty() && (list.back().isFinal || list.back().error);
    }

    mutable std::mutex mutex;
    std::vector<RecognitionUpdate> list;
};

class PocketSphinxRecognizerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PocketSphinxRecognizer::modelInstalled(pocketSphinxModelFolder()) ||
            QStandardPaths::findExecutable(QStringLiteral("flite")).isEmpty()) {
            GTEST_SKIP() << "Skipping: needs the pocketsphinx model, and flite to speak";
        }
        const QString wav = scratch.filePath(QStringLiteral("sentence.wav"));
        QProcess::execute(QStringLiteral("flite"),
                          {QStringLiteral("-voice"), QStringLiteral("rms"), QStringLiteral("-t"),
                           kSentence, QStringLiteral("-o"), wav});
        // The voice writes the recognizer's own format, 16 kHz mono 16-bit samples, after a
        // 44-byte header.
        const QByteArray bytes = testing_support::readFile(wav);
        ASSERT_TRUE(bytes.size() > 44 && bytes.mid(36, 4) == "data" &&
                    qFromLittleEndian<quint16>(bytes.constData() + 22) == 1 &&
                    qFromLittleEndian<quint32>(bytes.constData() + 24) == 16000)
            << "flite wrote no 16 kHz mono sound";
        speech = bytes.mid(44);
    }

    // Feeds audio as a microphone would, in 1024-frame buffers.
    static void feed(SpeechRecognizer& recognizer, const QByteArray& samples) {
        for (qsizetype at = 0; at < samples.size(); at += 2048) {
            recognizer.appendAudio(samples.mid(at, 2048));
        }
    }

    static QByteArray silence(int milliseconds) { return QByteArray(32 * milliseconds, '\0'); }

    const QString kSentence = QStringLiteral("we need more time");
    QTemporaryDir scratch;
    QByteArray speech;
};

// The audio arrives while the model is still loading, so the whole utterance, start and
// end, waits in one backlog.
TEST_F(PocketSphinxRecognizerTest, anUtteranceGivesGrowingPartialsThenOneFinalResult) {
    PocketSphinxRecognizer recognizer(pocketSphinxModelFolder());
    ASSERT_TRUE(recognizer.isAvailable());
    UpdateLog log;
    recognizer.start(log.handler());
    feed(recognizer, silence(500) + speech + silence(1500));
    ASSERT_TRUE(waitUntil([&] { return log.finished(); }, std::chrono::seconds(30)));

    const std::vector<RecognitionUpdate> updates = log.updates();
    ASSERT_GE(updates.size(), 2u) << "no partial result came before the final one";
    for (size_t i = 0; i + 1 < updates.size(); ++i) {
        EXPECT_FALSE(updates[i].isFinal);
        EXPECT_TRUE(updates[i].text && !updates[i].text->isEmpty());
        if (i > 0) {
            EXPECT_NE(updates[i].text, updates[i - 1].text) << "an unchanged partial was repeated";
        }
    }
    EXPECT_TRUE(updates.back().isFinal);
    EXPECT_FALSE(updates.back().error);
    EXPECT_EQ(updates.back().text.value_or(QString()), kSentence);

    // The task is over: later audio changes nothing.
    feed(recognizer, speech);
    testing_support::processEventsFor(std::chrono::milliseconds(200));
    EXPECT_EQ(log.updates().size(), updates.size());
}

TEST_F(PocketSphinxRecognizerTest, endingTheAudioGivesTheFinalResultAtOnceEmptyForSilence) {
    for (const bool spoken : {false, true}) {
        SCOPED_TRACE(spoken ? "mid utterance" : "silence");
        PocketSphinxRecognizer recognizer(pocketSphinxModelFolder());
        UpdateLog log;
        recognizer.start(log.handler());
        // Without trailing silence the voice never stops by itself.
        feed(recognizer, spoken ? silence(300) + speech : silence(1000));
        recognizer.endAudio();
        ASSERT_TRUE(waitUntil([&] { return log.finished(); }, std::chrono::seconds(30)));
        const RecognitionUpdate last = log.updates().back();
        EXPECT_TRUE(last.isFinal);
        if (spoken) {
            EXPECT_TRUE(last.text.value_or(QString()).contains(QStringLiteral("time")))
                << last.text.value_or(QString()).toStdString();
        } else {
            EXPECT_EQ(log.updates(),
                      (std::vector{RecognitionUpdate{QString(), true, std::nullopt}}));
        }
    }
}

TEST_F(PocketSphinxRecognizerTest, aCancelledTaskDeliversNothingMore) {
    UpdateLog log;
    {
        PocketSphinxRecognizer recognizer(pocketSphinxModelFolder());
        recognizer.start(log.handler());
        feed(recognizer, silence(300));
        recognizer.cancel();
        feed(recognizer, speech + silence(1000));
    }  // joins the decoding thread
    EXPECT_TRUE(log.updates().empty());
}

TEST(PocketSphinxRecognizer, aMissingModelIsUnavailableAndReportsAnError) {
    QTemporaryDir empty;
    PocketSphinxRecognizer recognizer(empty.path());
    EXPECT_FALSE(recognizer.isAvailable());
    UpdateLog log;
    recognizer.start(log.handler());
    ASSERT_TRUE(waitUntil([&] { return log.finished(); }));
    EXPECT_EQ(log.updates().back().error, "The speech model could not be loaded.");
}

}  // namespace
