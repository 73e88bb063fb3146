#include "MoonshineRecogniser.h"

#include "SpeechSegments.h"

#define ORT_API_MANUAL_INIT
#include <onnxruntime_cxx_api.h>
#undef ORT_API_MANUAL_INIT

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <thread>

namespace {

// The folders scripts/moonshine.sh unpacks into, named after the packages' versions.
constexpr const char* runtimeFile = "onnxruntime-1.31.1/libonnxruntime.so.1";
constexpr const char* piecesFile = "llama-tokenizer-1.2.2/pieces.txt";
constexpr const char* tinyFolder = "moonshine-tiny-0.1.29";
constexpr const char* baseFolder = "moonshine-base-0.1.10";
constexpr const char* encoderFile = "encoder_model.onnx";
constexpr const char* decoderFile = "decoder_model_merged.onnx";

// The model writes about six tokens per second of speech at most; the limit leaves
// room for fast talkers and stops a decoder that repeats itself.
constexpr double tokensPerSecond = 6.5;
constexpr std::size_t fewestTokens = 12;
constexpr std::size_t paddingSamples = SpeechSegments::sampleRateHz / 10;
// A piece that gave no words is split in two, twice at most, down to halves of
// two seconds.
constexpr int maximumSplits = 2;
constexpr std::size_t shortestSplit = 2 * SpeechSegments::sampleRateHz;

std::filesystem::path modelFolder(const std::string& folder, MoonshineRecogniser::Model model) {
    return std::filesystem::path(folder) /
           (model == MoonshineRecogniser::Model::tiny ? tinyFolder : baseFolder);
}

// Opens the runtime library once per process and hands its API to the C++
// wrappers; the reason it failed otherwise. The library stays loaded.
std::string openRuntime(const std::string& path) {
    static std::once_flag once;
    static std::string problem;
    std::call_once(once, [&] {
        void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            problem = "ONNX Runtime could not be loaded from " + path + ".";
            return;
        }
        using GetApiBase = const OrtApiBase* (*)();
        const auto getApiBase = reinterpret_cast<GetApiBase>(dlsym(library, "OrtGetApiBase"));
        const OrtApi* api = getApiBase ? getApiBase()->GetApi(ORT_API_VERSION) : nullptr;
        if (!api) {
            problem = "The ONNX Runtime in " + path + " does not offer the API this build needs.";
            return;
        }
        Ort::InitApi(api);
    });
    return problem;
}

Ort::Env& environment() {
    // Fatal errors only: the service logs nothing.
    static Ort::Env env(ORT_LOGGING_LEVEL_FATAL, "wispen-service");
    return env;
}

std::vector<std::string> names(const Ort::Session& session, bool inputs) {
    Ort::AllocatorWithDefaultOptions allocator;
    std::vector<std::string> result;
    const std::size_t count = inputs ? session.GetInputCount() : session.GetOutputCount();
    for (std::size_t i = 0; i < count; ++i)
        result.emplace_back(inputs ? session.GetInputNameAllocated(i, allocator).get()
                                   : session.GetOutputNameAllocated(i, allocator).get());
    return result;
}

std::vector<const char*> pointers(const std::vector<std::string>& strings) {
    std::vector<const char*> result;
    for (const auto& s : strings)
        result.push_back(s.c_str());
    return result;
}

} // namespace

struct MoonshineRecogniser::Worker {
    Ort::Session encoder{nullptr};
    Ort::Session decoder{nullptr};
    std::vector<std::string> encoderInputs, encoderOutputs, decoderInputs, decoderOutputs;
    // For each decoder input that is an attention cache, the output that renews it
    // (or -1), and whether it belongs to the encoder (computed once per segment).
    std::vector<int> cacheSource;
    std::vector<bool> encoderCache;
    std::vector<std::int64_t> cacheShape; // heads and width of one cache entry
    std::size_t logits = 0;               // the decoder output with the next token's scores
};

bool MoonshineRecogniser::installed(const std::string& folder, Model model) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path root(folder);
    const fs::path models = modelFolder(folder, model);
    return fs::exists(root / runtimeFile, error) && fs::exists(root / piecesFile, error) &&
           fs::exists(models / encoderFile, error) && fs::exists(models / decoderFile, error);
}

