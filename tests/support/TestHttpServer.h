#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QUrl>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

// A real HTTP/1.1 server for tests that exercise the network stack end to end.
//
// It listens on 127.0.0.1 on an ephemeral port from construction until stop() or
// destruction, answering GET and POST on any path on its own threads, so a test's
// Qt event loop stays free for the client under test. Each request is recorded
// (method, path, headers, body) and answered with the reply the test chose. A
// reply can stall after its status line and headers, until stop() ends it: `silent`
// sends nothing more, `trickle` one blank byte every trickleIntervalMs and `flood`
// blanks as fast as the client takes them; the last two notice when the client has
// gone away (clientsGone()). Every connection is closed after
// its reply, so stopping never waits for idle keep-alive clients.
//
// Replies are sent uncompressed, as "application/json; charset=utf-8" (a type the
// server never compresses). Constructing the server ignores SIGPIPE for the process,
// as writes to a client that went away must fail instead of ending the test.
//
//     TestHttpServer server;
//     server.reply({200, R"({"text":"hello"})"});
//     ... point the client at server.baseUrl() ...
//     ASSERT_TRUE(waitUntil([&] { return server.requests().size() == 1; }));
//     EXPECT_EQ(server.requests()[0].header("X-Request-ID").size(), 36);
class TestHttpServer {
public:
    enum class Stall { none, silent, trickle, flood };

    static constexpr int trickleIntervalMs = 20;

    struct Request {
        QByteArray method;
        QByteArray path;
        QMap<QByteArray, QByteArray> headers; // by lower-case name
        // A multipart form's parts each as its name, file name, type and content,
        // followed by a line feed.
        QByteArray body;

        // The value of the header of that name (any case), empty when absent.
        QByteArray header(const QByteArray& name) const { return headers.value(name.toLower()); }
    };

    struct Reply {
        int status = 200;
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers = {};
        Stall stall = Stall::none;
    };

    // Throws std::runtime_error when no port can be bound.
    TestHttpServer();
    ~TestHttpServer();

    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    // "http://127.0.0.1:<port>"
    QUrl baseUrl() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port)); }

    // Every following request gets this reply (until then: 200 with {"text":"ok"}).
    void reply(const Reply& reply);

    // Requests whose headers and body arrived, in order of arrival.
    std::vector<Request> requests() const;

    // Stalled replies that have not ended yet.
    int stalling() const { return m_stalling; }
    // Trickling or flooding replies that found the client gone before the server stopped.
    int clientsGone() const { return m_clientsGone; }

    // Stops listening and ends every stalled reply; idempotent.
    void stop();

private:
    // Waits for stop() up to `ms`; true when the stall is over.
    bool waitForStop(int ms);

    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    std::atomic<bool> m_listenEnded = false;
    int m_port = 0;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    Reply m_reply{200, R"({"text":"ok"})"};
    std::vector<Request> m_requests;
    bool m_stopping = false;
    std::atomic<int> m_stalling = 0;
    std::atomic<int> m_clientsGone = 0;
};
