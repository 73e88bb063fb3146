#include "HttpServer.h"

#include "RequestRefused.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <optional>
#include <stdexcept>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

// Waiting before accepting again when the process is out of descriptors.
constexpr std::chrono::milliseconds acceptRetry{100};
constexpr std::size_t lingerBufferBytes = 16384;

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

std::string HttpRequest::get_header_value(const std::string& name) const {
    const auto found = headers.find(lowered(name));
    return found == headers.end() ? std::string() : found->second;
}

void HttpResponse::set_header(const std::string& name, const std::string& value) {
    headers.emplace_back(name, value);
}

void HttpResponse::set_content(std::string content, const std::string& type) {
    body = std::move(content);
    contentType = type;
}

struct HttpServer::Impl {
    explicit Impl(const Limits& limits)
        : limits(limits)
        , handlers(static_cast<std::size_t>(limits.handlerThreads)) {}

    Limits limits;
    // Network thread only, and declared before the I/O context so that connections
    // it still holds when it goes can count themselves out.
    bool stopping = false;
    int open = 0;
    std::map<asio::ip::address, int> perClient;
    asio::io_context io{1};
    tcp::acceptor acceptor{io};
    asio::steady_timer retry{io};
    asio::steady_timer grace{io};
    asio::thread_pool handlers;
    std::atomic<int> busyHandlers = 0;
    std::map<std::string, Handler> gets;
    std::map<std::string, Handler> posts;
    Refusal refusal;
    std::vector<std::weak_ptr<Connection>> live;

    void accept();
    void refuseAtOnce(tcp::socket& socket, int status, const std::string& reason);
    http::response<http::string_body> reply(const HttpResponse& response) const;
    HttpResponse refused(const HttpRequest& request, int status, const std::string& reason) const;
};

// One client connection, from its arrival to its close. Lives on the network
// thread; a handler thread only ever holds it to hand the reply back.
class HttpServer::Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(Impl& server, tcp::socket socket, asio::ip::address client)
        : m_server(server)
        , m_stream(std::move(socket))
        , m_client(client)
        , m_deadline(Deadline::after(server.limits.requestTime)) {
        ++m_server.open;
        ++m_server.perClient[m_client];
    }

    ~Connection() {
        --m_server.open;
        if (--m_server.perClient[m_client] == 0)
            m_server.perClient.erase(m_client);
        if (m_server.stopping && m_server.open == 0)
            m_server.grace.cancel();
    }

    void start() {
        m_parser.emplace();
        m_parser->header_limit(static_cast<std::uint32_t>(m_server.limits.headerBytes));
        m_parser->body_limit(m_server.limits.bodyBytes);
        m_stream.expires_at(std::min(Clock::now() + m_server.limits.headerTime, m_deadline.at()));
        http::async_read_header(m_stream, m_buffer, *m_parser,
                                [self = shared_from_this()](beast::error_code error, std::size_t) {
                                    self->onHeader(error);
                                });
    }

    // The server is stopping: a request still arriving is answered at once.
    void stopping() {
        if (m_phase == Phase::reading)
            m_stream.cancel();
    }

    // The grace is over: a request still being handled is answered 503, anything
    // else is closed.
    void abandon() {
        if (m_phase == Phase::handling)
            refuse(RequestRefused::unavailable,
                   "The service stopped before the request was finished.");
        else if (m_phase != Phase::writing)
            m_stream.socket().close();
    }

