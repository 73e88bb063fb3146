#include "AudioDecoder.h"
#include "RequestRefused.h"
#include "SharedMedia.h"

#include <gtest/gtest.h>

namespace {

constexpr auto generous = std::chrono::seconds(60);

class AudioDecoderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { AudioDecoder::initialise(); }

    static int refusal(const std::string& file, Deadline deadline = Deadline::after(generous)) {
        try {
            AudioDecoder::decode(file, deadline);
            return 200;
        } catch (const RequestRefused& refused) {
            return refused.status();
        }
    }
};

TEST_F(AudioDecoderTest, SpeechBecomesSixteenKilohertzSamplesOfTheSameLength) {
    const std::string wav = SharedMedia::media().folder() + "/sentence0.wav";
    SharedMedia::sentenceFile(0);
    const double spokenSec = static_cast<double>(TestMedia::read(wav).size() - 44) / 2 / 22050;
    const auto samples = AudioDecoder::decode(TestMedia::read(SharedMedia::sentenceFile(0)),
                                              Deadline::after(generous));
    EXPECT_NEAR(static_cast<double>(samples.size()) / AudioDecoder::sampleRateHz, spokenSec, 0.1);
}

TEST_F(AudioDecoderTest, ThreeMinutesAreAcceptedAndMoreAreNot) {
    const auto atLimit = AudioDecoder::decode(
        TestMedia::read(SharedMedia::media().silence(180.0, "limit")), Deadline::after(generous));
    EXPECT_NEAR(static_cast<double>(atLimit.size()) / AudioDecoder::sampleRateHz, 180.0, 0.2);
    EXPECT_EQ(refusal(TestMedia::read(SharedMedia::media().silence(181.5, "over-limit"))), 422);
}

TEST_F(AudioDecoderTest, AFileCutShortAfterAnIndexAtTheStartIsUnprocessable) {
    // The index before the samples lets a demuxer start; the missing end must still show.
    const std::string wav = SharedMedia::media().folder() + "/sentence1.wav";
    SharedMedia::sentenceFile(1);
    const std::string indexed = SharedMedia::media().folder() + "/indexed.m4a";
    runTool({"gst-launch-1.0",
             "-q",
             "filesrc",
             "location=" + wav,
             "!",
             "wavparse",
             "!",
             "audioconvert",
             "!",
             "audioresample",
             "!",
             "audio/x-raw,rate=24000,channels=1",
             "!",
             "avenc_aac",
             "bitrate=64000",
             "!",
             "mp4mux",
             "faststart=true",
             "!",
             "filesink",
             "location=" + indexed});
    const std::string whole = TestMedia::read(indexed);
    EXPECT_EQ(refusal(whole), 200);
    EXPECT_EQ(refusal(whole.substr(0, whole.size() / 2)), 422);
}

TEST_F(AudioDecoderTest, APassedDeadlineAbandonsTheWork) {
    EXPECT_EQ(refusal(TestMedia::read(SharedMedia::sentenceFile(0)),
                      Deadline::after(std::chrono::milliseconds(0))),
              503);
}

} // namespace
