#pragma once

#include "core/companion/SpeechServices.h"

#include <condition_variable>
#include <mutex>
#include <thread>

// On-device recognition with pocketsphinx and its US English model. Decoding runs on a
// thread of its own: the audio thread only queues buffers. While speech is heard the task
// reports each changed hypothesis; when the decoder's voice detector hears the utterance
// end (or the audio ends) it reports the final text and stops.
class PocketSphinxRecognizer : public SpeechRecognizer {
public:
    // modelFolder holds en-us/ (the acoustic model), en-us.lm.bin and cmudict-en-us.dict.
    explicit PocketSphinxRecognizer(QString modelFolder);
    ~PocketSphinxRecognizer() override;

    static bool modelInstalled(const QString& modelFolder);

    bool isAvailable() const override;
    void start(UpdateHandler handler) override;
    void appendAudio(const QByteArray& samples) override;
    void endAudio() override;
    void cancel() override;

private:
    void run();
    // Delivers an update unless the task was cancelled; returns false once cancelled.
    bool deliver(const RecognitionUpdate& update);

    const QString m_modelFolder;
    UpdateHandler m_handler;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    QByteArray m_queued;  // guarded by m_mutex
    bool m_ended = false;
    bool m_cancelled = false;
};
