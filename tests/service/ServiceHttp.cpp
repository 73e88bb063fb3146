#include "ServiceHttp.h"

#include <QByteArray>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

std::string ServiceHttp::base64(const std::string& bytes) {
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())).toBase64().toStdString();
}

std::string ServiceHttp::body(const std::string& audio, bool escapeSlashes,
                              const std::string& mimeType) {
    std::string text = base64(audio);
    std::string type = mimeType;
    if (escapeSlashes) {
        auto escape = [](const std::string& plain) {
            std::string escaped;
            for (const char c : plain) {
                if (c == '/')
                    escaped += '\\';
                escaped += c;
            }
            return escaped;
        };
        text = escape(text);
        type = escape(type);
    }
    return "{\"audio\":\"" + text + "\",\"mimeType\":\"" + type + "\"}";
}

ServiceHttp::RawConnection::RawConnection(int port) {
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (m_fd < 0 || connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot connect to the service");
}

ServiceHttp::RawConnection::~RawConnection() {
    if (m_fd >= 0)
        close(m_fd);
}

bool ServiceHttp::RawConnection::send(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t count = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count <= 0)
            return false;
        sent += static_cast<std::size_t>(count);
    }
    return true;
}

std::string ServiceHttp::RawConnection::receiveUntilClosed(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string received;
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return received;
        pollfd entry{m_fd, POLLIN, 0};
        if (poll(&entry, 1, static_cast<int>(left.count())) <= 0)
            return received;
        char buffer[4096];
        const ssize_t count = recv(m_fd, buffer, sizeof buffer, 0);
        if (count <= 0)
            return received;
        received.append(buffer, static_cast<std::size_t>(count));
    }
}

bool ServiceHttp::RawConnection::closedWithin(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd entry{m_fd, POLLIN, 0};
        if (poll(&entry, 1, static_cast<int>(left.count())) <= 0)
            return false;
        char buffer[4096];
        const ssize_t count = recv(m_fd, buffer, sizeof buffer, 0);
        if (count <= 0)
            return true;
    }
}

int ServiceHttp::statusOf(const std::string& reply) {
    if (!reply.starts_with("HTTP/1.1 ") || reply.size() < 12)
        return 0;
    return std::stoi(reply.substr(9, 3));
}

std::string ServiceHttp::postHeaders(std::size_t contentLength, const std::string& requestId) {
    std::string headers = "POST /api/transcribe HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                          "Content-Type: application/json\r\n"
                          "Content-Length: " +
                          std::to_string(contentLength) + "\r\n";
    if (!requestId.empty())
        headers += "X-Request-ID: " + requestId + "\r\n";
    return headers + "\r\n";
}
