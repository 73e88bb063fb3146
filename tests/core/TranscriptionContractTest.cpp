#include "TranscriptionContract.h"
#include "QtPrinters.h"
#include "ZedazidEdize.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QString unreadable = QStringLiteral("Wispen returned an unreadable response. Try again.");

constexpr qsizetype characterLimit = 200000;

// The transcript, or the sentence of the error the call ended with.
QString outcome(const std::function<QString()>& call) {
    try {
        return call();
    } catch (const ZedazidEdize& error) {
        return *error.errorDescription();
    }
}

QString transcriptOrError(const QByteArray& body, int status = 200) {
    return outcome([&] { return TranscriptionContract::transcript(body, status); });
}

QString transcriptOf(const QString& text) {
    return transcriptOrError(
        QJsonDocument(QJsonObject{{QStringLiteral("text"), text}}).toJson(QJsonDocument::Compact));
}

} // namespace

// The body is built by hand for speed, so it is compared with Qt's own encoder over
// every byte value and padding, with each slash escaped as the service expects.
TEST(TranscriptionContract, RequestIsACompactJsonPostOfTheAudioInBase64) {
    for (const qsizetype size : {qsizetype(0), TranscriptionContract::maximumBytes + 1}) {
        const auto request = [&] {
            return TranscriptionContract::request(QByteArray(size, 'a'), {});
        };
        EXPECT_EQ(outcome([&] { return QString(request().body); }),
                  size ? QStringLiteral("Keep each recording under three minutes.")
                       : QStringLiteral("That recording was too short. Try again."));
    }

    const QUuid id = QUuid::fromString(QStringLiteral("{0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0}"));
    QByteArray everyByte;
    for (int i = 0; i < 256; ++i)
        everyByte.append(char(i));
    for (const QByteArray& audio :
         {everyByte, everyByte + "a", everyByte + "ab", QByteArray("\xff", 1),
          QByteArray(TranscriptionContract::maximumBytes, '\xfb')}) {
        const auto built = TranscriptionContract::request(audio, id);
        EXPECT_EQ(built.body, R"({"audio":")" + audio.toBase64().replace("/", "\\/") +
                                  R"(","mimeType":"audio\/mp4"})")
            << audio.size();
        EXPECT_EQ(built.request.rawHeader("X-Request-ID"), "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0");
    }
}

// Only a 200 reply is parsed; the others map to their sentence whatever the body.
TEST(TranscriptionContract, StatusDecidesAndTheSizeLimitComesFirst) {
    const std::pair<int, const char*> rows[] = {
        {200, "hello"},
        {413, "Keep each recording under three minutes."},
        {422, "Keep each recording under three minutes."},
        {429, "Wispen is busy. Try again in a moment."},
        {503, "Dictation is temporarily unavailable. Try again shortly."},
        {500, "Wispen couldn\u2019t transcribe this recording. Try again."}};
    for (const auto& [status, expected] : rows) {
        EXPECT_EQ(transcriptOrError(R"({"text":"hello"})", status), expected) << status;
        if (status != 200) {
            EXPECT_EQ(transcriptOrError("<html>not json", status), expected) << status;
        }
    }
    const QByteArray head = R"({"text":"ok","padding":")";
    const QByteArray largest =
        head + QByteArray(TranscriptionContract::maximumReplyBytes - head.size() - 2, 'x') + "\"}";
    EXPECT_EQ(transcriptOrError(largest), QLatin1String("ok"));
    EXPECT_EQ(transcriptOrError(largest + ' '), unreadable);
    EXPECT_EQ(transcriptOrError(largest + ' ', 429), unreadable);
}

TEST(TranscriptionContract, OnlyAnObjectWithAStringTextIsReadable) {
    EXPECT_EQ(transcriptOrError(R"(  {"lang":"en","text":"a\/b \u00e9","words":[1]}  )"),
              QStringLiteral("a/b \u00e9"));
    for (const QByteArray body :
         {R"(["hi"])", "{}", R"({"Text":"hi"})", R"({"text":42})", R"({"text":"hi"} trailing)", ""})
        EXPECT_EQ(transcriptOrError(body), unreadable) << body.toStdString();
}

// Unicode white space goes from both ends, controls and bidirectional overrides from
// everywhere; the neighbours of each removed range stay. User-perceived characters
// are counted as they arrived, before trimming: CR LF is one, and so is a letter with
// a combining mark.
TEST(TranscriptionContract, TranscriptIsCleanedAndItsCharactersCountedBeforeTrimming) {
    const QString limit(characterLimit, QLatin1Char('a'));
    const QString rest(characterLimit - 2, QLatin1Char('a'));
    const std::pair<QString, QString> rows[] = {
        {QStringLiteral("\u3000\u2029 x\u2028y\t\n"), QStringLiteral("x\u2028y")},
        {QStringLiteral("a\u0000\u001f\t\u0020\u007e\u007f\u009f\u00a0\r\nb"),
         QStringLiteral("a\t \u007e\u00a0\nb")},
        {QStringLiteral("c\u2029\u202a\u202e\u202f\u2065\u2066\u2069\u206ad"),
         QStringLiteral("c\u2029\u202f\u2065\u206ad")},
        {limit, limit},
        {limit + QLatin1Char('a'), unreadable},
        {QLatin1Char(' ') + limit, unreadable},
        {QStringLiteral("\t\r\n") + rest, rest},
        {QStringLiteral("a\n\r") + rest, unreadable},
        {QStringLiteral("ae\u0301") + rest, QStringLiteral("ae\u0301") + rest},
        {QStringLiteral("ae\u0301a") + rest, unreadable}};
    for (const auto& [text, expected] : rows)
        EXPECT_EQ(transcriptOf(text), expected) << text.left(6).toStdString();
}
