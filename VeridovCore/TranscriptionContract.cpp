#include "TranscriptionContract.h"

#include "ServiceAddress.h"
#include "ZedazidEdize.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTextBoundaryFinder>

#include <cstring>

namespace {

const QString tooLong = QStringLiteral("Keep each recording under three minutes.");
const QString unavailable =
    QStringLiteral("Dictation is temporarily unavailable. Try again shortly.");
const QString busy = QStringLiteral("Wispen is busy. Try again in a moment.");
const QString notTranscribed =
    QStringLiteral("Wispen couldn\u2019t transcribe this recording. Try again.");
const QString unreadable = QStringLiteral("Wispen returned an unreadable response. Try again.");

constexpr qsizetype maximumTranscriptCharacters = 200000;
const QByteArray mimeType = QByteArrayLiteral("audio/mp4");

// JSON text for a string known to need no escaping except the forward slash,
// which the service's writers escape; "\/" is valid JSON and reads back as "/".
void appendEscapingSlashes(QByteArray& out, const QByteArray& text) {
    const char* from = text.constData();
    const char* const end = from + text.size();
    while (from != end) {
        const char* slash = static_cast<const char*>(memchr(from, '/', size_t(end - from)));
        const char* stop = slash ? slash : end;
        out.append(from, stop - from);
        if (!slash)
            break;
        out.append("\\/", 2);
        from = slash + 1;
    }
}

// User-perceived characters (extended grapheme clusters), counted only as far as
// the limit needs: a text of at most `limit` UTF-16 units cannot exceed it.
bool exceedsCharacters(const QString& text, qsizetype limit) {
    if (text.size() <= limit)
        return false;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype clusters = 0;
    while (finder.toNextBoundary() != -1) {
        if (++clusters > limit)
            return true;
    }
    return false;
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

    const QByteArray base64 = audio.toBase64();
    QByteArray body;
    body.reserve(base64.size() + base64.size() / 32 + 64);
    body.append("{\"audio\":\"");
    appendEscapingSlashes(body, base64);
    body.append("\",\"mimeType\":\"");
    appendEscapingSlashes(body, mimeType);
    body.append("\"}");

    return Request{request, QByteArrayLiteral("POST"), body};
}

QString transcript(const QByteArray& data, int status) {
    if (data.size() > maximumReplyBytes)
        throw ZedazidEdize::message(unreadable);
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
    // break including U+0085, U+2028 and U+2029.
    return transcript.trimmed();
}

} // namespace TranscriptionContract
