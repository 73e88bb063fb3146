#include "TestHttpServer.h"

#include <httplib.h>

#include <csignal>
#include <stdexcept>

namespace {

QByteArray bytes(const std::string& text) {
    return QByteArray::fromStdString(text);
}

std::string text(const QByteArray& bytes) {
    return bytes.toStdString();
}

} // namespace

QByteArray TestHttpServer::Request::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

TestHttpServer::TestHttpServer()
    : m_server(std::make_unique<httplib::Server>()) {
    std::signal(SIGPIPE, SIG_IGN);
    reply({200, R"({"text":"ok"})"});
    m_server->set_keep_alive_max_count(1);

    const auto serve = [this](const httplib::Request& in, httplib::Response& out) {
        Request request{bytes(in.method), bytes(in.path), {}, bytes(in.body)};
        for (const auto& [name, value] : in.headers)
            request.headers.append({bytes(name), bytes(value)});
        for (const auto& [name, part] : in.files)
            request.body += bytes(name + '\n' + part.filename + '\n' + part.content_type + '\n' +
                                  part.content + '\n');
        const Reply reply = answer(request);

        out.status = reply.status;
        for (const auto& [name, value] : reply.headers)
            out.set_header(text(name), text(value));
        if (reply.stall == Stall::none)
            return out.set_content(text(reply.body), text(reply.contentType).c_str());
        {
            std::lock_guard lock(m_mutex);
            ++m_stalling;
        }
        const std::size_t blanks =
            reply.stall == Stall::flood ? 65536 : reply.stall == Stall::trickle;
        const auto provide = [this, blanks, body = text(reply.body)](size_t,
                                                                     httplib::DataSink& sink) {
            if (waitForRelease(blanks > 1 ? 0 : trickleIntervalMs)) {
                if (!body.empty())
                    sink.write(body.data(), body.size());
                sink.done();
                return true;
            }
            static const std::string spaces(65536, ' ');
            if (blanks == 0 || sink.write(spaces.data(), blanks))
                return true;
            std::lock_guard lock(m_mutex);
            ++m_clientsGone;
            return false;
        };
        const auto ended = [this](bool) {
            std::lock_guard lock(m_mutex);
            --m_stalling;
        };
        out.set_chunked_content_provider(text(reply.contentType), provide, ended);
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

QUrl TestHttpServer::baseUrl() const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port));
}

void TestHttpServer::reply(const Reply& reply) {
    std::lock_guard lock(m_mutex);
    m_reply = reply;
}

TestHttpServer::Reply TestHttpServer::answer(const Request& request) {
    std::lock_guard lock(m_mutex);
    m_requests.push_back(request);
    return m_reply;
}

int TestHttpServer::requestCount() const {
    std::lock_guard lock(m_mutex);
    return int(m_requests.size());
}

std::vector<TestHttpServer::Request> TestHttpServer::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void TestHttpServer::release() {
    std::lock_guard lock(m_mutex);
    m_released = true;
    m_changed.notify_all();
}

int TestHttpServer::stalling() const {
    std::lock_guard lock(m_mutex);
    return m_stalling;
}

int TestHttpServer::clientsGone() const {
    std::lock_guard lock(m_mutex);
    return m_clientsGone;
}

bool TestHttpServer::waitForRelease(int ms) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(ms),
                              [this] { return m_released || m_stopping; });
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
    if (m_thread.joinable())
        m_thread.join();
}
