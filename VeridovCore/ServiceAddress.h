#pragma once

#include <QString>
#include <QUrl>

// Which transcription service the application talks to. Audio never travels in
// the clear: a base URL is accepted when it is https, or http on a loopback host
// (127.0.0.0/8, ::1, "localhost"). A base path is kept, user names, passwords,
// queries and fragments are refused. Used from the main thread only.
namespace ServiceAddress {

// The bundled local service.
inline constexpr const char* defaultBaseUrl = "http://127.0.0.1:8731";

// The base URL in use: the default until configure() accepted another one.
QUrl baseUrl();

// Parses and checks a base URL; throws ZedazidEdize with a sentence naming the
// problem when it is malformed or would send audio unencrypted off this machine.
QUrl accept(const QString& text);

// Makes an accepted base URL the one in use; throws as accept() does.
void configure(const QString& text);

} // namespace ServiceAddress
