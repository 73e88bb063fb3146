#include "GStreamerRecorder.h"

#include "GStreamerHandles.h"

#include <QFile>
#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr GstClockTime meterIntervalNs = 100 * GST_MSECOND;
constexpr int sampleRateHz = 24000;
constexpr int channelCount = 1;
constexpr int bitRateBitsPerSecond = 64000;
constexpr mode_t fileMode = 0600;

// How long stop() waits for the muxer to write the end of the file.
constexpr std::chrono::milliseconds finaliseTimeout{2000};
// An input that delivered audio and then nothing for this long has stalled (a suspended
// or vanished device that reports no error).
constexpr std::chrono::milliseconds stallTimeout{500};
// How long prepareToRecord() waits for the sound server to take the connection. A server
// that has stopped answering would keep the caller waiting half a minute.
constexpr std::chrono::milliseconds connectTimeout{3000};
// How long record() waits for the first audio before it reports success anyway. An input
// that cannot start (no device at all, a device that refuses) fails within milliseconds,
// and so is reported as unavailable rather than as a recording interrupted a moment later.
constexpr std::chrono::milliseconds startTimeout{250};
// An input that never delivers a first buffer within this time has stalled too; an idle
// sound server can take one to two seconds to wake up, so this is generous.
constexpr std::chrono::milliseconds firstBufferTimeout{3000};

// What averagePower reports before the first reading and for channels the input lacks:
// the bottom of the usual meter scale.
constexpr float noPowerDb = -160.0f;

// Posted on the bus when the input delivers its first buffer.
constexpr const char* firstAudioMessage = "wispen-first-audio";

using Clock = std::chrono::steady_clock;

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// GStreamer is set up once per process, on first use.
bool gstReady() {
    static const bool ready = gst_init_check(nullptr, nullptr, nullptr) == TRUE;
    return ready;
}

// Every element the pipeline is built from, apart from a replaced input.
constexpr std::array elementNames{"pulsesrc",   "level",     "audioconvert", "audioresample",
                                  "capsfilter", "avenc_aac", "mp4mux",       "filesink"};

GstObjectPtr<GstElement> makeElement(const char* factory, const char* name = nullptr) {
    return gstSink(gst_element_factory_make(factory, name));
}

// The user's default microphone, or the pipeline description of sourceVariable.
GstObjectPtr<GstElement> makeSource(const char* variable) {
    const QByteArray description = qgetenv(variable).trimmed();
    if (description.isEmpty())
        return makeElement("pulsesrc", "source");
    GError* error = nullptr;
    auto bin = gstSink(gst_parse_bin_from_description(description.constData(), TRUE, &error));
    const GErrorPtr failure(error);
    if (failure)
        return {};
    return bin;
}

std::optional<std::vector<float>> readLevel(const GstStructure* structure) {
    const GValue* rms = gst_structure_get_value(structure, "rms");
    if (!rms || !G_VALUE_HOLDS_BOXED(rms))
        return std::nullopt;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    const auto* values = static_cast<const GValueArray*>(g_value_get_boxed(rms));
    std::vector<float> power;
    for (guint i = 0; values && i < values->n_values; ++i)
        power.push_back(static_cast<float>(g_value_get_double(&values->values[i])));
    G_GNUC_END_IGNORE_DEPRECATIONS
    return power;
}

} // namespace

// What one pass over the bus found out.
struct GStreamerRecorder::BusNews {
    std::optional<std::vector<float>> power;
    bool inputFailed = false;
    bool outputFailed = false;
    bool ended = false;
    bool started = false;
};

// The GStreamer side of the recorder: the elements we talk to after building, the bus,
// and what the streaming threads report. It never calls back into the recorder, so it
// can be released on another thread after the recorder is gone.
struct GStreamerRecorder::Pipeline {
    Pipeline() = default;

