#include "TranscriptionServer.h"

#include "AudioDecoder.h"
#include "HttpServer.h"
#include "Recogniser.h"
#include "RequestRefused.h"
#include "TranscribeRequest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <stdexcept>

namespace {

constexpr const char* transcribePath = "/api/transcribe";
constexpr const char* jsonType = "application/json";
constexpr const char* requestIdHeader = "X-Request-ID";
constexpr std::size_t longestRequestId = 128;
constexpr int statusOk = 200;

std::string json(const char* member, const std::string& value) {
    QJsonObject object;
    object.insert(QLatin1String(member), QString::fromStdString(value));
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

void answer(HttpResponse& response, int status, const char* member, const std::string& value) {
    response.status = status;
    response.set_content(json(member, value), jsonType);
}

// Echoed only when it is short, printable text, so a reply header never carries
// anything odd a client sent.
void echoRequestId(const HttpRequest& request, HttpResponse& response) {
    const std::string id = request.get_header_value(requestIdHeader);
    if (id.empty() || id.size() > longestRequestId)
        return;
    for (const char c : id) {
        if (c < 0x21 || c > 0x7e)
            return;
    }
    response.set_header(requestIdHeader, id);
}

std::string htmlEscaped(const std::string& text) {
    std::string result;
    for (const char c : text) {
        switch (c) {
        case '&':
            result += "&amp;";
            break;
        case '<':
            result += "&lt;";
            break;
        case '>':
            result += "&gt;";
            break;
        case '"':
            result += "&quot;";
            break;
        default:
            result += c;
        }
    }
    return result;
}

} // namespace

TranscriptionServer::TranscriptionServer(const ServiceOptions& options)
    : m_options(options)
    , m_admission(options.workers, options.queue) {
    HttpServer::Limits limits;
    limits.bodyBytes = TranscribeRequest::maximumBodyBytes();
    limits.idleTime = std::chrono::seconds(options.idleTimeoutSec);
    limits.requestTime = std::chrono::seconds(options.timeLimitSec);
    limits.handlerThreads = options.workers + options.queue + spareThreads;
    m_server = std::make_unique<HttpServer>(limits);
    installRoutes();
}

TranscriptionServer::~TranscriptionServer() = default;

int TranscriptionServer::bind() {
    return m_server->bind(m_options.host, m_options.port);
}

void TranscriptionServer::run(Recogniser& recogniser) {
    m_recogniser = &recogniser;
    m_server->run();
}

void TranscriptionServer::stop() {
    m_server->stop();
}

bool TranscriptionServer::handling() const {
    return m_server->handling();
}

void TranscriptionServer::installRoutes() {
    // Refusals made before a handler runs (sizes, framing, time, connections)
    // look like the handlers' own.
    m_server->setRefusal([](const HttpRequest& request, int status, const std::string& reason,
                            HttpResponse& response) {
        echoRequestId(request, response);
        answer(response, status, "error", reason);
    });

    m_server->Post(transcribePath, [this](const HttpRequest& request, HttpResponse& response) {
        const Deadline deadline = request.deadline;
        echoRequestId(request, response);
        try {
            const std::string file = TranscribeRequest::audio(request.body);
            if (!m_recogniser->available())
                throw RequestRefused(RequestRefused::unavailable, m_recogniser->problem());
            auto ticket = m_admission.tryEnter();
            if (!ticket)
                throw RequestRefused(RequestRefused::busy, "Every worker is busy.");
            if (!ticket->waitForTurn(deadline))
                throw RequestRefused(RequestRefused::unavailable,
                                     "No worker became free in time; the request was abandoned.");
            const auto samples = AudioDecoder::decode(file, deadline);
            const std::string text = m_recogniser->recognise({file, samples}, deadline);
            answer(response, statusOk, "text", text);
        } catch (const RequestRefused& refusal) {
            answer(response, refusal.status(), "error", refusal.what());
        }
    });

    // For scripts and tests: whether requests can be recognised, and the current load.
    m_server->Get("/healthz", [this](const HttpRequest&, HttpResponse& response) {
        const bool ready = m_recogniser->available();
        const Admission::Load load = m_admission.load();
        QJsonObject object;
        object.insert(QLatin1String("status"),
                      ready ? QLatin1String("ready") : QLatin1String("unavailable"));
        if (!ready)
            object.insert(QLatin1String("problem"),
                          QString::fromStdString(m_recogniser->problem()));
        object.insert(QLatin1String("engine"), QString::fromStdString(m_recogniser->engine()));
        object.insert(QLatin1String("working"), load.working);
        object.insert(QLatin1String("waiting"), load.waiting);
        response.status = ready ? statusOk : int(RequestRefused::unavailable);
        response.set_content(QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString(),
                             jsonType);
    });

    m_server->Get("/privacy", [this](const HttpRequest&, HttpResponse& response) {
        const std::string page =
            "<!DOCTYPE html>\n<html lang=\"en\">\n<head><meta charset=\"utf-8\">"
            "<title>Wispen Rezuraz transcription service: privacy</title></head>\n<body>\n"
            "<h1>Privacy</h1>\n"
            "<p>This service turns dictation recordings from Wispen Rezuraz into text.</p>\n"
            "<p>" +
            htmlEscaped(m_recogniser->privacyNote()) +
            "</p>\n"
            "<p>Each recording is kept in memory only while its request runs, then "
            "discarded: neither the audio nor the text is written to disk or logged.</p>\n"
            "</body>\n</html>\n";
        response.set_content(page, "text/html; charset=utf-8");
    });
}
