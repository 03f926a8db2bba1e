#include "platform/speech/SpeechAudioConverter.h"

#include <QtEndian>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

std::vector<qint16> samplesOf(const QByteArray& bytes) {
    std::vector<qint16> samples(size_t(bytes.size()) / 2);
    std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    return samples;
}

template <typename T>
QByteArray bytesOf(const std::vector<T>& values) {
    return QByteArray(reinterpret_cast<const char*>(values.data()),
                      qsizetype(values.size() * sizeof(T)));
}

// A 440 Hz tone at the rate, as interleaved stereo floats with the right channel silent.
std::vector<float> stereoTone(int rate, int frames) {
    std::vector<float> values;
    for (int i = 0; i < frames; ++i) {
        values.push_back(float(0.8 * std::sin(2 * M_PI * 440.0 * i / rate)));
        values.push_back(0.0f);
    }
    return values;
}

TEST(SpeechAudioConverter, stereoFloatAt48kHzBecomesAMonoToneAt16kHzAcrossSplitBuffers) {
    SpeechAudioConverter converter;
    ASSERT_TRUE(converter.configure(SpeechAudioConverter::SampleFormat::Float, 48000, 2));
    const QByteArray input = bytesOf(stereoTone(48000, 4800));  // 0.1 s
    // Buffers cut in the middle of a sample, as a device may deliver them.
    QByteArray output;
    for (qsizetype at = 0; at < input.size(); at += 1001) {
        output += converter.convert(input.mid(at, 1001));
    }
    const std::vector<qint16> samples = samplesOf(output);
    EXPECT_NEAR(double(samples.size()), 1600.0, 2.0);
    for (size_t i = 0; i < samples.size(); ++i) {
        // Channels are averaged: the tone at half its amplitude, sample for sample.
        const double expected = 0.4 * std::sin(2 * M_PI * 440.0 * double(i) / 16000.0);
        ASSERT_NEAR(samples[i] / 32767.0, expected, 0.01) << "at sample " << i;
    }
}

TEST(SpeechAudioConverter, integerFormatsKeepTheirSignAndAnUnusableFormatConvertsNothing) {
    SpeechAudioConverter converter;
    // The recognizer's own format passes through unchanged.
    ASSERT_TRUE(converter.configure(SpeechAudioConverter::SampleFormat::Int16, 16000, 1));
    const std::vector<qint16> input = {0, 1000, -1000, 32767, -32768, 5};
    EXPECT_EQ(samplesOf(converter.convert(bytesOf(input))), input);

    ASSERT_TRUE(converter.configure(SpeechAudioConverter::SampleFormat::UInt8, 8000, 1));
    const std::vector<quint8> bytes = {128, 255, 0, 128};
    const std::vector<qint16> fromBytes = samplesOf(converter.convert(bytesOf(bytes)));
    ASSERT_GE(fromBytes.size(), 6u);  // 8 kHz doubles to 16 kHz
    EXPECT_EQ(fromBytes[0], 0);
    EXPECT_GT(fromBytes[2], 32000);
    EXPECT_LT(fromBytes[4], -32000);

    ASSERT_TRUE(converter.configure(SpeechAudioConverter::SampleFormat::Int32, 16000, 1));
    const std::vector<qint32> words = {INT32_MIN, 0, INT32_MAX / 2};
    const std::vector<qint16> fromWords = samplesOf(converter.convert(bytesOf(words)));
    ASSERT_EQ(fromWords.size(), 3u);
    EXPECT_EQ(fromWords[0], -32768);
    EXPECT_NEAR(fromWords[2], 16384, 1);

    EXPECT_FALSE(converter.configure(SpeechAudioConverter::SampleFormat::Int16, 0, 1));
    EXPECT_TRUE(converter.convert(bytesOf(words)).isEmpty());
}

}  // namespace
