#include "PocketSphinxRecogniser.h"

#include "RequestRefused.h"
#include "SpeechSegments.h"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>

#include <filesystem>

namespace {

constexpr const char* acousticModel = "en-us";
constexpr const char* languageModel = "en-us.lm.bin";
constexpr const char* dictionary = "cmudict-en-us.dict";

std::string trimmed(const char* text) {
    std::string result = text ? text : "";
    const auto first = result.find_first_not_of(" \t\n");
    if (first == std::string::npos)
        return {};
    const auto last = result.find_last_not_of(" \t\n");
    return result.substr(first, last - first + 1);
}

} // namespace

struct PocketSphinxRecogniser::Decoder {
    cmd_ln_t* config = nullptr;
    ps_decoder_t* decoder = nullptr;

    Decoder() = default;
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    ~Decoder() {
        if (decoder)
            ps_free(decoder);
        if (config)
            cmd_ln_free_r(config);
    }
};

PocketSphinxRecogniser::PocketSphinxRecogniser(const std::string& modelDir,
                                               const std::string& grammarFile, int decoders) {
    namespace fs = std::filesystem;
    const fs::path folder(modelDir);
    const std::string hmm = (folder / acousticModel).string();
    const std::string lm = (folder / languageModel).string();
    const std::string dict = (folder / dictionary).string();
    std::error_code error;
    for (const std::string& path : {hmm, dict, grammarFile.empty() ? lm : grammarFile}) {
        if (!fs::exists(path, error)) {
            m_problem = "The speech model is missing: " + path + " does not exist.";
            return;
        }
    }

    // pocketsphinx reports its progress on stderr unless told otherwise; the service
    // keeps quiet.
    err_set_logfp(nullptr);
    const char* searchOption = grammarFile.empty() ? "-lm" : "-jsgf";
    const std::string& search = grammarFile.empty() ? lm : grammarFile;
    for (int i = 0; i < decoders; ++i) {
        auto decoder = std::make_unique<Decoder>();
        decoder->config =
            cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.c_str(), searchOption, search.c_str(),
                        "-dict", dict.c_str(), "-logfn", "/dev/null", nullptr);
        if (decoder->config)
            decoder->decoder = ps_init(decoder->config);
        if (!decoder->decoder) {
            m_problem = "The speech model in " + modelDir + " could not be loaded.";
            m_decoders.clear();
            m_idle.clear();
            return;
        }
        m_idle.push_back(decoder.get());
        m_decoders.push_back(std::move(decoder));
    }
}

PocketSphinxRecogniser::~PocketSphinxRecogniser() = default;

PocketSphinxRecogniser::Decoder* PocketSphinxRecogniser::borrow(Deadline deadline) {
    std::unique_lock lock(m_mutex);
    if (!m_returned.wait_until(lock, deadline.at(), [this] { return !m_idle.empty(); }))
        throw RequestRefused(RequestRefused::unavailable,
                             "No recogniser became free in time; the request was abandoned.");
    Decoder* decoder = m_idle.back();
    m_idle.pop_back();
    return decoder;
}

void PocketSphinxRecogniser::giveBack(Decoder* decoder) {
    {
        std::lock_guard lock(m_mutex);
        m_idle.push_back(decoder);
    }
    m_returned.notify_one();
}

std::string PocketSphinxRecogniser::recognise(const Recording& recording, Deadline deadline) {
    if (!available())
        throw RequestRefused(RequestRefused::unavailable, m_problem);
    Decoder* borrowed = borrow(deadline);
    struct Return {
        PocketSphinxRecogniser* owner;
        Decoder* decoder;
        ~Return() { owner->giveBack(decoder); }
    } giveBackOnExit{this, borrowed};

    ps_decoder_t* decoder = borrowed->decoder;
    const auto& samples = recording.samples;
    std::vector<std::size_t> bounds = SpeechSegments::cuts(samples);
    bounds.push_back(samples.size());
    std::string text;
    std::size_t start = 0;
    for (const std::size_t end : bounds) {
        if (deadline.passed())
            throw RequestRefused(RequestRefused::unavailable,
                                 "Recognition took too long and was abandoned.");
        if (ps_start_utt(decoder) < 0)
            throw RequestRefused(RequestRefused::unavailable, "The recogniser could not start.");
        ps_process_raw(decoder, samples.data() + start, end - start, FALSE, TRUE);
        ps_end_utt(decoder);
        const std::string words = trimmed(ps_get_hyp(decoder, nullptr));
        if (!words.empty())
            text += (text.empty() ? "" : " ") + words;
        start = end;
    }
    return text;
}

std::string PocketSphinxRecogniser::privacyNote() const {
    return "Speech is recognised on this machine by pocketsphinx. The audio and the text "
           "never leave this computer.";
}