    ~Pipeline() {
        // The null state joins the streaming threads, so no callback runs after it.
        if (pipeline)
            gst_element_set_state(pipeline.get(), GST_STATE_NULL);
        // A prepared input was made ready on its own, while the pipeline stayed null.
        if (source)
            gst_element_set_state(source.get(), GST_STATE_NULL);
        if (probe)
            gst_pad_remove_probe(sourceOutput.get(), probe);
        if (deviceHandler)
            g_signal_handler_disconnect(source.get(), deviceHandler);
    }

    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    bool build(const QString& path) {
        pipeline = gstSink(gst_pipeline_new("recorder"));
        source = makeSource(GStreamerRecorder::sourceVariable);
        meter = makeElement("level", "meter");
        std::array rest{makeElement("audioconvert"), makeElement("audioresample"),
                        makeElement("capsfilter"),   makeElement("avenc_aac"),
                        makeElement("mp4mux"),       makeElement("filesink")};
        if (!pipeline || !source || !meter ||
            std::any_of(rest.begin(), rest.end(), [](const auto& e) { return !e; }))
            return false;

        auto& [convert, resample, format, encoder, muxer, file] = rest;
        g_object_set(meter.get(), "interval", meterIntervalNs, "post-messages", TRUE, nullptr);
        const GstCapsPtr caps(gst_caps_new_simple("audio/x-raw", "rate", G_TYPE_INT, sampleRateHz,
                                                  "channels", G_TYPE_INT, channelCount, nullptr));
        g_object_set(format.get(), "caps", caps.get(), nullptr);
        g_object_set(encoder.get(), "bitrate", bitRateBitsPerSecond, nullptr);
        g_object_set(file.get(), "location", QFile::encodeName(path).constData(), nullptr);

        GstBin* bin = GST_BIN(pipeline.get());
        gst_bin_add_many(bin, source.get(), meter.get(), convert.get(), resample.get(),
                         format.get(), encoder.get(), muxer.get(), file.get(), nullptr);
        if (!gst_element_link_many(source.get(), meter.get(), convert.get(), resample.get(),
                                   format.get(), encoder.get(), muxer.get(), file.get(), nullptr))
            return false;

        sourceOutput.reset(gst_element_get_static_pad(source.get(), "src"));
        meterInput.reset(gst_element_get_static_pad(meter.get(), "sink"));
        bus.reset(gst_element_get_bus(pipeline.get()));
        if (!sourceOutput || !meterInput || !bus)
            return false;
        probe = gst_pad_add_probe(sourceOutput.get(), GST_PAD_PROBE_TYPE_BUFFER,
                                  &Pipeline::onSourceBuffer, this, nullptr);
        if (g_object_class_find_property(G_OBJECT_GET_CLASS(source.get()), "current-device"))
            deviceHandler = g_signal_connect(source.get(), "notify::current-device",
                                             G_CALLBACK(&Pipeline::onCurrentDevice), this);
        return true;
    }

