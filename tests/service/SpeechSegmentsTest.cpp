#include "SpeechSegments.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace {

constexpr std::size_t rate = SpeechSegments::sampleRateHz;

// A loud tone of `seconds`, silent from each of `gaps` (in seconds) for 0.3 s.
std::vector<std::int16_t> toneWithGaps(double seconds, const std::vector<double>& gaps) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * rate));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(8000 * std::sin(0.05 * static_cast<double>(i)));
    for (const double gap : gaps) {
        const auto start = static_cast<std::size_t>(gap * rate);
        std::fill_n(samples.begin() + static_cast<long>(start), rate * 3 / 10, 0);
    }
    return samples;
}

TEST(SpeechSegments, ADictationOfUsualLengthIsOnePiece) {
    EXPECT_TRUE(SpeechSegments::cuts({}).empty());
    EXPECT_TRUE(SpeechSegments::cuts(toneWithGaps(5, {})).empty());
    // Up to a search span past one piece's length stays whole rather than leave a scrap.
    EXPECT_TRUE(SpeechSegments::cuts(toneWithGaps(22.9, {})).empty());
}

TEST(SpeechSegments, LongRecordingsAreCutInTheQuietNearEachBoundary) {
    const auto cuts = SpeechSegments::cuts(toneWithGaps(60, {18.0, 39.5}));
    ASSERT_EQ(cuts.size(), 2u);
    EXPECT_GE(cuts[0], 18 * rate);
    EXPECT_LE(cuts[0], 18 * rate + rate * 3 / 10);
    EXPECT_GE(cuts[1], rate * 395 / 10);
    EXPECT_LE(cuts[1], rate * 398 / 10);
}

TEST(SpeechSegments, PiecesStayBoundedWithoutAnyQuiet) {
    const auto samples = toneWithGaps(180, {});
    const auto cuts = SpeechSegments::cuts(samples);
    ASSERT_FALSE(cuts.empty());
    std::size_t start = 0;
    for (const std::size_t cut : cuts) {
        EXPECT_GT(cut, start);
        EXPECT_LE(cut - start, SpeechSegments::segmentSamples + SpeechSegments::searchSamples);
        start = cut;
    }
    EXPECT_LE(samples.size() - start,
              SpeechSegments::segmentSamples + SpeechSegments::searchSamples);
}

TEST(SpeechSegments, OnlyLoudSoundThatComesAndGoesIsSpeech) {
    auto scaled = [](std::vector<std::int16_t> samples, double factor) {
        for (auto& sample : samples)
            sample = static_cast<std::int16_t>(sample * factor);
        return samples;
    };
    std::vector<std::int16_t> noise(5 * rate);
    std::srand(7);
    for (auto& sample : noise)
        sample = static_cast<std::int16_t>(std::rand() % 16001 - 8000);
    const auto syllables = toneWithGaps(5, {0.5, 1.5, 2.5, 3.5, 4.5});
    const struct {
        const char* what;
        std::vector<std::int16_t> samples;
        bool speech;
    } cases[] = {
        {"syllables", syllables, true},
        {"syllables below the speech level", scaled(syllables, 0.03), false},
        {"silence", std::vector<std::int16_t>(5 * rate), false},
        {"a steady tone", toneWithGaps(5, {}), false},
        {"steady noise", noise, false},
        {"less than a window", std::vector<std::int16_t>(10, 8000), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SpeechSegments::hasSpeech(c.samples.data(), c.samples.size()), c.speech)
            << c.what;
}

} // namespace
