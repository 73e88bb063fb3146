#include "AudioDecoder.h"
#include "RequestRefused.h"
#include "SharedMedia.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

namespace {

// The seconds a decoding of `file` gives, or minus the status of its refusal.
double secondsOr(const std::string& file,
                 std::chrono::milliseconds limit = std::chrono::minutes(1)) {
    AudioDecoder::initialise();
    try {
        return static_cast<double>(AudioDecoder::decode(file, Deadline::after(limit)).size()) /
               AudioDecoder::sampleRateHz;
    } catch (const RequestRefused& refused) {
        return -refused.status();
    }
}

TEST(AudioDecoder, RecordingsOfUpToThreeMinutesDecodeToTheirLength) {
    EXPECT_NEAR(secondsOr(SharedMedia::read(SharedMedia::testSound("silence", 180, "limit"))), 180,
                0.2);
    EXPECT_EQ(secondsOr(SharedMedia::read(SharedMedia::testSound("silence", 181.5, "over"))), -422);
    // The index before the samples lets a demuxer start; the missing end must still show.
    const auto wav = std::filesystem::path(SharedMedia::sentenceFile(1)).replace_extension(".wav");
    const std::string indexed = SharedMedia::read(SharedMedia::encodeWav(wav, "indexed", true));
    EXPECT_GT(secondsOr(indexed), 0);
    EXPECT_EQ(secondsOr(indexed, std::chrono::milliseconds(0)), -503) << "past its deadline";
    EXPECT_EQ(secondsOr(indexed.substr(0, indexed.size() / 2)), -422);
}

TEST(AudioDecoder, OnlyTheFirstAacTrackIsDecodedAndAnythingElseIsRefused) {
    const std::string sentence = SharedMedia::read(SharedMedia::sentenceFile(0));
    std::string zeroScale = sentence;
    for (const char* box : {"mvhd", "mdhd"})
        for (auto at = zeroScale.find(box); at != std::string::npos;
             at = zeroScale.find(box, at + 1))
            zeroScale.replace(at + 16, 4, 4, '\0');
    // Well inside the ten seconds a stalled demuxer once held a worker for.
    EXPECT_EQ(secondsOr(zeroScale, std::chrono::seconds(3)), -422);
    std::mt19937 generator(1);
    std::string noise(20000, '\0');
    for (char& c : noise)
        c = static_cast<char>(generator());
    const std::pair<const char*, std::string> refused[] = {
        {"no bytes", ""},
        {"random bytes behind a file-type box", std::string("\0\0\0\x14"
                                                            "ftypmp42",
                                                            12) +
                                                    noise},
        {"MP3", SharedMedia::read(SharedMedia::launch(
                    "audiotestsrc num-buffers=20 ! lamemp3enc ! mp4mux", "mp3"))},
        {"a video without sound", SharedMedia::read(SharedMedia::launch(
                                      "videotestsrc num-buffers=10 ! video/x-raw,width=64,height=64"
                                      " ! videoconvert ! avenc_mpeg4 ! mp4mux",
                                      "video-only"))},
    };
    for (const auto& [name, bytes] : refused)
        EXPECT_EQ(secondsOr(bytes), -422) << name;
    const std::string twoTracks = SharedMedia::read(SharedMedia::launch(
        "filesrc location=" + SharedMedia::folder() + "/sentence0.wav ! wavparse" +
            SharedMedia::aacEncoder + " ! m. audiotestsrc wave=silence num-buffers=50" +
            SharedMedia::aacEncoder + " ! mp4mux name=m",
        "two-tracks"));
    const auto first = AudioDecoder::decode(sentence, Deadline::after(std::chrono::minutes(1)));
    for (int round = 0; round < 2; ++round)
        EXPECT_EQ(AudioDecoder::decode(twoTracks, Deadline::after(std::chrono::minutes(1))), first);
}

} // namespace
