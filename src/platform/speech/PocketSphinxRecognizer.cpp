#include "platform/speech/PocketSphinxRecognizer.h"

#include <QDir>
#include <QFileInfo>

#include <pocketsphinx.h>

#include <algorithm>

namespace {

// 64 ms of 16 kHz audio.
constexpr size_t kStepSamples = 1024;

QString acousticModel(const QString& folder) {
    return QDir(folder).filePath(QStringLiteral("en-us/en-us"));
}
QString languageModel(const QString& folder) {
    return QDir(folder).filePath(QStringLiteral("en-us/en-us.lm.bin"));
}
QString dictionary(const QString& folder) {
    return QDir(folder).filePath(QStringLiteral("en-us/cmudict-en-us.dict"));
}

// The decoder and its configuration, released together.
struct Decoder {
    cmd_ln_t* config = nullptr;
    ps_decoder_t* decoder = nullptr;

    ~Decoder() {
        if (decoder) {
            ps_free(decoder);
        }
        if (config) {
            cmd_ln_free_r(config);
        }
    }
};

QString hypothesis(ps_decoder_t* decoder) {
    const char* text = ps_get_hyp(decoder, nullptr);
    return text ? QString::fromUtf8(text).simplified() : QString();
}

}  // namespace

PocketSphinxRecognizer::PocketSphinxRecognizer(QString modelFolder)
    : m_modelFolder(std::move(modelFolder)) {}

PocketSphinxRecognizer::~PocketSphinxRecognizer() {
    cancel();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

bool PocketSphinxRecognizer::modelInstalled(const QString& modelFolder) {
    return QFileInfo(QDir(acousticModel(modelFolder)).filePath(QStringLiteral("mdef"))).isFile() &&
           QFileInfo(languageModel(modelFolder)).isFile() &&
           QFileInfo(dictionary(modelFolder)).isFile();
}

bool PocketSphinxRecognizer::isAvailable() const {
    return modelInstalled(m_modelFolder);
}

void PocketSphinxRecognizer::start(UpdateHandler handler) {
    if (m_thread.joinable()) {
        return;
    }
    m_handler = std::move(handler);
    m_thread = std::thread([this] { run(); });
}

void PocketSphinxRecognizer::appendAudio(const QByteArray& samples) {
    {
        std::lock_guard lock(m_mutex);
        if (m_ended || m_cancelled) {
            return;
        }
        m_queued += samples;
    }
    m_wake.notify_one();
}

void PocketSphinxRecognizer::endAudio() {
    {
        std::lock_guard lock(m_mutex);
        m_ended = true;
    }
    m_wake.notify_one();
}

void PocketSphinxRecognizer::cancel() {
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
    }
    m_wake.notify_one();
}

bool PocketSphinxRecognizer::deliver(const RecognitionUpdate& update) {
    // Held while delivering so that after cancel() returns no update can start.
    std::lock_guard lock(m_mutex);
    if (m_cancelled) {
        return false;
    }
    m_handler(update);
    return true;
}

void PocketSphinxRecognizer::run() {
    // Loading the model takes a moment; audio queues up meanwhile. Dither keeps the feature
    // computation sane over digital silence, which a quiet or virtual input delivers.
    Decoder decoder;
    const QByteArray hmm = acousticModel(m_modelFolder).toLocal8Bit();
    const QByteArray lm = languageModel(m_modelFolder).toLocal8Bit();
    const QByteArray dict = dictionary(m_modelFolder).toLocal8Bit();
    decoder.config =
        cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-lm", lm.constData(),
                    "-dict", dict.constData(), "-logfn", "/dev/null", "-dither", "yes", nullptr);
    if (decoder.config) {
        decoder.decoder = ps_init(decoder.config);
    }
    if (!decoder.decoder || ps_start_utt(decoder.decoder) < 0) {
        deliver({std::nullopt, false, QStringLiteral("The speech model could not be loaded.")});
        return;
    }

    bool heardSpeech = false;
    QString lastReported;
    while (true) {
        QByteArray audio;
        bool ended = false;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_cancelled || m_ended || !m_queued.isEmpty(); });
            if (m_cancelled) {
                return;
            }
            audio.swap(m_queued);
            ended = m_ended;
        }
        // Decode in small steps: a backlog (queued while the model loaded, or while this
        // thread was starved) may hold a whole utterance, start and end, and the voice
        // detector's state and the growing hypothesis are only seen between steps.
        const auto* samples = reinterpret_cast<const int16*>(audio.constData());
        const size_t count = size_t(audio.size()) / sizeof(int16);
        bool utteranceOver = false;
        for (size_t at = 0; at < count && !utteranceOver; at += kStepSamples) {
            const size_t length = std::min(kStepSamples, count - at);
            if (ps_process_raw(decoder.decoder, samples + at, length, FALSE, FALSE) < 0) {
                deliver({std::nullopt, false, QStringLiteral("The audio could not be decoded.")});
                return;
            }
            const bool inSpeech = ps_get_in_speech(decoder.decoder);
            utteranceOver = heardSpeech && !inSpeech;
            heardSpeech = heardSpeech || inSpeech;
            if (inSpeech) {
                const QString text = hypothesis(decoder.decoder);
                if (!text.isEmpty() && text != lastReported) {
                    lastReported = text;
                    if (!deliver({text, false, std::nullopt})) {
                        return;
                    }
                }
            }
        }
        if (ended || utteranceOver) {
            ps_end_utt(decoder.decoder);
            deliver({hypothesis(decoder.decoder), true, std::nullopt});
            return;
        }
    }
}