    // Adds what one message says to the news.
    void read(GstMessage* message, BusNews& news) const {
        switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ERROR: {
            GstObject* origin = GST_MESSAGE_SRC(message);
            const bool fromInput = origin == GST_OBJECT(source.get()) ||
                                   gst_object_has_as_ancestor(origin, GST_OBJECT(source.get()));
            (fromInput ? news.inputFailed : news.outputFailed) = true;
            break;
        }
        case GST_MESSAGE_EOS:
            news.ended = true;
            break;
        case GST_MESSAGE_APPLICATION: {
            const GstStructure* structure = gst_message_get_structure(message);
            if (structure && gst_structure_has_name(structure, firstAudioMessage))
                news.started = true;
            break;
        }
        case GST_MESSAGE_ELEMENT: {
            const GstStructure* structure = gst_message_get_structure(message);
            if (GST_MESSAGE_SRC(message) == GST_OBJECT(meter.get()) && structure &&
                gst_structure_has_name(structure, "level"))
                if (auto power = readLevel(structure))
                    news.power = std::move(power);
            break;
        }
        default:
            break;
        }
    }

    BusNews drain() const {
        BusNews news;
        while (const GstMessagePtr message{gst_bus_pop(bus.get())})
            read(message.get(), news);
        return news;
    }

    // Runs on the streaming thread for every buffer the input delivers.
    static GstPadProbeReturn onSourceBuffer(GstPad*, GstPadProbeInfo*, gpointer data) {
        auto* self = static_cast<Pipeline*>(data);
        const std::int64_t now = nowNs();
        std::int64_t none = 0;
        if (self->firstBuffer.compare_exchange_strong(none, now)) {
            GstObject* source = GST_OBJECT(self->source.get());
            gst_element_post_message(
                self->source.get(),
                gst_message_new_application(source, gst_structure_new_empty(firstAudioMessage)));
        }
        self->lastBuffer.store(now);
        return GST_PAD_PROBE_OK;
    }

    // Runs on the input's reading thread whenever the sound server reports a change of
    // our stream, the first time as the stream starts. The device is read here rather
    // than on the main thread: asking the server blocks while it does not answer.
    static void onCurrentDevice(GObject*, GParamSpec*, gpointer data) {
        auto* self = static_cast<Pipeline*>(data);
        gchar* name = nullptr;
        g_object_get(self->source.get(), "current-device", &name, nullptr);
        const GCharPtr owned(name);
        if (!name || !*name)
            return;
        const std::lock_guard lock(self->deviceLock);
        if (self->device.empty())
            self->device = name;
        else if (self->device != name)
            self->moved.store(true);
    }

    // Connects the input to the sound server on a GStreamer worker thread and waits for
    // it, within a bound. True when connected. On a failure the pipeline stays with the
    // caller; when the server does not answer in time, the worker takes it over and
    // releases it once the attempt ends, and `pipeline` is left empty.
    static bool connect(std::unique_ptr<Pipeline>& pipeline) {
        auto attempt = std::make_shared<Attempt>();
        gst_element_call_async(
            pipeline->source.get(),
            [](GstElement* source, gpointer data) {
                const auto attempt = *static_cast<std::shared_ptr<Attempt>*>(data);
                const bool connected =
                    gst_element_set_state(source, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
                std::unique_ptr<Pipeline> abandoned;
                {
                    const std::lock_guard lock(attempt->lock);
                    attempt->finished = true;
                    attempt->connected = connected;
                    abandoned = std::move(attempt->abandoned);
                }
                attempt->done.notify_all();
                if (abandoned)
                    release(std::move(abandoned));
            },
            new std::shared_ptr<Attempt>(attempt),
            [](gpointer data) { delete static_cast<std::shared_ptr<Attempt>*>(data); });
        std::unique_lock lock(attempt->lock);
        if (!attempt->done.wait_for(lock, connectTimeout, [&] { return attempt->finished; })) {
            attempt->abandoned = std::move(pipeline);
            return false;
        }
        return attempt->connected;
    }

    // Stops the pipeline and lets go of it on a GStreamer worker thread: leaving the
    // sound server waits for its answer, up to half a minute when it hangs.
    static void release(std::unique_ptr<Pipeline> pipeline) {
        if (!pipeline->pipeline)
            return;
        GstElement* element = pipeline->pipeline.get();
        gst_element_call_async(
            element, [](GstElement*, gpointer data) { delete static_cast<Pipeline*>(data); },
            pipeline.release(), nullptr);
    }

    GstObjectPtr<GstElement> pipeline;
    GstObjectPtr<GstElement> source;
    GstObjectPtr<GstElement> meter;
    GstObjectPtr<GstPad> sourceOutput;
    GstObjectPtr<GstPad> meterInput;
    GstObjectPtr<GstBus> bus;
    gulong probe = 0;
    gulong deviceHandler = 0;
    // Steady-clock nanoseconds of the first and the latest input buffer, 0 before the first.
    std::atomic<std::int64_t> firstBuffer{0};
    std::atomic<std::int64_t> lastBuffer{0};
    // One connection attempt, shared by the caller and the worker that makes it.
    struct Attempt {
        std::mutex lock;
        std::condition_variable done;
        bool finished = false;
        bool connected = false;
        std::unique_ptr<Pipeline> abandoned;
    };

    // The device the stream started on, and whether the server moved it to another one.
    std::mutex deviceLock;
    std::string device;
    std::atomic<bool> moved{false};
};

GStreamerRecorder::GStreamerRecorder(QString path, QObject* parent)
    : AudioRecorder(parent)
    , m_path(std::move(path)) {}

GStreamerRecorder::~GStreamerRecorder() {
    tearDown();
}

bool GStreamerRecorder::prepareToRecord() {
    if (m_state == State::prepared)
        return true;
    if (m_state != State::idle || !gstReady())
        return false;
    auto pipeline = std::make_unique<Pipeline>();
    if (!pipeline->build(m_path))
        return false;
    // Only the input goes to the ready state here: that connects to the sound server,
    // so a missing server fails now, while the file sink (which creates the file when
    // it gets ready) has not been touched.
    const bool connected = Pipeline::connect(pipeline);
    m_pipeline = std::move(pipeline);
    if (!connected) {
        tearDown();
        return false;
    }
    m_state = State::prepared;
    return true;
}

bool GStreamerRecorder::record() {
    if (m_state == State::idle && !prepareToRecord())
        return false;
    if (m_state != State::prepared)
        return false;
    m_started = Clock::now();
    const bool started = createFile() &&
                         gst_element_set_state(m_pipeline->pipeline.get(), GST_STATE_PLAYING) !=
                             GST_STATE_CHANGE_FAILURE &&
                         awaitStart();
    if (!started) {
        tearDown();
        if (m_fileCreated)
            QFile::remove(m_path);
        m_state = State::stopped;
        return false;
    }
    return true;
}

bool GStreamerRecorder::awaitStart() {
    m_state = State::recording;
    const auto deadline = m_started + startTimeout;
    while (!hasCapturedAudio()) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero())
            return true;
        const GstMessagePtr message{gst_bus_timed_pop_filtered(
            m_pipeline->bus.get(),
            std::chrono::duration_cast<std::chrono::nanoseconds>(left).count(),
            static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS |
                                        GST_MESSAGE_APPLICATION))};
        if (!message)
            return true;
        BusNews news;
        m_pipeline->read(message.get(), news);
        apply(news);
        if (news.inputFailed || news.outputFailed)
            return false;
        if (news.started || news.ended)
            return true;
    }
    return true;
}

