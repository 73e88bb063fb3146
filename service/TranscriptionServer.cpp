#include "TranscriptionServer.h"

#include "AudioDecoder.h"
#include "Recogniser.h"
#include "RequestRefused.h"
#include "TranscribeRequest.h"

#include <httplib.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <charconv>
#include <stdexcept>

namespace {

constexpr const char* transcribePath = "/api/transcribe";
constexpr const char* jsonType = "application/json";
constexpr const char* requestIdHeader = "X-Request-ID";
constexpr std::size_t longestRequestId = 128;
constexpr int statusOk = 200;
constexpr int statusRequestTimeout = 408;
constexpr int statusInternalError = 500;

std::string json(const char* member, const std::string& value) {
    QJsonObject object;
    object.insert(QLatin1String(member), QString::fromStdString(value));
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

void answer(httplib::Response& response, int status, const char* member, const std::string& value) {
    response.status = status;
    response.set_content(json(member, value), jsonType);
}

// Echoed only when it is short, printable text, so a reply header never carries
// anything odd a client sent.
void echoRequestId(const httplib::Request& request, httplib::Response& response) {
    const std::string id = request.get_header_value(requestIdHeader);
    if (id.empty() || id.size() > longestRequestId)
        return;
    for (const char c : id) {
        if (c < 0x21 || c > 0x7e)
            return;
    }
    response.set_header(requestIdHeader, id);
}

// The declared body length, or nothing when there is none or it is not a number.
std::optional<unsigned long long> declaredLength(const httplib::Request& request) {
    const std::string text = request.get_header_value("Content-Length");
    unsigned long long length = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), length);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return length;
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

TranscriptionServer::TranscriptionServer(const ServiceOptions& options, Recogniser& recogniser)
    : m_options(options)
    , m_recogniser(recogniser)
    , m_admission(options.workers, options.queue)
    , m_server(std::make_unique<httplib::Server>()) {
    const int threads = options.workers + options.queue + spareThreads;
    m_server->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    // One request per connection: a dictation sends one recording, and a closed
    // connection cannot hold a thread that a waiting request needs.
    m_server->set_keep_alive_max_count(1);
    m_server->set_read_timeout(options.idleTimeoutSec, 0);
    m_server->set_write_timeout(options.idleTimeoutSec, 0);
    m_server->set_payload_max_length(TranscribeRequest::maximumBodyBytes());
    // The library's default adds SO_REUSEPORT, which would let a second service share
    // the port silently instead of failing to start.
    m_server->set_socket_options([](int socket) {
        const int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    installRoutes();
}

TranscriptionServer::~TranscriptionServer() = default;

int TranscriptionServer::bind() {
    const int port =
        m_options.port == 0
            ? m_server->bind_to_any_port(m_options.host)
            : (m_server->bind_to_port(m_options.host, m_options.port) ? m_options.port : -1);
    if (port <= 0)
        throw std::runtime_error("Cannot listen on " + m_options.host + " port " +
                                 std::to_string(m_options.port) +
                                 ": the address is in use or not available.");
    return port;
}

void TranscriptionServer::run() {
    m_server->listen_after_bind();
}

void TranscriptionServer::stop() {
    m_server->stop();
}

void TranscriptionServer::installRoutes() {
    // A body declared longer than any acceptable request is refused from its headers
    // alone, before a byte of it is read.
    m_server->set_pre_routing_handler(
        [](const httplib::Request& request, httplib::Response& response) {
            const auto length = declaredLength(request);
            if (!length || *length <= TranscribeRequest::maximumBodyBytes())
                return httplib::Server::HandlerResponse::Unhandled;
            echoRequestId(request, response);
            response.set_header("Connection", "close");
            answer(response, RequestRefused::tooLarge, "error", TranscribeRequest::tooLargeReason);
            return httplib::Server::HandlerResponse::Handled;
        });

    m_server->set_exception_handler(
        [](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
            answer(response, statusInternalError, "error", "The service failed unexpectedly.");
        });

    m_server->Post(transcribePath, [this](const httplib::Request& request,
                                          httplib::Response& response,
                                          const httplib::ContentReader& content) {
        const Deadline deadline = Deadline::after(std::chrono::seconds(m_options.timeLimitSec));
        echoRequestId(request, response);

        std::string body;
        if (const auto length = declaredLength(request))
            body.reserve(static_cast<std::size_t>(*length));
        const bool complete = content([&](const char* data, std::size_t size) {
            body.append(data, size);
            return !deadline.passed();
        });
        if (!complete) {
            response.set_header("Connection", "close");
            answer(response, statusRequestTimeout, "error", "The body did not arrive in time.");
            return;
        }

        try {
            const std::string file = TranscribeRequest::audio(body);
            body = std::string();
            if (!m_recogniser.available())
                throw RequestRefused(RequestRefused::unavailable, m_recogniser.problem());
            auto ticket = m_admission.tryEnter();
            if (!ticket)
                throw RequestRefused(RequestRefused::busy, "Every worker is busy.");
            if (!ticket->waitForTurn(deadline))
                throw RequestRefused(RequestRefused::unavailable,
                                     "No worker became free in time; the request was abandoned.");
            const auto samples = AudioDecoder::decode(file, deadline);
            const std::string text = m_recogniser.recognise({file, samples}, deadline);
            answer(response, statusOk, "text", text);
        } catch (const RequestRefused& refusal) {
            answer(response, refusal.status(), "error", refusal.what());
        }
    });

    // For scripts and tests: whether requests can be recognised, and the current load.
    m_server->Get("/healthz", [this](const httplib::Request&, httplib::Response& response) {
        const bool ready = m_recogniser.available();
        const Admission::Load load = m_admission.load();
        QJsonObject object;
        object.insert(QLatin1String("status"),
                      ready ? QLatin1String("ready") : QLatin1String("unavailable"));
        if (!ready)
            object.insert(QLatin1String("problem"), QString::fromStdString(m_recogniser.problem()));
        object.insert(QLatin1String("working"), load.working);
        object.insert(QLatin1String("waiting"), load.waiting);
        response.status = ready ? statusOk : int(RequestRefused::unavailable);
        response.set_content(QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString(),
                             jsonType);
    });

    m_server->Get("/privacy", [this](const httplib::Request&, httplib::Response& response) {
        const std::string page =
            "<!DOCTYPE html>\n<html lang=\"en\">\n<head><meta charset=\"utf-8\">"
            "<title>Wispen Rezuraz transcription service: privacy</title></head>\n<body>\n"
            "<h1>Privacy</h1>\n"
            "<p>This service turns dictation recordings from Wispen Rezuraz into text.</p>\n"
            "<p>" +
            htmlEscaped(m_recogniser.privacyNote()) +
            "</p>\n"
            "<p>Each recording is kept in memory only while its request runs, then "
            "discarded: neither the audio nor the text is written to disk or logged.</p>\n"
            "</body>\n</html>\n";
        response.set_content(page, "text/html; charset=utf-8");
    });
}
