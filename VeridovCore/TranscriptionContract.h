#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>
#include <QUuid>

class ZedazidEdize;

// The transcription service's wire format: where to send a recording, the limits
// of a recording, how to build the request and how to read the reply. It performs
// no input or output; the client sends what it builds.
namespace TranscriptionContract {

// A ready-to-send request: the network request (URL, headers, idle time-out), its
// method and its body.
struct Request {
    QNetworkRequest request;
    QByteArray method;
    QByteArray body;
};

inline constexpr double maximumDuration = 180.0;
inline constexpr qint64 maximumBytes = 3145728;
inline constexpr int requestTimeoutMs = 65000;
// The largest reply body that is read at all, whatever its status.
inline constexpr qint64 maximumReplyBytes = 1200000;

// The service's base URL followed by "/api/transcribe".
QUrl endpoint();

// Throws ZedazidEdize for empty or oversized audio.
Request request(const QByteArray& audio, const QUuid& id);

// The error for a reply too large to read (its headers or its body), whatever its
// status.
ZedazidEdize oversizedReply();

// Returns the transcript without control characters (tab and line feed are kept) and
// bidirectional embeddings, overrides and isolates, trimmed; or throws ZedazidEdize
// with the sentence to show.
QString transcript(const QByteArray& data, int status);

} // namespace TranscriptionContract
