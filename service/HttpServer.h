#pragma once

#include "Deadline.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// One request as a handler sees it: complete, within the size limits, with the
// deadline its whole exchange must meet (counted from the connection's arrival).
struct HttpRequest {
    std::string method;
    std::string path;
    std::multimap<std::string, std::string> headers; // names in lower case
    std::string body;
    Deadline deadline = Deadline::after(std::chrono::milliseconds(0));

    // The first value of header `name` (any letter case), or "".
    std::string get_header_value(const std::string& name) const;
};

struct HttpResponse {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::string contentType;

    void set_header(const std::string& name, const std::string& value);
    void set_content(std::string content, const std::string& type);
};

// The HTTP/1.1 side of the service: one network thread serves every connection
// without blocking, so idle, slow or hostile clients cost a socket each and never
// a thread; handlers that may take long run on a pool of their own. Every limit
// is enforced as bytes arrive, whatever the framing: headers within headerTime
// and headerBytes, the body within bodyBytes and the request's deadline, and at
// most `connections` open connections, `connectionsPerClient` from one address.
// One request per connection. A deadline or pause limit that passes closes the
// connection without a reply.
class HttpServer {
public:
    using Handler = std::function<void(const HttpRequest&, HttpResponse&)>;
    // Words a refusal made by the server itself: the request so far (possibly only
    // its headers, or nothing), the status and a sentence.
    using Refusal =
        std::function<void(const HttpRequest&, int status, const std::string&, HttpResponse&)>;

    struct Limits {
        std::size_t bodyBytes = 0;
        std::size_t headerBytes = 16384;
        std::chrono::milliseconds headerTime{5000};
        std::chrono::milliseconds idleTime{10000};    // longest pause within a body or a reply
        std::chrono::milliseconds requestTime{75000}; // the whole exchange
        int connections = 512;
        int connectionsPerClient = 64;
        int handlerThreads = 4;
    };

    // How long stop() lets requests in flight finish before answering them 503.
    static constexpr std::chrono::milliseconds stopGrace{3000};
    // How long a closed exchange keeps reading what the client still sends, so the
    // reply is not lost to a reset.
    static constexpr std::chrono::milliseconds lingerTime{1000};

    explicit HttpServer(const Limits& limits);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Quick handlers, answered on the network thread: they must not block.
    void Get(const std::string& path, Handler handler);
    // Handlers that may take long, run on the handler threads.
    void Post(const std::string& path, Handler handler);
    void setRefusal(Refusal refusal);

    // Binds and listens; returns the port (useful with port 0), or throws
    // std::runtime_error with a sentence when the address cannot be taken.
    int bind(const std::string& host, int port);

    // Serves until stop() has been called and every connection has ended.
    void run();

    // From any thread: stops accepting, answers 503 to requests still arriving,
    // gives those being handled stopGrace to finish and answers 503 for the rest.
    void stop();

    // Whether a handler thread is still busy (after run(), one that overran stop()).
    bool handling() const;

private:
    class Connection;
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
