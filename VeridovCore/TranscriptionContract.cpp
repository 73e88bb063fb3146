#include "TranscriptionContract.h"

#include "ServiceAddress.h"
#include "ZedazidEdize.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace {

const QString tooLong = QStringLiteral("Keep each recording under three minutes.");
const QString unavailable =
    QStringLiteral("Dictation is temporarily unavailable. Try again shortly.");
const QString busy = QStringLiteral("Wispen is busy. Try again in a moment.");
const QString notTranscribed =
    QStringLiteral("Wispen couldn\u2019t transcribe this recording. Try again.");
const QString unreadable = QStringLiteral("Wispen returned an unreadable response. Try again.");

constexpr qsizetype maximumTranscriptCharacters = 200000;
// "audio/mp4" with its slash escaped as the service's writers do.
const QByteArray escapedMimeType = QByteArrayLiteral("audio\\/mp4");

constexpr char base64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr unsigned slashSextet = 63;

// Visits the Base64 sextets of `bytes` (RFC 4648, standard alphabet) in order; the
// padding is left to the caller.
template <typename Visit> void forEachSextet(const QByteArray& bytes, Visit visit) {
    const auto* in = reinterpret_cast<const uchar*>(bytes.constData());
    const qsizetype whole = bytes.size() / 3 * 3;
    for (qsizetype i = 0; i < whole; i += 3) {
        const unsigned group = unsigned(in[i]) << 16 | unsigned(in[i + 1]) << 8 | in[i + 2];
        visit(group >> 18);
        visit(group >> 12 & 63);
        visit(group >> 6 & 63);
        visit(group & 63);
    }
    const qsizetype rest = bytes.size() - whole;
    if (rest > 0) {
        const unsigned group =
            unsigned(in[whole]) << 16 | (rest == 2 ? unsigned(in[whole + 1]) << 8 : 0);
        visit(group >> 18);
        visit(group >> 12 & 63);
        if (rest == 2)
            visit(group >> 6 & 63);
    }
}

// The audio as Base64 inside a JSON string: every "/" of the alphabet written as
// "\/", the escape the service's writers use and any JSON reader restores. The
// escapes are counted first so that the body is allocated once, with `tail` bytes
// to spare for what follows.
void appendBase64EscapingSlashes(QByteArray& out, const QByteArray& bytes, qsizetype tail) {
    qsizetype slashes = 0;
    forEachSextet(bytes, [&](unsigned sextet) { slashes += sextet == slashSextet; });
    const qsizetype encoded = (bytes.size() + 2) / 3 * 4;
    const qsizetype start = out.size();
    out.reserve(start + encoded + slashes + tail);
    out.resize(start + encoded + slashes);
    char* to = out.data() + start;
    forEachSextet(bytes, [&](unsigned sextet) {
        if (sextet == slashSextet)
            *to++ = '\\';
        *to++ = base64Alphabet[sextet];
    });
    for (qsizetype padding = (3 - bytes.size() % 3) % 3; padding > 0; --padding)
        *to++ = '=';
}

// User-perceived characters (extended grapheme clusters), counted only as far as
// the limit needs: a text of at most `limit` UTF-16 units cannot exceed it.
bool exceedsCharacters(const QString& text, qsizetype limit) {
    if (text.size() <= limit)
        return false;
    // In ASCII every character stands alone except CR LF, which is one: the common
    // case needs no boundary analysis of the whole text.
    const auto isAscii = [](QChar c) { return c.unicode() < 0x80; };
    if (std::all_of(text.cbegin(), text.cend(), isAscii))
        return text.size() - text.count(QLatin1String("\r\n")) > limit;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype clusters = 0;
    while (finder.toNextBoundary() != -1) {
        if (++clusters > limit)
            return true;
    }
    return false;
}

// Controls (C0, DEL, C1) other than tab and line feed, and the bidirectional
// embeddings, overrides and isolates: a transcript carrying them could ring, end a
// string early, or show its words in an order other than the one pasted.
bool isUnsafeInText(char16_t c) {
    if (c < 0x20)
        return c != u'\t' && c != u'\n';
    return (c >= 0x7f && c <= 0x9f) || (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

QString withoutUnsafeCharacters(QString text) {
    text.removeIf([](QChar c) { return isUnsafeInText(c.unicode()); });
    return text;
}

} // namespace

namespace TranscriptionContract {

QUrl endpoint() {
    QUrl url = ServiceAddress::baseUrl();
    url.setPath(url.path(QUrl::FullyEncoded) + QLatin1String("/api/transcribe"),
                QUrl::TolerantMode);
    return url;
}

Request request(const QByteArray& audio, const QUuid& id) {
    if (audio.isEmpty())
        throw ZedazidEdize::emptyAudio();
    if (audio.size() > maximumBytes)
        throw ZedazidEdize::message(tooLong);

    QNetworkRequest request(endpoint());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setRawHeader(QByteArrayLiteral("X-Request-ID"),
                         id.toByteArray(QUuid::WithoutBraces).toUpper());
    request.setTransferTimeout(requestTimeoutMs);

    const QByteArray head = QByteArrayLiteral("{\"audio\":\"");
    const QByteArray tail = "\",\"mimeType\":\"" + escapedMimeType + "\"}";
    QByteArray body = head;
    appendBase64EscapingSlashes(body, audio, tail.size());
    body.append(tail);

    return Request{request, QByteArrayLiteral("POST"), body};
}

ZedazidEdize oversizedReply() {
    return ZedazidEdize::message(unreadable);
}

QString transcript(const QByteArray& data, int status) {
    if (data.size() > maximumReplyBytes)
        throw oversizedReply();
    switch (status) {
    case 200:
        break;
    case 413:
    case 422:
        throw ZedazidEdize::message(tooLong);
    case 429:
        throw ZedazidEdize::message(busy);
    case 503:
        throw ZedazidEdize::message(unavailable);
    default:
        throw ZedazidEdize::message(notTranscribed);
    }

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        throw ZedazidEdize::message(unreadable);
    const QJsonValue text = document.object().value(QLatin1String("text"));
    if (!text.isString())
        throw ZedazidEdize::message(unreadable);
    const QString transcript = text.toString();
    if (exceedsCharacters(transcript, maximumTranscriptCharacters))
        throw ZedazidEdize::message(unreadable);
    // QChar::isSpace is exactly Unicode White_Space: the spaces, tabs and every line
    // break including U+2028 and U+2029.
    return withoutUnsafeCharacters(transcript).trimmed();
}

} // namespace TranscriptionContract
