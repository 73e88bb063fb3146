// wispen-service: the bundled local transcription service.

#include "AudioDecoder.h"
#include "ForwardingRecogniser.h"
#include "PocketSphinxRecogniser.h"
#include "ServiceOptions.h"
#include "TranscriptionServer.h"

#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <pthread.h>
#include <stdexcept>
#include <thread>

namespace {

constexpr int exitUsage = 2;
constexpr int exitFailure = 1;

std::unique_ptr<Recogniser> makeRecogniser(const ServiceOptions& options) {
    if (!options.forwardUrl.empty())
        return std::make_unique<ForwardingRecogniser>(options.forwardUrl, options.forwardModel);
    return std::make_unique<PocketSphinxRecogniser>(options.modelDir, options.grammarFile,
                                                    options.workers);
}

} // namespace

int main(int argc, char** argv) {
    ServiceOptions options;
    try {
        options = ServiceOptions::parse(argc - 1, argv + 1);
    } catch (const std::invalid_argument& error) {
        std::cerr << "wispen-service: " << error.what() << "\nTry \"wispen-service --help\".\n";
        return exitUsage;
    }
    if (options.help) {
        std::cout << ServiceOptions::usage();
        return 0;
    }

    // Termination requests are taken by one thread with sigwait, which may then stop
    // the server safely; every other thread inherits the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    AudioDecoder::initialise();
    std::unique_ptr<Recogniser> recogniser;
    try {
        recogniser = makeRecogniser(options);
    } catch (const std::invalid_argument& error) {
        std::cerr << "wispen-service: " << error.what() << '\n';
        return exitUsage;
    }
    if (!recogniser->available())
        std::cerr << "wispen-service: " << recogniser->problem()
                  << " Requests will be answered with 503.\n";

    TranscriptionServer server(options, *recogniser);
    int port = 0;
    try {
        port = server.bind();
    } catch (const std::runtime_error& error) {
        std::cerr << "wispen-service: " << error.what() << '\n';
        return exitFailure;
    }
    std::cout << "wispen-service listening on http://" << options.host << ':' << port << '/'
              << std::endl;

    std::thread stopper([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.stop();
    });
    server.run();
    // run() also returns when listening fails; wake the stopper so it can be joined.
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    return 0;
}
