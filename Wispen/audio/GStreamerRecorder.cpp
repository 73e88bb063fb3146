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

// The longest the main thread waits in prepareToRecord() for the sound server to take
// the connection, and in record() for the input to start or fail; together well under
// the 50 ms a frozen interface starts to show. A server that answers at once (refusing,
// or with no input device) is reported as unavailable right there; a slower one is
// waited for on a worker thread, and if it never comes the recording stalls without
// audio.
constexpr std::chrono::milliseconds connectWait{15};
constexpr std::chrono::milliseconds startWait{20};
// How long after stop() the recording goes on. Sound reaches us through the sound
// server's buffers some milliseconds after it was made, and a word that ends right at
// the release loses its last sound without this; the time stamps of the input cover
// the rest of the way.
constexpr std::chrono::milliseconds releaseTail{100};
// How long after the end of the tail the input may take to deliver the audio stamped
// before it; one that takes longer has stalled, and the file ends with what came.
constexpr std::chrono::milliseconds drainTimeout{500};
// How long the muxer may take to write the end of the file once the stream ended.
constexpr std::chrono::milliseconds finaliseTimeout{2000};
// How often a stopped recording is looked at until its file is finished.
constexpr std::chrono::milliseconds finishPollInterval{5};
// An input that delivered audio and then nothing for this long has stalled (a suspended
// or vanished device that reports no error).
constexpr std::chrono::milliseconds stallTimeout{500};
// An input that never delivers a first buffer within this time has stalled too; an idle
// sound server can take one to two seconds to wake up, and a hung one never answers.
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
// and what the streaming and worker threads report. It never calls back into the
// recorder. The recorder and the jobs it gives to worker threads share it, and the last
// of them to let go releases it, always on a worker thread: stopping the pipeline waits
// for the sound server's answer, up to half a minute when it hangs.
struct GStreamerRecorder::Pipeline {
    // How far the input got in starting.
    enum class Start { connecting, connected, playing, failed };

    Pipeline() = default;