MoonshineRecogniser::MoonshineRecogniser(const std::string& folder, Model model, int workers)
    : m_model(model) {
    namespace fs = std::filesystem;
    if (!installed(folder, model)) {
        m_problem = "The " + engine() + " model is not installed in " + folder +
                    " (scripts/moonshine.sh fetches it).";
        return;
    }
    m_pieces = TokenPieces::load((fs::path(folder) / piecesFile).string());
    if (m_pieces.empty()) {
        m_problem = "The token vocabulary in " + folder + " is damaged.";
        return;
    }
    m_problem = openRuntime((fs::path(folder) / runtimeFile).string());
    if (!m_problem.empty())
        return;

    // Workers share the cores: each session gets its share, and idle threads sleep
    // rather than spin, since other programs run here too.
    const int cores = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    Ort::SessionOptions options;
    options.SetIntraOpNumThreads(std::max(1, cores / std::max(1, workers)));
    options.SetInterOpNumThreads(1);
    options.SetGraphOptimizationLevel(GraphOptimizationLevel::ORT_ENABLE_ALL);
    options.AddConfigEntry("session.intra_op.allow_spinning", "0");
    const fs::path models = modelFolder(folder, model);
    try {
        for (int i = 0; i < workers; ++i) {
            auto worker = std::make_unique<Worker>();
            worker->encoder = Ort::Session(environment(), (models / encoderFile).c_str(), options);
            worker->decoder = Ort::Session(environment(), (models / decoderFile).c_str(), options);
            worker->encoderInputs = names(worker->encoder, true);
            worker->encoderOutputs = names(worker->encoder, false);
            worker->decoderInputs = names(worker->decoder, true);
            worker->decoderOutputs = names(worker->decoder, false);
            const auto logits =
                std::find(worker->decoderOutputs.begin(), worker->decoderOutputs.end(), "logits");
            if (logits == worker->decoderOutputs.end())
                throw std::runtime_error("the decoder has no logits");
            worker->logits = static_cast<std::size_t>(logits - worker->decoderOutputs.begin());
            for (std::size_t in = 0; in < worker->decoderInputs.size(); ++in) {
                const std::string& name = worker->decoderInputs[in];
                int source = -1;
                if (name.starts_with("past_key_values.")) {
                    const std::string present = "present." + name.substr(16);
                    const auto found = std::find(worker->decoderOutputs.begin(),
                                                 worker->decoderOutputs.end(), present);
                    if (found == worker->decoderOutputs.end())
                        throw std::runtime_error("no output renews " + name);
                    source = static_cast<int>(found - worker->decoderOutputs.begin());
                    const auto shape =
                        worker->decoder.GetInputTypeInfo(in).GetTensorTypeAndShapeInfo().GetShape();
                    if (shape.size() != 4)
                        throw std::runtime_error("unexpected cache shape");
                    worker->cacheShape = {shape[1], shape[3]};
                }
                worker->cacheSource.push_back(source);
                worker->encoderCache.push_back(name.find(".encoder.") != std::string::npos);
            }
            m_workers.add(std::move(worker));
        }
    } catch (const std::exception& error) {
        m_problem = "The " + engine() + " model in " + models.string() +
                    " could not be loaded: " + error.what();
        m_workers.clear();
    }
}

MoonshineRecogniser::~MoonshineRecogniser() = default;

