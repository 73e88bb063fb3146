#pragma once

#include "Recogniser.h"
#include "WorkerPool.h"

// Recognises speech on this machine with pocketsphinx: one decoder per worker,
// each loaded once at start-up (about 0.5 s and 100 to 160 MB apiece) and lent to
// one request at a time. Recordings go in as whole utterances of up to about
// twenty seconds (SpeechSegments), with the deadline checked between them.
class PocketSphinxRecogniser final : public Recogniser {
public:
    // Loads `decoders` decoders from `modelDir` (holding en-us/, en-us.lm.bin and
    // cmudict-en-us.dict), with the JSGF grammar in `grammarFile` instead of the
    // language model when it is not empty. A failure leaves it unavailable.
    PocketSphinxRecogniser(const std::string& modelDir, const std::string& grammarFile,
                           int decoders);
    ~PocketSphinxRecogniser() override;

    bool available() const override { return m_problem.empty(); }
    std::string problem() const override { return m_problem; }
    std::string recognise(const Recording& recording, Deadline deadline) override;
    std::string privacyNote() const override;
    std::string engine() const override { return "pocketsphinx"; }

private:
    struct Decoder;

    WorkerPool<Decoder> m_decoders;
    std::string m_problem;
};
