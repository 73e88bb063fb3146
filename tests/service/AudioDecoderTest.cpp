#include "AudioDecoder.h"
#include "RequestRefused.h"
#include "SharedMedia.h"

#include <gtest/gtest.h>

namespace {

constexpr auto generous = std::chrono::seconds(60);

// The status a decoding of `file` ends with: 200 or that of its refusal.
int statusOf(const std::string& file, Deadline deadline = Deadline::after(generous)) {
    try {
        AudioDecoder::decode(file, deadline);
        return 200;
    } catch (const RequestRefused& refused) {
        return refused.status();
    }
}

double secondsOf(const std::vector<std::int16_t>& samples) {
    return static_cast<double>(samples.size()) / AudioDecoder::sampleRateHz;
}

class AudioDecoderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { AudioDecoder::initialise(); }
};

TEST_F(AudioDecoderTest, SpeechBecomesSixteenKilohertzSamplesOfTheSameLength) {
    const std::string audio = TestMedia::read(SharedMedia::sentenceFile(0));
    const std::string wav = TestMedia::read(SharedMedia::media().folder() + "/sentence0.wav");
    const double spokenSec = static_cast<double>(wav.size() - 44) / 2 / 22050;
    EXPECT_NEAR(secondsOf(AudioDecoder::decode(audio, Deadline::after(generous))), spokenSec, 0.1);
}

TEST_F(AudioDecoderTest, ThreeMinutesAreAcceptedAndMoreAreNot) {
    const auto atLimit = AudioDecoder::decode(
        TestMedia::read(SharedMedia::media().silence(180.0, "limit")), Deadline::after(generous));
    EXPECT_NEAR(secondsOf(atLimit), 180.0, 0.2);
    EXPECT_EQ(statusOf(TestMedia::read(SharedMedia::media().silence(181.5, "over-limit"))), 422);
}

TEST_F(AudioDecoderTest, AFileCutShortAfterAnIndexAtTheStartIsUnprocessable) {
    // The index before the samples lets a demuxer start; the missing end must still show.
    SharedMedia::sentenceFile(1);
    const std::string whole = TestMedia::read(SharedMedia::media().encodeWav(
        SharedMedia::media().folder() + "/sentence1.wav", "indexed", true));
    EXPECT_EQ(statusOf(whole), 200);
    EXPECT_EQ(statusOf(whole.substr(0, whole.size() / 2)), 422);
}

TEST_F(AudioDecoderTest, OnlyTheFirstAacTrackIsDecodedAndBrokenHeadersFailAtOnce) {
    const std::string sentence = TestMedia::read(SharedMedia::sentenceFile(0));
    std::string zeroScale = sentence;
    for (const char* box : {"mvhd", "mdhd"})
        for (auto at = zeroScale.find(box); at != std::string::npos;
             at = zeroScale.find(box, at + 1))
            zeroScale.replace(at + 16, 4, 4, '\0');
    TestMedia& media = SharedMedia::media();
    const std::string aac = " ! audioconvert ! audioresample ! audio/x-raw,rate=24000,channels=1"
                            " ! avenc_aac bitrate=64000";
    const std::string twoTracks = TestMedia::read(media.launch(
        "filesrc location=" + media.folder() + "/sentence0.wav ! wavparse" + aac +
            " ! m. audiotestsrc wave=silence num-buffers=50" + aac + " ! mp4mux name=m",
        "two-tracks"));
    // Well inside the ten seconds a stalled demuxer once held a worker for.
    EXPECT_EQ(statusOf(zeroScale, Deadline::after(std::chrono::seconds(3))), 422);
    EXPECT_EQ(statusOf(TestMedia::read(
                  media.launch("audiotestsrc num-buffers=20 ! lamemp3enc ! mp4mux", "mp3"))),
              422);
    const auto first = AudioDecoder::decode(sentence, Deadline::after(generous));
    for (int round = 0; round < 3; ++round)
        EXPECT_EQ(AudioDecoder::decode(twoTracks, Deadline::after(generous)), first);
}

TEST_F(AudioDecoderTest, APassedDeadlineAbandonsTheWork) {
    EXPECT_EQ(statusOf(TestMedia::read(SharedMedia::sentenceFile(0)),
                       Deadline::after(std::chrono::milliseconds(0))),
              503);
}

} // namespace
