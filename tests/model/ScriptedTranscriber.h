#pragma once

#include "Transcriber.h"

#include <vector>

// Holds every upload until the test answers it. Answers are delivered even after a
// cancel, so tests can check that late answers are ignored.
class ScriptedTranscriber final : public Transcriber {
public:
    struct Pending final : PendingTranscription {
        void cancel() override { cancelled = true; }
        bool cancelled = false;
    };
    struct Call {
        QByteArray audio;
        Completion done;
        std::shared_ptr<Pending> pending;
    };

    std::shared_ptr<PendingTranscription> transcribe(const QByteArray& audio,
                                                     Completion done) override {
        calls.push_back({audio, std::move(done), std::make_shared<Pending>()});
        return calls.back().pending;
    }
    void invalidate() override { ++invalidations; }

    void answer(size_t call, const QString& transcript) {
        calls.at(call).done(TranscriptionOutcome{transcript, nullptr});
    }
    template <typename Error> void fail(size_t call, const Error& error) {
        calls.at(call).done(TranscriptionOutcome{std::nullopt, std::make_exception_ptr(error)});
    }

    std::vector<Call> calls;
    int invalidations = 0;
};
