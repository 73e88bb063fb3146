#include "HttpReplyReader.h"

#include <algorithm>

namespace {

constexpr QByteArrayView httpPrefix = "HTTP/";
// A chunk-size line: hexadecimal digits and perhaps extensions.
constexpr qsizetype maximumChunkLineBytes = 1024;
// Digits of a Content-Length or chunk size that still fit in 64 bits whatever they say.
constexpr qsizetype maximumLengthDigits = 15;

bool isTokenCharacter(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

// "HTTP/1.x SSS" followed by nothing or by a space and a reason: the status, or 0.
int statusOf(QByteArrayView line) {
    if (line.size() < 12 || !line.startsWith("HTTP/1.") || line[8] != ' ' ||
        (line.size() > 12 && line[12] != ' '))
        return 0;
    const QByteArrayView code = line.sliced(9, 3);
    if (!std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    return code.toInt();
}

std::optional<qint64> numberOf(QByteArrayView text, int base) {
    text = text.trimmed();
    if (text.isEmpty() || text.size() > maximumLengthDigits || text.startsWith('+') ||
        text.startsWith('-'))
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, base);
    return ok ? std::optional(value) : std::nullopt;
}

} // namespace

HttpReplyReader::HttpReplyReader(qint64 maximumBodyBytes)
    : m_maximumBodyBytes(maximumBodyBytes) {}

HttpReplyReader::Result HttpReplyReader::finish(Result result) {
    m_result = result;
    m_pending.clear();
    if (result == Result::complete)
        m_part = Part::done;
    return result;
}

std::optional<QByteArray> HttpReplyReader::takeLine() {
    // A line arriving in small pieces is searched once, not once per piece.
    const qsizetype end = m_pending.indexOf('\n', m_searched);
    if (end < 0) {
        m_searched = m_pending.size();
        return std::nullopt;
    }
    m_searched = 0;
    QByteArray line = m_pending.left(end);
    m_pending.remove(0, end + 1);
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

HttpReplyReader::Result HttpReplyReader::read(QByteArrayView bytes) {
    if (m_result != Result::reading)
        return m_result;
    m_pending.append(bytes);
    while (m_result == Result::reading) {
        switch (m_part) {
        case Part::head:
        case Part::trailer: {
            if (m_status == 0 && !httpPrefix.startsWith(QByteArrayView(m_pending).first(
                                     std::min(m_pending.size(), httpPrefix.size()))))
                return finish(Result::notHttp);
            const qsizetype before = m_pending.size();
            const std::optional<QByteArray> line = takeLine();
            m_headBytes += before - m_pending.size();
            if (m_headBytes + (line ? 0 : m_pending.size()) > maximumHeaderBytes)
                return finish(Result::headersTooLarge);
            if (!line)
                return m_result;
            if (const Result result = headLine(*line); result != Result::reading)
                return finish(result);
            break;
        }
        case Part::chunkSize: {
            const std::optional<QByteArray> line = takeLine();
            if (!line) {
                if (m_pending.size() > maximumChunkLineBytes)
                    return finish(Result::notHttp);
                return m_result;
            }
            const qsizetype extension = line->indexOf(';');
            const std::optional<qint64> size =
                numberOf(QByteArrayView(*line).first(extension < 0 ? line->size() : extension), 16);
            if (!size)
                return finish(Result::notHttp);
            m_remaining = *size;
            m_part = *size == 0 ? Part::trailer : Part::chunkData;
            break;
        }
        case Part::chunkEnd: {
            if (m_pending.size() < 2 && !m_pending.contains('\n'))
                return m_result;
            const std::optional<QByteArray> line = takeLine();
            if (!line || !line->isEmpty())
                return finish(Result::notHttp);
            m_part = Part::chunkSize;
            break;
        }
        case Part::sizedBody:
        case Part::chunkData:
        case Part::bodyToEnd: {
            if (m_pending.isEmpty())
                return m_result;
            const qsizetype count =
                m_part == Part::bodyToEnd
                    ? m_pending.size()
                    : qsizetype(std::min<qint64>(m_remaining, m_pending.size()));
            if (const Result result = takeBody(count); result != Result::reading)
                return finish(result);
            m_remaining -= count;
            if (m_part == Part::sizedBody && m_remaining == 0)
                return finish(Result::complete);
            if (m_part == Part::chunkData && m_remaining == 0)
                m_part = Part::chunkEnd;
            break;
        }
        case Part::done:
            return m_result;
        }
    }
    return m_result;
}

HttpReplyReader::Result HttpReplyReader::headLine(const QByteArray& line) {
    if (m_part == Part::trailer)
        return line.isEmpty() ? Result::complete : Result::reading;
    if (m_status == 0) {
        m_status = statusOf(line);
        return m_status == 0 ? Result::notHttp : Result::reading;
    }
    if (line.isEmpty())
        return startBody();
    const qsizetype colon = line.indexOf(':');
    const QByteArrayView name = QByteArrayView(line).first(std::max<qsizetype>(colon, 0));
    if (name.isEmpty() || !std::all_of(name.begin(), name.end(), isTokenCharacter))
        return Result::notHttp;
    const QByteArray value = line.mid(colon + 1).trimmed().toLower();
    if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
        const std::optional<qint64> length = numberOf(value, 10);
        if (!length || (m_contentLength >= 0 && *length != m_contentLength))
            return Result::notHttp;
        m_contentLength = *length;
    } else if (name.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0) {
        // Only the chunked coding is understood; anything else cannot be read.
        if (value != "chunked")
            return Result::notHttp;
        m_chunked = true;
    }
    return Result::reading;
}

HttpReplyReader::Result HttpReplyReader::startBody() {
    if (m_status < 200) {
        // An interim reply: the real one follows.
        m_status = 0;
        m_contentLength = -1;
        m_chunked = false;
        return Result::reading;
    }
    if (m_status == 204 || m_status == 304)
        return Result::complete;
    if (m_chunked) {
        m_part = Part::chunkSize;
    } else if (m_contentLength >= 0) {
        if (m_contentLength > m_maximumBodyBytes)
            return Result::bodyTooLarge;
        if (m_contentLength == 0)
            return Result::complete;
        m_remaining = m_contentLength;
        m_part = Part::sizedBody;
    } else {
        m_part = Part::bodyToEnd;
    }
    return Result::reading;
}

HttpReplyReader::Result HttpReplyReader::takeBody(qsizetype count) {
    const qint64 room = m_maximumBodyBytes - m_body.size();
    m_body.append(QByteArrayView(m_pending).first(std::min<qint64>(count, room + 1)));
    m_pending.remove(0, count);
    return m_body.size() > m_maximumBodyBytes ? Result::bodyTooLarge : Result::reading;
}

HttpReplyReader::Result HttpReplyReader::end() {
    if (m_result != Result::reading)
        return m_result;
    return finish(m_part == Part::bodyToEnd ? Result::complete : Result::truncated);
}
