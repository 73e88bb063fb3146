#pragma once

#include <string>

// The service's command line: where it listens, how much work it takes on at
// once, and which recogniser it uses.
struct ServiceOptions {
    static constexpr const char* defaultHost = "127.0.0.1";
    static constexpr int defaultPort = 8731;
    static constexpr int defaultQueue = 4;
    static constexpr int defaultIdleTimeoutSec = 10;
    static constexpr int defaultTimeLimitSec = 75;
    static constexpr const char* defaultModelDir = "/usr/share/pocketsphinx/model/en-us";
    static constexpr const char* defaultForwardModel = "whisper-1";

    std::string host = defaultHost;
    int port = defaultPort; // 0 picks a free port
    int workers = defaultWorkers();
    int queue = defaultQueue;
    std::string forwardUrl; // empty: recognise locally
    std::string forwardModel = defaultForwardModel;
    std::string modelDir = defaultModelDir;
    std::string grammarFile; // empty: the model's open language model
    std::string engine;      // empty: the best one installed
    std::string moonshineDir = defaultMoonshineDir();
    int idleTimeoutSec = defaultIdleTimeoutSec;
    int timeLimitSec = defaultTimeLimitSec;
    int exitWhenIdleSec = 0; // 0: serve until told to stop
    bool help = false;

    // One decoder holds about 160 MB, so the default stays small even on big machines.
    static int defaultWorkers();

    // The cache folder scripts/moonshine.sh filled when this was built.
    static std::string defaultMoonshineDir();

    // Reads the arguments after the program name; throws std::invalid_argument with a
    // sentence naming the offending option when one is unknown, lacks its value or has
    // a value out of range.
    static ServiceOptions parse(int argc, const char* const* argv);

    // The text --help prints.
    static std::string usage();
};