private:
    enum class Phase { reading, handling, writing, closing };

    void onHeader(beast::error_code error) {
        if (error)
            return fail(error);
        const auto& request = m_parser->get();
        if (request.method() == http::verb::post && !m_parser->content_length() &&
            !m_parser->chunked())
            return refuse(RequestRefused::lengthRequired, "A request body needs a Content-Length.");
        if (beast::iequals(request[http::field::expect], "100-continue")) {
            m_phase = Phase::writing;
            static const std::string proceed = "HTTP/1.1 100 Continue\r\n\r\n";
            asio::async_write(
                m_stream, asio::buffer(proceed),
                [self = shared_from_this()](beast::error_code error, std::size_t) {
                    self->m_phase = Phase::reading;
                    if (error || self->m_server.stopping)
                        return self->fail(
                            error ? error : beast::error_code(asio::error::operation_aborted));
                    self->readBody();
                });
            return;
        }
        readBody();
    }

    // The body arrives in pieces, so the pause between them and the whole request
    // are timed, and its size is counted, whatever the framing.
    void readBody() {
        if (m_parser->is_done())
            return dispatch();
        m_stream.expires_at(std::min(Clock::now() + m_server.limits.idleTime, m_deadline.at()));
        http::async_read_some(m_stream, m_buffer, *m_parser,
                              [self = shared_from_this()](beast::error_code error, std::size_t) {
                                  if (error)
                                      return self->fail(error);
                                  self->readBody();
                              });
    }

    void fail(beast::error_code error) {
        if (error == http::error::body_limit)
            return refuse(RequestRefused::tooLarge, "The body is larger than the service accepts.");
        if (error == http::error::header_limit)
            return refuse(RequestRefused::headersTooLarge, "The request headers are too large.");
        // A timed-out stream is already closed, so a deadline ends in silence.
        if (error == beast::error::timeout)
            return close();
        if (error == asio::error::operation_aborted && m_server.stopping)
            return refuse(RequestRefused::unavailable, "The service is stopping.");
        // A client that went away needs no answer; anything else it sent is malformed.
        if (error.category() == beast::error_code(http::error::end_of_stream).category() &&
            error != http::error::end_of_stream && error != http::error::partial_message)
            return refuse(RequestRefused::badRequest, "The request is not valid HTTP/1.1.");
        close();
    }

    HttpRequest request() {
        auto message = m_parser->release();
        HttpRequest request;
        request.method = std::string(message.method_string());
        const std::string target(message.target());
        request.path = target.substr(0, target.find('?'));
        for (const auto& field : message)
            request.headers.emplace(lowered(std::string(field.name_string())),
                                    std::string(field.value()));
        request.body = std::move(message.body());
        request.deadline = m_deadline;
        return request;
    }

    void dispatch() {
        const bool post = m_parser->get().method() == http::verb::post;
        HttpRequest exchange = request();
        const auto& routes = post ? m_server.posts : m_server.gets;
        const auto route = routes.find(exchange.path);
        if (route == routes.end())
            return write(
                m_server.refused(exchange, RequestRefused::notFound, "There is nothing here."));
        if (!post) {
            HttpResponse response;
            route->second(exchange, response);
            return write(response);
        }
        m_phase = Phase::handling;
        ++m_server.busyHandlers;
        // The handler's copy of the connection goes back with the reply, so the
        // connection always ends on the network thread.
        asio::post(m_server.handlers, [self = shared_from_this(), handler = route->second,
                                       exchange = std::move(exchange)]() mutable {
            HttpResponse response;
            try {
                handler(exchange, response);
            } catch (const std::exception&) {
                response = self->m_server.refused(exchange, RequestRefused::failed,
                                                  "The service failed unexpectedly.");
            }
            --self->m_server.busyHandlers;
            auto& io = self->m_server.io;
            asio::post(io, [self = std::move(self), response = std::move(response)] {
                if (self->m_phase == Phase::handling)
                    self->write(response);
            });
        });
    }

    void refuse(int status, const std::string& reason) {
        // The fields read so far, even when the headers broke off.
        HttpRequest sofar;
        if (m_parser)
            for (const auto& field : m_parser->get())
                sofar.headers.emplace(lowered(std::string(field.name_string())),
                                      std::string(field.value()));
        write(m_server.refused(sofar, status, reason));
    }

    void write(const HttpResponse& response) {
        m_phase = Phase::writing;
        m_reply = m_server.reply(response);
        m_stream.expires_after(m_server.stopping ? stopGrace : m_server.limits.idleTime);
        http::async_write(m_stream, m_reply,
                          [self = shared_from_this()](beast::error_code error, std::size_t) {
                              if (error)
                                  return self->close();
                              self->linger();
                          });
    }

    // Reads and drops what the client still sends, briefly, so that closing with
    // unread data does not reset the connection before the client read the reply.
    void linger() {
        m_phase = Phase::closing;
        beast::error_code ignored;
        m_stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
        m_stream.expires_after(lingerTime);
        m_scratch.resize(lingerBufferBytes);
        drain();
    }

    void drain() {
        m_stream.async_read_some(asio::buffer(m_scratch),
                                 [self = shared_from_this()](beast::error_code error, std::size_t) {
                                     if (error)
                                         return self->close();
                                     self->drain();
                                 });
    }

    void close() {
        m_phase = Phase::closing;
        beast::error_code ignored;
        m_stream.socket().close(ignored);
    }

    Impl& m_server;
    beast::tcp_stream m_stream;
    asio::ip::address m_client;
    Deadline m_deadline;
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::string_body>> m_parser;
    http::response<http::string_body> m_reply;
    std::vector<char> m_scratch;
    Phase m_phase = Phase::reading;
};

