#pragma once

#include <QByteArray>

#include <vector>

// Turns microphone audio of any common PCM layout into what the recognizer takes: 16 kHz,
// one channel, signed 16-bit. Channels are averaged; the rate is changed by linear
// interpolation, carried across buffers so consecutive buffers join without a click.
class SpeechAudioConverter {
public:
    enum class SampleFormat { UInt8, Int16, Int32, Float };

    static constexpr int kOutputRate = 16000;

    // Returns false (and converts nothing) for a rate or channel count below 1.
    bool configure(SampleFormat format, int sampleRate, int channelCount);
    QByteArray convert(const QByteArray& input);

private:
    float sampleAt(const char* frame, int channel) const;

    SampleFormat m_format = SampleFormat::Int16;
    int m_channels = 0;
    int m_bytesPerSample = 2;
    double m_step = 1.0;      // input samples per output sample
    double m_position = 0.0;  // next output position within m_pending
    std::vector<float> m_pending;
    QByteArray m_partialFrame;  // bytes of a frame split across buffers
};
