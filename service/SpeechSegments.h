#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Where to cut a long recording into pieces the recogniser takes whole. A whole
// utterance lets the recogniser normalise the sound over all of it, which halves
// its errors on short dictations, but one call cannot be interrupted; pieces of
// about twenty seconds keep each call short enough to look at the deadline in
// between. Cuts fall in the quietest moment near each boundary, so words are
// rarely split.
namespace SpeechSegments {

inline constexpr std::size_t sampleRateHz = 16000;
inline constexpr std::size_t segmentSamples = 20 * sampleRateHz;
inline constexpr std::size_t searchSamples = 3 * sampleRateHz;  // either side of a boundary
inline constexpr std::size_t windowSamples = sampleRateHz / 20; // 50 ms of energy

// The start of every piece after the first, ascending; empty when the recording is
// short enough to be one piece.
std::vector<std::size_t> cuts(const std::vector<std::int16_t>& samples);

} // namespace SpeechSegments
