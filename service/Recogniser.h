#pragma once

#include "Deadline.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One decoded recording: the MPEG-4 file as the client sent it, and its samples
// at 16 kHz mono.
struct Recording {
    std::string_view file;
    const std::vector<std::int16_t>& samples;
};

// Turns speech into text. The service holds one recogniser and calls it from as
// many threads as it has workers.
class Recogniser {
public:
    virtual ~Recogniser() = default;

    // False when the engine could not be set up; the service then answers 503.
    virtual bool available() const = 0;

    // Why it is not available, for the start-up error line; empty when it is.
    virtual std::string problem() const = 0;

    // The words spoken, empty for silence. Throws RequestRefused when it cannot
    // answer (503 unavailable or past the deadline, or the status a forwarding
    // target gave).
    virtual std::string recognise(const Recording& recording, Deadline deadline) = 0;

    // Where the audio goes while it is recognised, in plain sentences for the
    // privacy page.
    virtual std::string privacyNote() const = 0;

    // The engine's name as /healthz reports it, such as "moonshine-base".
    virtual std::string engine() const = 0;
};
