#include "SpeechSegments.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr std::size_t rate = SpeechSegments::sampleRateHz;

// A loud tone of `seconds`, silent from each of `gaps` (in seconds) for 0.3 s.
std::vector<std::int16_t> toneWithGaps(double seconds, const std::vector<double>& gaps) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * rate));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(8000 * std::sin(0.05 * static_cast<double>(i)));
    for (const double gap : gaps)
        std::fill_n(samples.begin() + static_cast<long>(gap * rate), rate * 3 / 10, 0);
    return samples;
}

// Up to a search span past one piece's length stays whole rather than leave a scrap;
// longer recordings are cut in the quiet near each boundary.
TEST(SpeechSegments, LongRecordingsAreCutInTheQuietNearEachBoundary) {
    EXPECT_TRUE(SpeechSegments::cuts({}).empty());
    EXPECT_TRUE(SpeechSegments::cuts(toneWithGaps(22.9, {})).empty());
    const auto cuts = SpeechSegments::cuts(toneWithGaps(60, {18.0, 39.5}));
    ASSERT_EQ(cuts.size(), 2u);
    EXPECT_GE(cuts[0], 18 * rate);
    EXPECT_LE(cuts[0], 18 * rate + rate * 3 / 10);
    EXPECT_GE(cuts[1], rate * 395 / 10);
    EXPECT_LE(cuts[1], rate * 398 / 10);
}

TEST(SpeechSegments, OnlyLoudSoundThatComesAndGoesIsSpeech) {
    auto quiet = toneWithGaps(5, {0.5, 1.5, 2.5, 3.5, 4.5});
    for (auto& sample : quiet)
        sample = static_cast<std::int16_t>(sample * 0.03);
    const std::pair<std::vector<std::int16_t>, bool> cases[] = {
        {toneWithGaps(5, {0.5, 1.5, 2.5, 3.5, 4.5}), true}, // syllables
        {quiet, false},                                     // below the speech level
        {toneWithGaps(5, {}), false},                       // a steady tone
        {std::vector<std::int16_t>(10, 8000), false},       // less than a window
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(SpeechSegments::hasSpeech(cases[i].first.data(), cases[i].first.size()),
                  cases[i].second)
            << i;
}

} // namespace
