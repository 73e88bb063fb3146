#include "TestHttpServer.h"

#include <httplib.h>

#include <csignal>
#include <stdexcept>

TestHttpServer::TestHttpServer()
    : m_server(std::make_unique<httplib::Server>()) {
    std::signal(SIGPIPE, SIG_IGN);
    m_server->set_keep_alive_max_count(1);

    static constexpr const char* contentType = "application/json; charset=utf-8";
    const auto serve = [this](const httplib::Request& in, httplib::Response& out) {
        const auto bytes = [](const std::string& text) { return QByteArray::fromStdString(text); };
        Request request{bytes(in.method), bytes(in.path), {}, bytes(in.body)};
        for (const auto& [name, value] : in.headers)
            request.headers.insert(bytes(name).toLower(), bytes(value));
        for (const auto& [name, part] : in.files)
            request.body += bytes(name + '\n' + part.filename + '\n' + part.content_type + '\n' +
                                  part.content + '\n');
        const Reply reply = [&] {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(request);
            return m_reply;
        }();

        out.status = reply.status;
        for (const auto& [name, value] : reply.headers)
            out.set_header(name.toStdString(), value.toStdString());
        if (reply.stall == Stall::none)
            return out.set_content(reply.body.toStdString(), contentType);
        ++m_stalling;
        const std::size_t blanks =
            reply.stall == Stall::flood ? 65536 : reply.stall == Stall::trickle;
        const auto provide = [this, blanks](size_t, httplib::DataSink& sink) {
            if (waitForStop(blanks > 1 ? 0 : trickleIntervalMs))
                return false;
            static const std::string spaces(65536, ' ');
            if (blanks == 0 || sink.write(spaces.data(), blanks))
                return true;
            ++m_clientsGone;
            return false;
        };
        out.set_chunked_content_provider(contentType, provide, [this](bool) { --m_stalling; });
    };
    m_server->Get(".*", serve);
    m_server->Post(".*", serve);

    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        throw std::runtime_error("TestHttpServer: cannot bind a loopback port");
    // The socket is already listening: connections wait in its backlog until the
    // accepting thread runs. stop() only works once that thread is running.
    m_thread = std::thread([this] {
        m_server->listen_after_bind();
        m_listenEnded = true;
    });
    while (!m_server->is_running() && !m_listenEnded)
        std::this_thread::yield();
}

TestHttpServer::~TestHttpServer() {
    stop();
}

void TestHttpServer::reply(const Reply& reply) {
    std::lock_guard lock(m_mutex);
    m_reply = reply;
}

std::vector<TestHttpServer::Request> TestHttpServer::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

bool TestHttpServer::waitForStop(int ms) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stopping; });
}

void TestHttpServer::stop() {
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        m_stopping = true;
        m_changed.notify_all();
    }
    m_server->stop();
    m_thread.join();
}
