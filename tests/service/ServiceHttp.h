#pragma once

#include <chrono>
#include <string>

// Building transcription requests and talking to the service below the level of an
// HTTP client library, for what a well-behaved client never sends.
namespace ServiceHttp {

// The JSON body for `audio`, optionally with every slash escaped as the
// application's JSON writer may do.
std::string body(const std::string& audio, bool escapeSlashes = false,
                 const std::string& mimeType = "audio/mp4");

std::string base64(const std::string& bytes);

// Opens a connection to 127.0.0.1:port; throws std::runtime_error on failure.
class RawConnection {
public:
    explicit RawConnection(int port);
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    // Sends all of `bytes`; false when the peer has closed.
    bool send(const std::string& bytes);

    // Everything the peer sends until it closes the connection or `limit` passes.
    std::string receiveUntilClosed(std::chrono::milliseconds limit);

    // True when the peer closed the connection within `limit`.
    bool closedWithin(std::chrono::milliseconds limit);

private:
    int m_fd = -1;
};

// The status code of a raw HTTP reply, or 0 when there is none.
int statusOf(const std::string& reply);

// A header block for POST /api/transcribe declaring `contentLength` bytes.
std::string postHeaders(std::size_t contentLength, const std::string& requestId = {});

} // namespace ServiceHttp
