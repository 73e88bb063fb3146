#pragma once

#include <string>
#include <vector>

// Test recordings, made at test time in a private temporary folder with the same
// tools and settings the application records with (AAC in MPEG-4, 24 kHz mono,
// 64 kbit/s), so nothing binary is kept in the repository.
class TestMedia {
public:
    // The folder is removed with the object.
    TestMedia();
    ~TestMedia();
    TestMedia(const TestMedia&) = delete;
    TestMedia& operator=(const TestMedia&) = delete;

    const std::string& folder() const { return m_folder; }

    // Each returns the path of a new MPEG-4 file; throws std::runtime_error when a
    // tool fails. `sentence` may carry speech markup such as pauses; `indexFirst`
    // puts the index before the samples.
    std::string speech(const std::string& sentence, const std::string& name);
    std::string encodeWav(const std::string& wavPath, const std::string& name,
                          bool indexFirst = false);
    // A sound of GStreamer's test source: "silence", "white-noise", "pink-noise".
    std::string testSound(const std::string& wave, double seconds, const std::string& name);
    // The output of a gst-launch pipeline ending in a muxer.
    std::string launch(const std::string& pipeline, const std::string& name);

    // A spoken-word recording of the pocketsphinx test data and what is said in it.
    struct Reference {
        std::string wavPath;
        std::string transcript;
    };
    static std::vector<Reference> testDataRecordings();

    static std::string read(const std::string& path);

private:
    std::string m_folder;
};

// The recordings every service test shares, made once per test run.
namespace SharedMedia {

// Everyday sentences spoken by espeak-ng, each as "sentenceN.m4a" from "sentenceN.wav".
const std::vector<std::string>& sentences();

TestMedia& media();

// The MPEG-4 file of sentences()[index].
std::string sentenceFile(std::size_t index);

// A JSGF grammar accepting exactly sentences(), for exact recognition checks.
std::string grammarFile();

// Two seconds of silence.
std::string silenceFile();

// Everyday sentences spoken one after another with short pauses: a minute of
// speech.
const std::vector<std::string>& minuteOfSentences();
std::string minuteFile();

// Recordings no decoder should accept, each named for test messages: random bytes,
// random bytes behind an MPEG-4 file-type box, a file cut in half, a video without
// sound, and nothing at all.
struct Malformed {
    std::string name;
    std::string bytes;
};
std::vector<Malformed> malformed();

} // namespace SharedMedia
