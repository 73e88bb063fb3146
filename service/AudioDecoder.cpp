#include "AudioDecoder.h"

#include "GstHandles.h"
#include "RequestRefused.h"

#include <gio/gio.h>
#include <gst/app/gstappsink.h>

#include <chrono>
#include <cstring>

namespace {

// giostreamsrc reads the file straight from memory and lets the demuxer seek in it,
// which MPEG-4 files with their index at the end need. Only the elements AAC in
// MPEG-4 needs are named, so no other parser or decoder is ever loaded for what a
// client sends; the first audio track, and only it, is decoded, and anything but
// AAC in it fails to link.
constexpr const char* pipelineDescription =
    "giostreamsrc name=source ! qtdemux name=demux"
    " demux.audio_0 ! audio/mpeg,mpegversion=4 ! avdec_aac ! audioconvert ! audioresample"
    " ! audio/x-raw,format=S16LE,rate=16000,channels=1,layout=interleaved"
    " ! appsink name=sink sync=false max-buffers=64";

// Every ISO base media file starts with its file-type box.
constexpr std::size_t fileTypeOffset = 4;
constexpr const char* fileTypeBox = "ftyp";

[[noreturn]] void undecodable() {
    throw RequestRefused(RequestRefused::unprocessable,
                         "The audio is not an MPEG-4 file with a decodable audio track.");
}

[[noreturn]] void tooLong() {
    throw RequestRefused(RequestRefused::unprocessable, "The audio is longer than three minutes.");
}

[[noreturn]] void abandoned() {
    throw RequestRefused(RequestRefused::unavailable, "Decoding took too long and was abandoned.");
}

bool looksLikeMpeg4(std::string_view file) {
    return file.size() > fileTypeOffset + 4 && file.compare(fileTypeOffset, 4, fileTypeBox) == 0;
}

void appendSamples(GstSample* sample, std::vector<std::int16_t>& samples) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_READ))
        return;
    const std::size_t count = map.size / sizeof(std::int16_t);
    const std::size_t start = samples.size();
    samples.resize(start + count);
    std::memcpy(samples.data() + start, map.data, count * sizeof(std::int16_t));
    gst_buffer_unmap(buffer, &map);
}

} // namespace

void AudioDecoder::initialise() {
    gst_init(nullptr, nullptr);
}

std::vector<std::int16_t> AudioDecoder::decode(std::string_view file, Deadline deadline) {
    using namespace GstHandles;
    using Clock = std::chrono::steady_clock;

    if (!looksLikeMpeg4(file))
        undecodable();

    GError* parseError = nullptr;
    Element pipeline(gst_parse_launch(pipelineDescription, &parseError));
    Error parseErrorOwner(parseError);
    if (!pipeline || parseError)
        throw RequestRefused(RequestRefused::unavailable, "The audio decoder is not installed.");
    StoppedOnExit stopped(pipeline.get());

    Element source(gst_bin_get_by_name(GST_BIN(pipeline.get()), "source"));
    Element sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
    InputStream stream(g_memory_input_stream_new_from_data(
        file.data(), static_cast<gssize>(file.size()), nullptr));
    g_object_set(source.get(), "stream", stream.get(), nullptr);
    Bus bus(gst_element_get_bus(pipeline.get()));

    if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        undecodable();

    const std::size_t maximumSamples =
        static_cast<std::size_t>((maximumSeconds + toleranceSeconds) * sampleRateHz);
    std::vector<std::int16_t> samples;
    bool durationChecked = false;
    const auto started = Clock::now();
    const auto fellBehind = [&] {
        const double audioSeconds = static_cast<double>(samples.size()) / sampleRateHz;
        return Clock::now() - started >
               std::chrono::milliseconds(startAllowanceMs) +
                   std::chrono::duration<double>(audioSeconds / slowestRealTimeFactor);
    };

    while (true) {
        if (deadline.passed())
            abandoned();
        if (fellBehind())
            undecodable();
        Sample sample(gst_app_sink_try_pull_sample(GST_APP_SINK(sink.get()),
                                                   GstClockTime(pullWaitMs) * GST_MSECOND));
        if (sample) {
            if (!durationChecked) {
                // A file may declare a length it never delivers; believe the larger claim.
                durationChecked = true;
                gint64 declared = -1;
                if (gst_element_query_duration(pipeline.get(), GST_FORMAT_TIME, &declared) &&
                    declared > 0 &&
                    static_cast<double>(declared) / GST_SECOND > maximumSeconds + toleranceSeconds)
                    tooLong();
            }
            appendSamples(sample.get(), samples);
            if (samples.size() > maximumSamples)
                tooLong();
            continue;
        }
        // An error anywhere, even one that came with an end of stream, means the
        // samples so far are not the whole recording.
        Message message(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR));
        if (message)
            undecodable();
        if (gst_app_sink_is_eos(GST_APP_SINK(sink.get())))
            break;
    }
    // A file without a single decoded sample has no audio track worth the name, and
    // one that delivers clearly less than it declares was cut short.
    if (samples.empty())
        undecodable();
    gint64 declared = -1;
    if (gst_element_query_duration(pipeline.get(), GST_FORMAT_TIME, &declared) && declared > 0 &&
        static_cast<double>(samples.size()) / sampleRateHz <
            static_cast<double>(declared) / GST_SECOND - toleranceSeconds)
        undecodable();
    return samples;
}
