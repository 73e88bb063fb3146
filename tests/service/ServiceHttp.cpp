#include "ServiceHttp.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

std::string ServiceHttp::body(const std::string& audio) {
    return R"({"audio":")" + QByteArray::fromStdString(audio).toBase64().toStdString() +
           R"(","mimeType":"audio/mp4"})";
}

httplib::Result ServiceHttp::post(int port, const std::string& body,
                                  const httplib::Headers& headers) {
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(std::chrono::seconds(120));
    return client.Post("/api/transcribe", headers, body, "application/json");
}

int ServiceHttp::status(int port, const std::string& body) {
    const auto reply = post(port, body);
    return reply ? reply->status : 0;
}

QJsonValue ServiceHttp::health(int port, const char* member) {
    const auto reply = httplib::Client("127.0.0.1", port).Get("/healthz");
    return QJsonDocument::fromJson(QByteArray::fromStdString(reply ? reply->body : ""))
        .object()
        .value(member);
}

ServiceHttp::RawConnection::RawConnection(int port, const std::string& from)
    : m_fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in source{AF_INET, 0, {}, {}};
    inet_pton(AF_INET, from.c_str(), &source.sin_addr);
    sockaddr_in address{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0 ||
        connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot connect to the service");
}

ServiceHttp::RawConnection::~RawConnection() {
    if (m_fd >= 0)
        close(m_fd);
}

bool ServiceHttp::RawConnection::send(const std::string& bytes) {
    // A blocking send returns once every byte is on its way, or the peer has closed.
    return ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

ServiceHttp::RawConnection::Received
ServiceHttp::RawConnection::receive(std::chrono::seconds limit) {
    const timeval wait{static_cast<time_t>(limit.count()), 0};
    setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    Received received;
    char buffer[4096];
    ssize_t count = 0;
    while ((count = recv(m_fd, buffer, sizeof buffer, 0)) > 0)
        received.text.append(buffer, static_cast<std::size_t>(count));
    received.closed = count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
    return received;
}

int ServiceHttp::statusOf(const std::string& reply) {
    return reply.starts_with("HTTP/1.1 ") ? std::atoi(reply.c_str() + 9) : 0;
}
