#include "AudioDecoder.h"
#include "RequestRefused.h"
#include "SharedMedia.h"

#include <gtest/gtest.h>

namespace {

// The seconds a decoding of `file` gives, or minus the status of its refusal.
double secondsOr(const std::string& file,
                 std::chrono::milliseconds limit = std::chrono::minutes(1)) {
    try {
        return static_cast<double>(AudioDecoder::decode(file, Deadline::after(limit)).size()) /
               AudioDecoder::sampleRateHz;
    } catch (const RequestRefused& refused) {
        return -refused.status();
    }
}

class AudioDecoderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { AudioDecoder::initialise(); }
};

TEST_F(AudioDecoderTest, RecordingsOfUpToThreeMinutesDecodeToTheirLength) {
    const std::string audio = TestMedia::read(SharedMedia::sentenceFile(1));
    const std::string wav = SharedMedia::media().folder() + "/sentence1.wav";
    EXPECT_NEAR(secondsOr(audio), static_cast<double>(TestMedia::read(wav).size() - 44) / 2 / 22050,
                0.1);
    EXPECT_EQ(secondsOr(audio, std::chrono::milliseconds(0)), -503) << "past its deadline";
    TestMedia& media = SharedMedia::media();
    EXPECT_NEAR(secondsOr(TestMedia::read(media.testSound("silence", 180, "limit"))), 180, 0.2);
    EXPECT_EQ(secondsOr(TestMedia::read(media.testSound("silence", 181.5, "over"))), -422);
    // The index before the samples lets a demuxer start; the missing end must still show.
    const std::string indexed = TestMedia::read(media.encodeWav(wav, "indexed", true));
    EXPECT_GT(secondsOr(indexed), 0);
    EXPECT_EQ(secondsOr(indexed.substr(0, indexed.size() / 2)), -422);
}

TEST_F(AudioDecoderTest, OnlyTheFirstAacTrackIsDecodedAndBrokenHeadersFailAtOnce) {
    const std::string sentence = TestMedia::read(SharedMedia::sentenceFile(0));
    std::string zeroScale = sentence;
    for (const char* box : {"mvhd", "mdhd"})
        for (auto at = zeroScale.find(box); at != std::string::npos;
             at = zeroScale.find(box, at + 1))
            zeroScale.replace(at + 16, 4, 4, '\0');
    // Well inside the ten seconds a stalled demuxer once held a worker for.
    EXPECT_EQ(secondsOr(zeroScale, std::chrono::seconds(3)), -422);
    TestMedia& media = SharedMedia::media();
    EXPECT_EQ(secondsOr(TestMedia::read(
                  media.launch("audiotestsrc num-buffers=20 ! lamemp3enc ! mp4mux", "mp3"))),
              -422);
    const std::string aac = " ! audioconvert ! audioresample ! audio/x-raw,rate=24000,channels=1"
                            " ! avenc_aac bitrate=64000";
    const std::string twoTracks = TestMedia::read(media.launch(
        "filesrc location=" + media.folder() + "/sentence0.wav ! wavparse" + aac +
            " ! m. audiotestsrc wave=silence num-buffers=50" + aac + " ! mp4mux name=m",
        "two-tracks"));
    const auto first = AudioDecoder::decode(sentence, Deadline::after(std::chrono::minutes(1)));
    for (int round = 0; round < 2; ++round)
        EXPECT_EQ(AudioDecoder::decode(twoTracks, Deadline::after(std::chrono::minutes(1))), first);
}

} // namespace