HttpResponse HttpServer::Impl::refused(const HttpRequest& request, int status,
                                       const std::string& reason) const {
    HttpResponse response;
    response.status = status;
    if (refusal)
        refusal(request, status, reason, response);
    else
        response.set_content(reason, "text/plain");
    return response;
}

http::response<http::string_body> HttpServer::Impl::reply(const HttpResponse& response) const {
    http::response<http::string_body> message{static_cast<http::status>(response.status), 11};
    for (const auto& [name, value] : response.headers)
        message.set(name, value);
    if (!response.contentType.empty())
        message.set(http::field::content_type, response.contentType);
    message.keep_alive(false);
    message.body() = response.body;
    message.prepare_payload();
    return message;
}

// Over a cap, the connection is answered before a byte of it is read, on a fresh
// socket whose send buffer takes the short reply at once.
void HttpServer::Impl::refuseAtOnce(tcp::socket& socket, int status, const std::string& reason) {
    auto message = reply(refused(HttpRequest{}, status, reason));
    beast::error_code ignored;
    http::write(socket, message, ignored);
    socket.shutdown(tcp::socket::shutdown_send, ignored);
    socket.close(ignored);
}

void HttpServer::Impl::accept() {
    acceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
        if (stopping)
            return;
        if (error) {
            // Out of descriptors or a connection reset before it was taken: try again
            // shortly rather than spinning.
            retry.expires_after(acceptRetry);
            retry.async_wait([this](beast::error_code) { accept(); });
            return;
        }
        beast::error_code peerError;
        const auto client = socket.remote_endpoint(peerError).address();
        if (peerError) {
            accept();
            return;
        }
        if (perClient[client] >= limits.connectionsPerClient)
            refuseAtOnce(socket, RequestRefused::busy,
                         "This client has too many open connections to the service.");
        else if (open >= limits.connections)
            refuseAtOnce(socket, RequestRefused::unavailable,
                         "The service has too many open connections.");
        else {
            auto connection = std::make_shared<Connection>(*this, std::move(socket), client);
            std::erase_if(live, [](const auto& entry) { return entry.expired(); });
            live.push_back(connection);
            connection->start();
        }
        if (perClient[client] == 0)
            perClient.erase(client);
        accept();
    });
}

HttpServer::HttpServer(const Limits& limits)
    : m_impl(std::make_unique<Impl>(limits)) {}

HttpServer::~HttpServer() {
    m_impl->handlers.join();
}

void HttpServer::Get(const std::string& path, Handler handler) {
    m_impl->gets[path] = std::move(handler);
}

void HttpServer::Post(const std::string& path, Handler handler) {
    m_impl->posts[path] = std::move(handler);
}

void HttpServer::setRefusal(Refusal refusal) {
    m_impl->refusal = std::move(refusal);
}

int HttpServer::bind(const std::string& host, int port) {
    beast::error_code error;
    const auto address = asio::ip::make_address(host, error);
    tcp::acceptor& acceptor = m_impl->acceptor;
    const tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
    // SO_REUSEADDR only: a second service must fail to start rather than share the port.
    if (!error)
        acceptor.open(endpoint.protocol(), error);
    if (!error)
        acceptor.set_option(tcp::acceptor::reuse_address(true), error);
    if (!error)
        acceptor.bind(endpoint, error);
    if (!error)
        acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error)
        throw std::runtime_error("Cannot listen on " + host + " port " + std::to_string(port) +
                                 ": the address is in use or not available.");
    return acceptor.local_endpoint().port();
}

void HttpServer::run() {
    m_impl->accept();
    m_impl->io.run();
}

void HttpServer::stop() {
    asio::post(m_impl->io, [impl = m_impl.get()] {
        if (impl->stopping)
            return;
        impl->stopping = true;
        beast::error_code ignored;
        impl->acceptor.close(ignored);
        impl->retry.cancel();
        for (const auto& entry : impl->live)
            if (const auto connection = entry.lock())
                connection->stopping();
        if (impl->open == 0)
            return;
        impl->grace.expires_after(stopGrace);
        impl->grace.async_wait([impl](beast::error_code) {
            for (const auto& entry : impl->live)
                if (const auto connection = entry.lock())
                    connection->abandon();
        });
    });
}

bool HttpServer::handling() const {
    return m_impl->busyHandlers > 0;
}
