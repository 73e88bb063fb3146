#pragma once

#include <string>
#include <vector>

// Test recordings, made at test time in a private temporary folder with the same
// tools and settings the application records with (AAC in MPEG-4, 24 kHz mono,
// 64 kbit/s), so nothing binary is kept in the repository. The recordings the
// service tests share are made once per test run.
namespace SharedMedia {

// The application's recording settings, between a raw audio source and the muxer.
inline constexpr const char* aacEncoder =
    " ! audioconvert ! audioresample ! audio/x-raw,rate=24000,channels=1"
    " ! avenc_aac bitrate=64000";

// The folder, removed when the test run ends.
const std::string& folder();

// Each returns the path of a new MPEG-4 file in folder(); throws std::runtime_error
// when a tool fails. `sentence` may carry speech markup such as pauses;
// `indexFirst` puts the index before the samples.
std::string speech(const std::string& sentence, const std::string& name);
std::string encodeWav(const std::string& wavPath, const std::string& name, bool indexFirst = false);
// A sound of GStreamer's test source: "silence", "white-noise", "pink-noise".
std::string testSound(const std::string& wave, double seconds, const std::string& name);
// The output of a gst-launch pipeline ending in a muxer.
std::string launch(const std::string& pipeline, const std::string& name);

std::string read(const std::string& path);

// A spoken-word recording of the pocketsphinx test data and what is said in it.
struct Reference {
    std::string wavPath;
    std::string transcript;
};
std::vector<Reference> testDataRecordings();

// Everyday sentences spoken by espeak-ng, each as "sentenceN.m4a" from "sentenceN.wav".
const std::vector<std::string>& sentences();

// The MPEG-4 file of sentences()[index].
std::string sentenceFile(std::size_t index);

// A JSGF grammar accepting exactly sentences(), for exact recognition checks.
std::string grammarFile();

// Two seconds of silence.
std::string silenceFile();

// Everyday sentences spoken one after another with short pauses: a minute of
// speech.
std::vector<std::string> minuteOfSentences();
std::string minuteFile();

} // namespace SharedMedia
