#pragma once

#include <QJsonValue>
#include <httplib.h>

#include <chrono>
#include <string>

// Building transcription requests and sending them, through an HTTP client library
// or below it for what a well-behaved client never sends.
namespace ServiceHttp {

// The JSON body for `audio`.
std::string body(const std::string& audio);

// POST /api/transcribe to the service on `port`, waiting up to two minutes for the reply.
httplib::Result post(int port, const std::string& body, const httplib::Headers& headers = {});

// The status of POST /api/transcribe with `body`, or 0 when there is no reply.
int status(int port, const std::string& body);

// A member of the /healthz reply; undefined when there is no reply.
QJsonValue health(int port, const char* member);

// Opens a connection to 127.0.0.1:port from loopback address `from`, so tests can
// be several clients; throws std::runtime_error on failure.
class RawConnection {
public:
    explicit RawConnection(int port, const std::string& from = "127.0.0.1");
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    // Sends all of `bytes`; false when the peer has closed.
    bool send(const std::string& bytes);

    // Everything the peer sends until it closes the connection or sends nothing for `limit`.
    struct Received {
        std::string text;
        bool closed = false;
    };
    Received receive(std::chrono::seconds limit);

private:
    int m_fd = -1;
};

// The status code of a raw HTTP reply, or 0 when there is none.
int statusOf(const std::string& reply);

// The start of a POST /api/transcribe whose body never arrives whole.
inline constexpr const char* unfinishedPost = "POST /api/transcribe HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                              "Content-Length: 1000\r\n\r\n{\"audio\":\"";

} // namespace ServiceHttp
