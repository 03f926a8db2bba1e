#include "platform/speech/SpeechAudioConverter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

bool SpeechAudioConverter::configure(SampleFormat format, int sampleRate, int channelCount) {
    m_pending.clear();
    m_partialFrame.clear();
    m_position = 0.0;
    if (sampleRate < 1 || channelCount < 1) {
        m_channels = 0;
        return false;
    }
    m_format = format;
    m_channels = channelCount;
    m_step = double(sampleRate) / kOutputRate;
    switch (format) {
        case SampleFormat::UInt8:
            m_bytesPerSample = 1;
            break;
        case SampleFormat::Int16:
            m_bytesPerSample = 2;
            break;
        case SampleFormat::Int32:
        case SampleFormat::Float:
            m_bytesPerSample = 4;
            break;
    }
    return true;
}

float SpeechAudioConverter::sampleAt(const char* frame, int channel) const {
    const char* at = frame + channel * m_bytesPerSample;
    switch (m_format) {
        case SampleFormat::UInt8:
            return (float(static_cast<unsigned char>(*at)) - 128.0f) / 128.0f;
        case SampleFormat::Int16: {
            qint16 value;
            std::memcpy(&value, at, sizeof value);
            return float(value) / 32768.0f;
        }
        case SampleFormat::Int32: {
            qint32 value;
            std::memcpy(&value, at, sizeof value);
            return float(double(value) / 2147483648.0);
        }
        case SampleFormat::Float: {
            float value;
            std::memcpy(&value, at, sizeof value);
            return std::isfinite(value) ? value : 0.0f;
        }
    }
    return 0.0f;
}

QByteArray SpeechAudioConverter::convert(const QByteArray& input) {
    if (m_channels < 1) {
        return {};
    }
    const QByteArray bytes = m_partialFrame + input;
    const qsizetype frameBytes = qsizetype(m_bytesPerSample) * m_channels;
    const qsizetype frames = bytes.size() / frameBytes;
    m_partialFrame = bytes.mid(frames * frameBytes);
    for (qsizetype i = 0; i < frames; ++i) {
        const char* frame = bytes.constData() + i * frameBytes;
        float sum = 0.0f;
        for (int channel = 0; channel < m_channels; ++channel) {
            sum += sampleAt(frame, channel);
        }
        m_pending.push_back(sum / float(m_channels));
    }

    QByteArray output;
    while (m_position + 1.0 < double(m_pending.size()) ||
           (m_step == 1.0 && m_position < double(m_pending.size()))) {
        const size_t index = size_t(m_position);
        const float fraction = float(m_position - double(index));
        const float next = index + 1 < m_pending.size() ? m_pending[index + 1] : m_pending[index];
        const float value = m_pending[index] * (1.0f - fraction) + next * fraction;
        // The inverse of the reading scale, so 16-bit input comes back exactly.
        const qint16 sample = qint16(std::clamp(std::lround(value * 32768.0f), -32768L, 32767L));
        output.append(reinterpret_cast<const char*>(&sample), sizeof sample);
        m_position += m_step;
    }
    // Keep the samples the next output position still needs.
    const size_t consumed = std::min(size_t(m_position), m_pending.size());
    m_pending.erase(m_pending.begin(), m_pending.begin() + qsizetype(consumed));
    m_position -= double(consumed);
    return output;
}
