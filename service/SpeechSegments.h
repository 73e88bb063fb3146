#pragma once

#include "Deadline.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Where to cut a long recording into pieces the recogniser takes whole. A whole
// utterance lets the recogniser normalise the sound over all of it, which halves
// its errors on short dictations, but one call cannot be interrupted; pieces of
// about twenty seconds keep each call short enough to look at the deadline in
// between. Cuts fall in the quietest moment near each boundary, so words are
// rarely split. Moonshine base, on a minute of sentences with short pauses, made
// 9 % errors in pieces of ten seconds, 4.4 % in twenty and 3.8 % in thirty: twenty
// keeps the deadline checks close at nearly the best accuracy.
namespace SpeechSegments {

inline constexpr std::size_t sampleRateHz = 16000;
inline constexpr std::size_t segmentSamples = 20 * sampleRateHz;
inline constexpr std::size_t searchSamples = 3 * sampleRateHz;  // either side of a boundary
inline constexpr std::size_t windowSamples = sampleRateHz / 20; // 50 ms of energy
inline constexpr double speechLevel = 300;   // root mean square, about -40 dB full scale
inline constexpr double speechOverNoise = 4; // energy, loud over quiet windows: 6 dB

// The start of every piece after the first, ascending; empty when the recording is
// short enough to be one piece.
std::vector<std::size_t> cuts(const std::vector<std::int16_t>& samples);

// The words `recognisePiece` finds in each piece, joined by spaces; throws
// RequestRefused (503) when the deadline passes, which is checked between pieces.
std::string recogniseInPieces(
    const std::vector<std::int16_t>& samples, Deadline deadline,
    const std::function<std::string(const std::int16_t* piece, std::size_t count)>& recognisePiece);

// The middle of the quietest window between `from` and `to`, the middle of the
// span when it is shorter than a window.
std::size_t quietest(const std::int16_t* samples, std::size_t from, std::size_t to);

// Whether a piece holds speech rather than silence or steady noise: some of its
// windows must be loud, and louder by a margin than its quiet ones, since speech
// comes in syllables while hiss and hum stay level.
bool hasSpeech(const std::int16_t* samples, std::size_t count);

} // namespace SpeechSegments
