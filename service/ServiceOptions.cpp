#include "ServiceOptions.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <string_view>
#include <thread>

namespace {

constexpr int maximumDefaultWorkers = 2;
constexpr int maximumWorkers = 64;
constexpr int maximumQueue = 1000;
constexpr int maximumPort = 65535;
constexpr int maximumSeconds = 3600;

int number(std::string_view option, std::string_view value, int lowest, int highest) {
    int result = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), result);
    if (error != std::errc() || end != value.data() + value.size() || result < lowest ||
        result > highest)
        throw std::invalid_argument(std::string(option) + " needs a whole number from " +
                                    std::to_string(lowest) + " to " + std::to_string(highest) +
                                    ", not \"" + std::string(value) + "\".");
    return result;
}

} // namespace

int ServiceOptions::defaultWorkers() {
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(cores, 1, maximumDefaultWorkers);
}

std::string ServiceOptions::defaultMoonshineDir() {
    return WISPEN_MOONSHINE_DIR;
}

ServiceOptions ServiceOptions::parse(int argc, const char* const* argv) {
    ServiceOptions options;
    for (int i = 0; i < argc; ++i) {
        std::string_view option = argv[i];
        std::string_view value;
        bool inlineValue = false;
        if (const auto equals = option.find('=');
            option.starts_with("--") && equals != option.npos) {
            value = option.substr(equals + 1);
            option = option.substr(0, equals);
            inlineValue = true;
        }
        if (option == "--help" || option == "-h") {
            if (inlineValue)
                throw std::invalid_argument("--help takes no value.");
            options.help = true;
            continue;
        }
        const bool known = option == "--host" || option == "--port" || option == "--workers" ||
                           option == "--queue" || option == "--forward" ||
                           option == "--forward-model" || option == "--model" ||
                           option == "--grammar" || option == "--idle-timeout" ||
                           option == "--time-limit" || option == "--exit-when-idle" ||
                           option == "--engine" || option == "--moonshine-dir";
        if (!known)
            throw std::invalid_argument("Unknown option \"" + std::string(option) + "\".");
        if (!inlineValue) {
            if (i + 1 >= argc)
                throw std::invalid_argument(std::string(option) + " needs a value.");
            value = argv[++i];
        }
        if (value.empty())
            throw std::invalid_argument(std::string(option) + " needs a value.");

        if (option == "--host")
            options.host = value;
        else if (option == "--port")
            options.port = number(option, value, 0, maximumPort);
        else if (option == "--workers")
            options.workers = number(option, value, 1, maximumWorkers);
        else if (option == "--queue")
            options.queue = number(option, value, 0, maximumQueue);
        else if (option == "--forward")
            options.forwardUrl = value;
        else if (option == "--forward-model")
            options.forwardModel = value;
        else if (option == "--model")
            options.modelDir = value;
        else if (option == "--grammar")
            options.grammarFile = value;
        else if (option == "--idle-timeout")
            options.idleTimeoutSec = number(option, value, 1, maximumSeconds);
        else if (option == "--engine") {
            if (value != "moonshine-base" && value != "moonshine-tiny" && value != "pocketsphinx")
                throw std::invalid_argument("--engine needs moonshine-base, moonshine-tiny or "
                                            "pocketsphinx, not \"" +
                                            std::string(value) + "\".");
            options.engine = value;
        } else if (option == "--moonshine-dir")
            options.moonshineDir = value;
        else if (option == "--time-limit")
            options.timeLimitSec = number(option, value, 1, maximumSeconds);
        else if (option == "--exit-when-idle")
            options.exitWhenIdleSec = number(option, value, 0, maximumSeconds);
    }
    return options;
}

std::string ServiceOptions::usage() {
    return "Usage: wispen-service [options]\n"
           "\n"
           "The local transcription service of Wispen Rezuraz: POST /api/transcribe takes\n"
           "JSON {\"audio\": Base64 MPEG-4 AAC, \"mimeType\": \"audio/mp4\"} and answers\n"
           "{\"text\": ...}. Audio stays in memory for the request only.\n"
           "\n"
           "Options:\n"
           "  --host ADDRESS        address to listen on (default 127.0.0.1)\n"
           "  --port PORT           port to listen on, 0 for any free port (default 8731)\n"
           "  --workers N           requests recognised at once; each local worker holds\n"
           "                        100 to 300 MB (default: cores, at most 2)\n"
           "  --queue N             further requests that may wait for a worker; beyond\n"
           "                        that the service answers 429 at once (default 4)\n"
           "  --forward URL         recognise with an OpenAI-compatible speech-to-text\n"
           "                        server at URL (POST URL/v1/audio/transcriptions)\n"
           "                        instead of locally; plain http only on loopback;\n"
           "                        an API key is read from WISPEN_FORWARD_API_KEY\n"
           "  --forward-model NAME  model named in forwarded requests (default whisper-1)\n"
           "  --engine NAME         moonshine-base, moonshine-tiny or pocketsphinx\n"
           "                        (default: moonshine-base when installed, else\n"
           "                        pocketsphinx; pocketsphinx with --model or --grammar)\n"
           "  --moonshine-dir DIR   folder scripts/moonshine.sh fills with ONNX Runtime\n"
           "                        and the Moonshine models (default: " WISPEN_MOONSHINE_DIR ")\n"
           "  --model DIR           folder with the pocketsphinx acoustic model en-us/,\n"
           "                        en-us.lm.bin and cmudict-en-us.dict\n"
           "                        (default /usr/share/pocketsphinx/model/en-us)\n"
           "  --grammar FILE        recognise only the sentences of this JSGF grammar\n"
           "                        instead of the open language model (for tests)\n"
           "  --idle-timeout SECS   close a connection whose sender pauses this long\n"
           "                        (default 10)\n"
           "  --time-limit SECS     abandon a request after this long, answering 503\n"
           "                        (default 75, the application's own limit)\n"
           "  --exit-when-idle SECS end after this long without a request, 0 for never\n"
           "                        (default 0; the application starts it with 600)\n"
           "  --help                print this text\n";
}