std::string MoonshineRecogniser::transcribe(Worker& worker, const float* samples,
                                            std::size_t count) const {
    const auto memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
    const std::array<std::int64_t, 2> audioShape{1, static_cast<std::int64_t>(count)};
    Ort::Value audio = Ort::Value::CreateTensor<float>(memory, const_cast<float*>(samples), count,
                                                       audioShape.data(), audioShape.size());
    const auto encoderIn = pointers(worker.encoderInputs);
    const auto encoderOut = pointers(worker.encoderOutputs);
    auto encoded = worker.encoder.Run(Ort::RunOptions{nullptr}, encoderIn.data(), &audio, 1,
                                      encoderOut.data(), 1);

    // Every cache starts empty; the first step fills the encoder's, which then stay.
    const std::size_t inputCount = worker.decoderInputs.size();
    std::vector<Ort::Value> inputs;
    float none = 0;
    const std::array<std::int64_t, 4> emptyShape{1, worker.cacheShape[0], 0, worker.cacheShape[1]};
    for (std::size_t i = 0; i < inputCount; ++i)
        inputs.push_back(worker.cacheSource[i] >= 0
                             ? Ort::Value::CreateTensor<float>(memory, &none, 0, emptyShape.data(),
                                                               emptyShape.size())
                             : Ort::Value{nullptr});

    std::int64_t token = TokenPieces::start;
    bool useCache = false;
    const std::array<std::int64_t, 2> tokenShape{1, 1};
    const std::array<std::int64_t, 1> flagShape{1};
    const auto limit = std::max(
        fewestTokens,
        static_cast<std::size_t>(std::ceil(tokensPerSecond * static_cast<double>(count) /
                                           static_cast<double>(SpeechSegments::sampleRateHz))));
    std::vector<std::int64_t> tokens;
    const auto decoderIn = pointers(worker.decoderInputs);
    const auto decoderOut = pointers(worker.decoderOutputs);
    std::vector<const OrtValue*> raw(inputCount);
    std::vector<OrtValue*> produced(worker.decoderOutputs.size());
    bool ended = false;
    while (tokens.size() < limit) {
        for (std::size_t i = 0; i < inputCount; ++i) {
            const std::string& name = worker.decoderInputs[i];
            if (name == "input_ids")
                inputs[i] = Ort::Value::CreateTensor<std::int64_t>(
                    memory, &token, 1, tokenShape.data(), tokenShape.size());
            else if (name == "encoder_hidden_states")
                raw[i] = encoded[0];
            else if (name == "use_cache_branch")
                inputs[i] = Ort::Value::CreateTensor<bool>(memory, &useCache, 1, flagShape.data(),
                                                           flagShape.size());
            if (name != "encoder_hidden_states")
                raw[i] = inputs[i];
        }
        std::fill(produced.begin(), produced.end(), nullptr);
        Ort::ThrowOnError(Ort::GetApi().Run(worker.decoder, nullptr, decoderIn.data(), raw.data(),
                                            inputCount, decoderOut.data(), produced.size(),
                                            produced.data()));
        std::vector<Ort::Value> outputs;
        for (OrtValue* value : produced)
            outputs.emplace_back(value);

        const Ort::Value& logits = outputs[worker.logits];
        const auto shape = logits.GetTensorTypeAndShapeInfo().GetShape();
        const auto vocabulary = static_cast<std::size_t>(shape.back());
        const float* last =
            logits.GetTensorData<float>() + (static_cast<std::size_t>(shape[1]) - 1) * vocabulary;
        token = std::max_element(last, last + vocabulary) - last;
        if (token == TokenPieces::end) {
            ended = true;
            break;
        }
        tokens.push_back(token);
        for (std::size_t i = 0; i < inputCount; ++i)
            if (worker.cacheSource[i] >= 0 && (!useCache || !worker.encoderCache[i]))
                inputs[i] = std::move(outputs[static_cast<std::size_t>(worker.cacheSource[i])]);
        useCache = true;
    }
    // A decoder that never finished has lost its way (noise, music): its words
    // would be invented.
    if (!ended)
        return {};
    return m_pieces.text(tokens);
}

std::string MoonshineRecogniser::spanText(Worker& worker, const std::int16_t* samples,
                                          std::size_t count, int splits) const {
    if (!SpeechSegments::hasSpeech(samples, count))
        return {};
    // Quiet either side: the model misses words that begin with the piece.
    std::vector<float> scaled(count + 2 * paddingSamples, 0.0F);
    std::transform(samples, samples + count, scaled.begin() + static_cast<long>(paddingSamples),
                   [](std::int16_t sample) { return static_cast<float>(sample) / 32768.0F; });
    std::string words;
    try {
        words = transcribe(worker, scaled.data(), scaled.size());
    } catch (const Ort::Exception& error) {
        throw RequestRefused(RequestRefused::unavailable,
                             std::string("The recogniser failed: ") + error.what());
    }
    // Now and then the decoder ends at once on a long piece full of speech; its
    // halves, cut in the quiet, are heard.
    if (!words.empty() || splits >= maximumSplits || count < 2 * shortestSplit)
        return words;
    const std::size_t cut = SpeechSegments::quietest(samples, count / 4, count * 3 / 4);
    const std::string first = spanText(worker, samples, cut, splits + 1);
    const std::string second = spanText(worker, samples + cut, count - cut, splits + 1);
    return first + (first.empty() || second.empty() ? "" : " ") + second;
}

std::string MoonshineRecogniser::recognise(const Recording& recording, Deadline deadline) {
    if (!available())
        throw RequestRefused(RequestRefused::unavailable, m_problem);
    const auto worker = m_workers.borrow(deadline);
    return SpeechSegments::recogniseInPieces(recording.samples, deadline,
                                             [&](const std::int16_t* piece, std::size_t count) {
                                                 return spanText(*worker, piece, count, 0);
                                             });
}

std::string MoonshineRecogniser::privacyNote() const {
    return "Speech is recognised on this machine by the Moonshine speech model. The audio and "
           "the text never leave this computer.";
}

std::string MoonshineRecogniser::engine() const {
    return m_model == Model::tiny ? "moonshine-tiny" : "moonshine-base";
}
