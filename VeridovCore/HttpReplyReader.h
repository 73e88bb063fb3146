#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

// Reads one HTTP/1.x reply from the bytes of a connection as they arrive, within
// fixed limits, so that no server, hostile or broken, makes the client hold more
// than it allows or take something else for a reply: the status line and headers
// may take `maximumHeaderBytes`, the body one byte more than the caller's limit
// (enough to tell that it is over). The body is framed by Content-Length, by the
// chunked transfer coding, or by the end of the connection. Interim 1xx replies
// are skipped.
class HttpReplyReader {
public:
    enum class Result {
        reading,         // the reply is not complete yet
        complete,        // status and body are known
        notHttp,         // what arrived is not an HTTP/1.x reply
        headersTooLarge, // the status line and headers passed their limit
        bodyTooLarge,    // the body passed the caller's limit
        truncated,       // the connection ended before the reply did
    };

    static constexpr qsizetype maximumHeaderBytes = 64 * 1024;

    explicit HttpReplyReader(qint64 maximumBodyBytes);

    // Takes the next bytes of the connection. Once a result other than `reading` is
    // returned, it stays.
    Result read(QByteArrayView bytes);
    // The connection ended: a body framed by the connection is complete, anything
    // else unfinished is truncated.
    Result end();

    // The status code, once the headers have arrived; 0 before.
    int status() const { return m_status; }
    // The body read so far; at most the limit plus one byte.
    const QByteArray& body() const { return m_body; }

private:
    enum class Part { head, sizedBody, chunkSize, chunkData, chunkEnd, trailer, bodyToEnd, done };

    Result finish(Result result);
    // Takes one line of the status line, headers or trailer.
    Result headLine(const QByteArray& line);
    Result startBody();
    // Moves `count` bytes of the pending input to the body, keeping at most the limit
    // plus one.
    Result takeBody(qsizetype count);
    // The next line of the pending input without its line break, or nothing yet.
    std::optional<QByteArray> takeLine();

    qint64 m_maximumBodyBytes;
    Part m_part = Part::head;
    Result m_result = Result::reading;
    QByteArray m_pending;
    qsizetype m_searched = 0; // bytes of m_pending known to hold no line break
    qsizetype m_headBytes = 0;
    int m_status = 0;
    qint64 m_contentLength = -1;
    bool m_chunked = false;
    qint64 m_remaining = 0; // of the sized body or the current chunk
    QByteArray m_body;
};
