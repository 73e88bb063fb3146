#pragma once

#include "Deadline.h"

#include <cstdint>
#include <string_view>
#include <vector>

// Turns the bytes of an MPEG-4 audio file into 16 kHz mono 16-bit samples, in
// memory, with GStreamer. Nothing touches the disk.
namespace AudioDecoder {

inline constexpr int sampleRateHz = 16000;

// The longest recording accepted, and the slack allowed around a length: above the
// limit for the encoder's priming and last frame, so that a recording stopped at the
// limit still passes, and below the length a file declares before it counts as cut
// short.
inline constexpr double maximumSeconds = 180.0;
inline constexpr double toleranceSeconds = 1.0;

// How long one pull of decoded samples waits. A decode must keep pace with the audio
// it yields: after a start-up allowance, every second spent must have produced at
// least `slowestRealTimeFactor` seconds of audio (a healthy decode runs hundreds of
// times faster than real time, also on a busy machine). A file that stops making
// progress therefore holds a worker for seconds, never for the request's whole time
// limit, and then counts as undecodable.
inline constexpr int pullWaitMs = 100;
inline constexpr int startAllowanceMs = 2000;
inline constexpr double slowestRealTimeFactor = 20.0;

// Call once per process before the first decode.
void initialise();

// The samples of `file`. Throws RequestRefused: 422 when it is not an MPEG-4 file
// with a decodable audio track, when it delivers less than it declares, or when it
// declares or yields more than maximumSeconds (+ tolerance) of audio; 503 when
// `deadline` passes first.
std::vector<std::int16_t> decode(std::string_view file, Deadline deadline);

} // namespace AudioDecoder