bool GStreamerRecorder::stop() {
    if (m_state == State::stopped)
        return m_finalised;
    if (m_state == State::recording || m_state == State::interrupted) {
        currentTime();
        drainBus();
        m_finalised = finalise();
    }
    tearDown();
    m_state = State::stopped;
    return m_finalised;
}

bool GStreamerRecorder::finalise() {
    if (m_outputFailed)
        return false;
    // End-of-stream goes into the meter rather than to the pipeline: a stalled input
    // would never pass it on, and the caller would hang.
    if (!m_endOfStream)
        gst_pad_send_event(m_pipeline->meterInput.get(), gst_event_new_eos());
    const auto deadline = Clock::now() + finaliseTimeout;
    while (!m_endOfStream) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero())
            return false;
        const GstMessagePtr message{gst_bus_timed_pop_filtered(
            m_pipeline->bus.get(),
            std::chrono::duration_cast<std::chrono::nanoseconds>(left).count(),
            static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR))};
        if (!message)
            return false;
        BusNews news;
        m_pipeline->read(message.get(), news);
        if (news.outputFailed)
            return false;
        m_endOfStream = news.ended;
    }
    return true;
}

bool GStreamerRecorder::isRecording() const {
    return m_state == State::recording && !moved() && !stalled();
}

double GStreamerRecorder::currentTime() const {
    if (m_pipeline && (m_state == State::recording || m_state == State::interrupted)) {
        gint64 position = 0;
        if (gst_element_query_position(m_pipeline->pipeline.get(), GST_FORMAT_TIME, &position) &&
            position > 0)
            m_seconds = std::max(m_seconds, static_cast<double>(position) / GST_SECOND);
    }
    return m_seconds;
}

void GStreamerRecorder::updateMeters() {
    if (!m_pipeline || (m_state != State::recording && m_state != State::interrupted))
        return;
    drainBus();
    if (m_state == State::recording && (moved() || stalled()))
        m_state = State::interrupted;
}

float GStreamerRecorder::averagePower(int channel) const {
    if (channel < 0 || static_cast<std::size_t>(channel) >= m_power.size())
        return noPowerDb;
    return m_power[static_cast<std::size_t>(channel)];
}

bool GStreamerRecorder::hasCapturedAudio() const {
    return m_capturedAudio || (m_pipeline && m_pipeline->firstBuffer.load() != 0);
}

void GStreamerRecorder::drainBus() {
    apply(m_pipeline->drain());
}

void GStreamerRecorder::apply(const BusNews& news) {
    if (news.power)
        m_power = *news.power;
    m_endOfStream = m_endOfStream || news.ended;
    m_outputFailed = m_outputFailed || news.outputFailed;
    // An input that failed or ended by itself, or an output that failed, ends the
    // recording early.
    if (m_state == State::recording && (news.inputFailed || news.outputFailed || news.ended))
        m_state = State::interrupted;
}

bool GStreamerRecorder::moved() const {
    // The sound server moved the stream to another device (the microphone was unplugged
    // or removed): what follows is not what the user was recording.
    return m_pipeline && m_pipeline->moved.load();
}

bool GStreamerRecorder::createFile() {
    // Made here with owner-only permissions before the file sink opens it, so the
    // recording is never readable by others, whatever the umask.
    const int fd = ::open(QFile::encodeName(m_path).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, fileMode);
    if (fd < 0)
        return false;
    m_fileCreated = true;
    const bool restricted = ::fchmod(fd, fileMode) == 0;
    ::close(fd);
    return restricted;
}

void GStreamerRecorder::tearDown() {
    if (!m_pipeline)
        return;
    m_capturedAudio = hasCapturedAudio();
    Pipeline::release(std::move(m_pipeline));
}

bool GStreamerRecorder::stalled() const {
    if (!m_pipeline)
        return false;
    const std::int64_t last = m_pipeline->lastBuffer.load();
    if (last == 0)
        return Clock::now() - m_started > firstBufferTimeout;
    return std::chrono::nanoseconds(nowNs() - last) > stallTimeout;
}

void preloadGStreamerRecorder() {
    if (!gstReady())
        return;
    for (const char* name : elementNames)
        if (const GstObjectPtr<GstElementFactory> factory{gst_element_factory_find(name)})
            const GstObjectPtr<GstPluginFeature> loaded{
                gst_plugin_feature_load(GST_PLUGIN_FEATURE(factory.get()))};
}

std::unique_ptr<AudioRecorder> makeGStreamerRecorder(const QString& path) {
    return std::make_unique<GStreamerRecorder>(path);
}
