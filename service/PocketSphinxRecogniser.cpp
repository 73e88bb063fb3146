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
            return;
        }
        m_decoders.add(std::move(decoder));
    }
}

PocketSphinxRecogniser::~PocketSphinxRecogniser() = default;

std::string PocketSphinxRecogniser::recognise(const Recording& recording, Deadline deadline) {
    if (!available())
        throw RequestRefused(RequestRefused::unavailable, m_problem);
    const auto borrowed = m_decoders.borrow(deadline);
    ps_decoder_t* decoder = borrowed->decoder;
    return SpeechSegments::recogniseInPieces(
        recording.samples, deadline, [&](const std::int16_t* piece, std::size_t count) {
            if (ps_start_utt(decoder) < 0)
                throw RequestRefused(RequestRefused::unavailable,
                                     "The recogniser could not start.");
            ps_process_raw(decoder, piece, count, FALSE, TRUE);
            ps_end_utt(decoder);
            return trimmed(ps_get_hyp(decoder, nullptr));
        });
}

std::string PocketSphinxRecogniser::privacyNote() const {
    return "Speech is recognised on this machine by pocketsphinx. The audio and the text "
           "never leave this computer.";
}
