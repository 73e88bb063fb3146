// wispen-service: the bundled local transcription service.

#include "AudioDecoder.h"
#include "ForwardingRecogniser.h"
#include "LocalEngine.h"
#include "ServiceOptions.h"
#include "TranscriptionServer.h"

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
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
    return LocalEngine::make(options);
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
    // A service started in the background of a script inherits SIGINT ignored, and
    // an ignored signal is dropped even while a thread waits for it.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    // Forwarding talks to the speech server through Qt's sockets, whose TLS needs the
    // application object; its messages would only repeat what the replies say.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QCoreApplication application(argc, argv);
    AudioDecoder::initialise();
    std::unique_ptr<Recogniser> recogniser;
    const auto makeOrExplain = [&] {
        try {
            recogniser = makeRecogniser(options);
            return true;
        } catch (const std::invalid_argument& error) {
            std::cerr << "wispen-service: " << error.what() << '\n';
            return false;
        }
    };
    // Forwarding loads nothing, so a bad upstream address is refused before the
    // service listens.
    if (!options.forwardUrl.empty() && !makeOrExplain())
        return exitUsage;

    // Listen before a local model loads, which takes seconds: the application starts
    // the service when a dictation begins, and its upload then waits in the listen
    // queue instead of finding nobody there.
    TranscriptionServer server(options);
    int port = 0;
    try {
        port = server.bind();
    } catch (const std::runtime_error& error) {
        std::cerr << "wispen-service: " << error.what() << '\n';
        return exitFailure;
    }
    std::cout << "wispen-service listening on http://" << options.host << ':' << port << '/'
              << std::endl;

    if (!recogniser && !makeOrExplain())
        return exitUsage;
    if (!recogniser->available())
        std::cerr << "wispen-service: " << recogniser->problem()
                  << " Requests will be answered with 503.\n";

    // Ends the service on a termination request, or once it has been idle for as
    // long as it was asked to wait.
    std::atomic<bool> served = false;
    std::thread stopper([&] {
        const timespec pollInterval{1, 0};
        const auto idleLimit = std::chrono::seconds(options.exitWhenIdleSec);
        while (sigtimedwait(&stopSignals, nullptr, &pollInterval) < 0) {
            if (options.exitWhenIdleSec > 0 && server.idleFor() >= idleLimit)
                break;
        }
        // stop() does nothing before the server listens, and a request to end may
        // arrive while the model is still loading: repeat it until run() returned.
        while (!served) {
            server.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    server.run(*recogniser);
    served = true;
    // run() also returns when listening fails; wake the stopper so it can be joined.
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    // Every request has been answered. A worker still deep in a recognition that
    // overran the grace holds nothing but memory, and waiting for it would make
    // stopping take as long as the slowest request.
    if (server.handling())
        std::_Exit(0);
    return 0;
}
