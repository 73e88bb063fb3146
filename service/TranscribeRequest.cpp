#include "TranscribeRequest.h"

#include "RequestRefused.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QString>

namespace {

[[noreturn]] void refuse(const std::string& reason) {
    throw RequestRefused(RequestRefused::badRequest, reason);
}

// "audio/mp4", in any letter case, with or without parameters such as codecs.
bool isMpeg4Audio(const QString& mimeType) {
    const QString essence = mimeType.section(QLatin1Char(';'), 0, 0).trimmed();
    return essence.compare(QLatin1String("audio/mp4"), Qt::CaseInsensitive) == 0;
}

} // namespace

std::string TranscribeRequest::audio(std::string_view body) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray::fromRawData(body.data(), static_cast<qsizetype>(body.size())), &error);
    if (error.error != QJsonParseError::NoError)
        refuse("The body is not valid JSON.");
    if (!document.isObject())
        refuse("The body is not a JSON object.");
    const QJsonObject object = document.object();

    const QJsonValue mimeType = object.value(QLatin1String("mimeType"));
    if (!mimeType.isString())
        refuse("The member \"mimeType\" is missing or not a string.");
    if (!isMpeg4Audio(mimeType.toString()))
        refuse("Only \"audio/mp4\" is accepted as \"mimeType\".");

    const QJsonValue audio = object.value(QLatin1String("audio"));
    if (!audio.isString())
        refuse("The member \"audio\" is missing or not a string.");
    const QByteArray text = audio.toString().toLatin1();
    // Padded Base64 always comes in groups of four; anything else was cut short.
    if (text.size() % 4 != 0)
        refuse("The member \"audio\" is not padded Base64.");
    const auto decoded = QByteArray::fromBase64Encoding(
        text, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        refuse("The member \"audio\" is not valid Base64.");
    if (static_cast<std::size_t>(decoded.decoded.size()) > maximumAudioBytes)
        throw RequestRefused(RequestRefused::tooLarge, tooLargeReason);
    return std::string(decoded.decoded.constData(),
                       static_cast<std::size_t>(decoded.decoded.size()));
}
