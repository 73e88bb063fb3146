#pragma once

#include "Recogniser.h"
#include "TokenPieces.h"
#include "WorkerPool.h"

#include <string>

// Recognises speech on this machine with a Moonshine model on ONNX Runtime: per
// speech segment the encoder runs once, then a greedy decoder that keeps its
// attention cache between steps, stopped by a token limit that grows with the
// segment's length. One encoder and decoder session per worker, loaded at start-up.
// The runtime library is opened when the recogniser is made, so a machine without
// it still starts the service (which then answers 503, or uses pocketsphinx when
// no engine was asked for).
class MoonshineRecogniser final : public Recogniser {
public:
    enum class Model { tiny, base };

    // Whether the runtime, the vocabulary and `model` are all in `folder`, the
    // cache folder scripts/moonshine.sh fills.
    static bool installed(const std::string& folder, Model model);

    MoonshineRecogniser(const std::string& folder, Model model, int workers);
    ~MoonshineRecogniser() override;

    bool available() const override { return m_problem.empty(); }
    std::string problem() const override { return m_problem; }
    std::string recognise(const Recording& recording, Deadline deadline) override;
    std::string privacyNote() const override;
    std::string engine() const override;

private:
    struct Worker;

    std::string transcribe(Worker& worker, const float* samples, std::size_t count) const;
    std::string spanText(Worker& worker, const std::int16_t* samples, std::size_t count,
                         int splits) const;

    Model m_model;
    TokenPieces m_pieces;
    WorkerPool<Worker> m_workers;
    std::string m_problem;
};
