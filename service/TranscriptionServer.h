#pragma once

#include "Admission.h"
#include "ServiceOptions.h"

#include <memory>
#include <string>

class HttpServer;
class Recogniser;

// The service's requests: POST /api/transcribe, GET /privacy and GET /healthz,
// with the request size, work queue and time bounded.
class TranscriptionServer {
public:
    // Handler threads beyond the workers and the queue, so that refusals are
    // answered at once even when every worker is busy.
    static constexpr int spareThreads = 4;

    explicit TranscriptionServer(const ServiceOptions& options);
    ~TranscriptionServer();

    // Binds the listening socket; returns the port (useful with port 0), or throws
    // std::runtime_error with a sentence when the address cannot be taken.
    int bind();

    // Serves with `recogniser` until stop() is called from another thread and the
    // requests in flight are answered (within HttpServer::stopGrace). Connections
    // made between bind() and run() wait in the listen queue, so a service started
    // on demand can be reached while its model still loads.
    void run(Recogniser& recogniser);
    void stop();

    // How long the service has had no request to work on; zero while it has one.
    std::chrono::steady_clock::duration idleFor() { return m_admission.idleFor(); }

    // Whether a request is still being worked on after run() returned.
    bool handling() const;

private:
    void installRoutes();

    ServiceOptions m_options;
    Recogniser* m_recogniser = nullptr;
    Admission m_admission;
    std::unique_ptr<HttpServer> m_server;
};