    ~Pipeline() {
        // The null state joins the streaming threads, so no callback runs after it.
        if (pipeline)
            gst_element_set_state(pipeline.get(), GST_STATE_NULL);
        // A prepared input was made ready on its own, while the pipeline stayed null.
        if (source)
            gst_element_set_state(source.get(), GST_STATE_NULL);
        if (bufferProbe)
            gst_pad_remove_probe(sourceOutput.get(), bufferProbe);
        if (eventProbe)
            gst_pad_remove_probe(sourceOutput.get(), eventProbe);
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
        bufferProbe = gst_pad_add_probe(sourceOutput.get(), GST_PAD_PROBE_TYPE_BUFFER,
                                        &Pipeline::onSourceBuffer, this, nullptr);
        eventProbe = gst_pad_add_probe(sourceOutput.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM,
                                       &Pipeline::onSourceEvent, this, nullptr);
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

    // Runs on the streaming thread for every buffer the input delivers. Once an end is
    // set, the first buffer stamped at or after it ends the stream instead of passing:
    // everything captured before the end goes into the file, however late it arrives.
    static GstPadProbeReturn onSourceBuffer(GstPad*, GstPadProbeInfo* info, gpointer data) {
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
        const GstClockTime pts = GST_BUFFER_PTS(GST_PAD_PROBE_INFO_BUFFER(info));
        if (GST_CLOCK_TIME_IS_VALID(pts) && pts < self->end.load())
            return GST_PAD_PROBE_OK;
        self->endStream();
        return GST_PAD_PROBE_DROP;
    }

    // An input that ends before its first buffer has nothing for the file, and the
    // meter, which has not seen the format yet, would divide by a rate of zero.
    static GstPadProbeReturn onSourceEvent(GstPad*, GstPadProbeInfo* info, gpointer data) {
        const auto* self = static_cast<Pipeline*>(data);
        const bool early = GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS &&
                           self->firstBuffer.load() == 0;
        return early ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
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

    // Ends the stream after the audio that passed so far; only the first call counts.
    void endStream() {
        bool ended = false;
        if (streamEnded.compare_exchange_strong(ended, true))
            gst_pad_send_event(meterInput.get(), gst_event_new_eos());
    }

    // Sets the end `tail` after the current instant of the pipeline's clock.
    void endAfter(std::chrono::nanoseconds tail) {
        GstClockTime now = 0;
        if (const GstObjectPtr<GstClock> clock{gst_element_get_clock(pipeline.get())})
            now = gst_clock_get_time(clock.get()) - gst_element_get_base_time(pipeline.get());
        end.store(now + static_cast<GstClockTime>(tail.count()));
    }

    // Runs `work` with the pipeline on a GStreamer worker thread; the job holds the
    // pipeline until it is done.
    template <typename Work> static void onWorker(std::shared_ptr<Pipeline> self, Work work) {
        struct Job {
            std::shared_ptr<Pipeline> pipeline;
            Work work;
        };
        GstElement* element = self->pipeline.get();
        gst_element_call_async(
            element,
            [](GstElement*, gpointer data) {
                auto* job = static_cast<Job*>(data);
                job->work(*job->pipeline);
            },
            new Job{std::move(self), std::move(work)},
            [](gpointer data) { delete static_cast<Job*>(data); });
    }

    // Connects the input to the sound server.
    static void connect(std::shared_ptr<Pipeline> self) {
        onWorker(std::move(self), [](Pipeline& p) {
            const bool connected =
                gst_element_set_state(p.source.get(), GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
            p.settle(connected ? Start::connected : Start::failed);
        });
    }

    // Starts the whole pipeline once the input is connected, unless it was let go.
    static void play(std::shared_ptr<Pipeline> self) {
        onWorker(std::move(self), [](Pipeline& p) {
            if (p.waitWhile(Start::connecting) != Start::connected || p.released.load())
                return;
            const bool playing = gst_element_set_state(p.pipeline.get(), GST_STATE_PLAYING) !=
                                 GST_STATE_CHANGE_FAILURE;
            p.settle(playing ? Start::playing : Start::failed);
        });
    }

    // Lets go of the recorder's share; the pipeline is stopped and freed on a worker
    // thread once no job holds it any more.
    static void release(std::shared_ptr<Pipeline> self) {
        self->released.store(true);
        if (self->pipeline)
            onWorker(std::move(self), [](Pipeline&) {});
    }

    void settle(Start state) {
        {
            const std::lock_guard lock(startLock);
            start = state;
        }
        started.notify_all();
    }

    // Waits while the start is in `state`, at most `timeout`; answers where it got.
    Start waitWhile(Start state, std::chrono::nanoseconds timeout = std::chrono::hours(1)) {
        std::unique_lock lock(startLock);
        started.wait_for(lock, timeout, [&] { return start != state; });
        return start;
    }

    Start startState() {
        const std::lock_guard lock(startLock);
        return start;
    }

    GstObjectPtr<GstElement> pipeline;
    GstObjectPtr<GstElement> source;
    GstObjectPtr<GstElement> meter;
    GstObjectPtr<GstPad> sourceOutput;
    GstObjectPtr<GstPad> meterInput;
    GstObjectPtr<GstBus> bus;
    gulong bufferProbe = 0;
    gulong eventProbe = 0;
    gulong deviceHandler = 0;
    // Steady-clock nanoseconds of the first and the latest input buffer, 0 before the first.
    std::atomic<std::int64_t> firstBuffer{0};
    std::atomic<std::int64_t> lastBuffer{0};
    // The running time from which input buffers no longer go into the file.
    std::atomic<GstClockTime> end{GST_CLOCK_TIME_NONE};
    std::atomic<bool> streamEnded{false};
    // The recorder let go: a start still on its way is not made any more.
    std::atomic<bool> released{false};

    std::mutex startLock;
    std::condition_variable started;
    Start start = Start::connecting;

    // The device the stream started on, and whether the server moved it to another one.
    std::mutex deviceLock;
    std::string device;
    std::atomic<bool> moved{false};
};

GStreamerRecorder::GStreamerRecorder(QString path, QObject* parent)
    : AudioRecorder(parent)
    , m_path(std::move(path)) {
    m_finishing.setInterval(finishPollInterval);
    connect(&m_finishing, &QTimer::timeout, this, &GStreamerRecorder::followFinish);
}

GStreamerRecorder::~GStreamerRecorder() {
    tearDown();
}

bool GStreamerRecorder::prepareToRecord() {
    if (m_state == State::prepared)
        return true;
    if (m_state != State::idle || !gstReady())
        return false;
    m_pipeline = std::make_shared<Pipeline>();
    // Only the input goes to the ready state here: that connects to the sound server,
    // so a missing server fails now, while the file sink (which creates the file when
    // it gets ready) has not been touched.
    if (m_pipeline->build(m_path))
        Pipeline::connect(m_pipeline);
    else
        m_pipeline->settle(Pipeline::Start::failed);
    if (m_pipeline->waitWhile(Pipeline::Start::connecting, connectWait) ==
        Pipeline::Start::failed) {
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
    if (!createFile() || !awaitStart()) {
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
    Pipeline::play(m_pipeline);
    const auto deadline = m_started + startWait;
    auto start = Pipeline::Start::connecting;
    for (const auto state : {Pipeline::Start::connecting, Pipeline::Start::connected})
        if (start == state)
            start = m_pipeline->waitWhile(state, deadline - Clock::now());
    if (start == Pipeline::Start::failed)
        return false;
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

void GStreamerRecorder::stop() {
    if (m_state == State::finishing || m_state == State::stopped)
        return;
    const bool recorded = m_state == State::recording || m_state == State::interrupted;
    currentTime();
    m_state = State::finishing;
    m_stopped = Clock::now();
    if (recorded && hasCapturedAudio()) {
        drainBus();
        m_pipeline->endAfter(releaseTail);
    } else {
        // Nothing was captured: there is no file to finish.
        tearDown();
    }
    m_finishing.start();
}

void GStreamerRecorder::followFinish() {
    if (!m_pipeline)
        return finish(false);
    drainBus();
    if (m_outputFailed)
        return finish(false);
    if (m_endOfStream)
        return finish(true);
    const auto waited = Clock::now() - m_stopped;
    // An input that stalled never delivers the buffer that would end the stream.
    if (waited > releaseTail + drainTimeout && !m_pipeline->streamEnded.load())
        Pipeline::onWorker(m_pipeline, [](Pipeline& p) { p.endStream(); });
    if (waited > releaseTail + drainTimeout + finaliseTimeout)
        finish(false);
}

void GStreamerRecorder::finish(bool complete) {
    m_finishing.stop();
    tearDown();
    m_state = State::stopped;
    emit finished(complete);
}

void GStreamerRecorder::discard() {
    m_finishing.stop();
    tearDown();
    m_state = State::stopped;
    if (m_fileCreated)
        QFile::remove(m_path);
}

bool GStreamerRecorder::isRecording() const {
    return m_state == State::recording && !moved() && !stalled() && !startFailed();
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
    if (m_state == State::recording && (moved() || stalled() || startFailed()))
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

bool GStreamerRecorder::startFailed() const {
    return m_pipeline && m_pipeline->startState() == Pipeline::Start::failed;
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
