#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The rules for the body of POST /api/transcribe: one JSON object carrying the
// recording in Base64 ("audio") and its media type ("mimeType", "audio/mp4").
namespace TranscribeRequest {

// The largest recording accepted, in bytes (3 MiB).
inline constexpr std::size_t maximumAudioBytes = 3145728;

// Why a body or its audio is too large, for the reply.
inline constexpr const char* tooLargeReason = "The audio is longer than 3 MiB.";

// Room for the JSON around the Base64 text: member names, the media type, and the
// white space a pretty-printing client may add.
inline constexpr std::size_t envelopeAllowanceBytes = 1024;

// The largest body that can carry maximumAudioBytes of audio: its Base64 text with
// every character an escaped slash ("\/", two bytes each) plus the envelope. A
// body declared longer is refused before it is read.
constexpr std::size_t maximumBodyBytes() {
    const std::size_t base64Length = (maximumAudioBytes + 2) / 3 * 4;
    return 2 * base64Length + envelopeAllowanceBytes;
}

// The recording carried by a body. Throws RequestRefused: 400 when the body is not
// a JSON object with a string "mimeType" naming MPEG-4 audio and a string "audio"
// in padded standard Base64; 413 when the audio is longer than maximumAudioBytes.
std::string audio(std::string_view body);

} // namespace TranscribeRequest
