#include "TranscriptionContract.h"
#include "QtPrinters.h"
#include "ZedazidEdize.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QString threeMinutes = QStringLiteral("Keep each recording under three minutes.");
const QString unreadable = QStringLiteral("Wispen returned an unreadable response. Try again.");
const QString notTranscribed =
    QStringLiteral("Wispen couldn\u2019t transcribe this recording. Try again.");
const QString busy = QStringLiteral("Wispen is busy. Try again in a moment.");
const QString unavailable =
    QStringLiteral("Dictation is temporarily unavailable. Try again shortly.");

constexpr qsizetype replyLimit = 1200000;
constexpr qsizetype characterLimit = 200000;

// The transcript, or the sentence of the error the call ended with.
QString outcome(const std::function<QString()>& call) {
    try {
        return call();
    } catch (const ZedazidEdize& error) {
        return error.kind() == ZedazidEdize::Kind::emptyAudio ? QStringLiteral("(empty audio)")
                                                              : *error.errorDescription();
    }
}

QString transcriptOrError(const QByteArray& body, int status = 200) {
    return outcome([&] { return TranscriptionContract::transcript(body, status); });
}

QByteArray replyWithText(const QString& text) {
    return QJsonDocument(QJsonObject{{QStringLiteral("text"), text}})
        .toJson(QJsonDocument::Compact);
}

// A valid JSON reply of exactly `size` bytes whose transcript is "ok".
QByteArray replyOfSize(qsizetype size) {
    const QByteArray head = R"({"text":"ok","padding":")";
    return head + QByteArray(size - head.size() - 2, 'x') + R"("})";
}

QByteArray audioOfSize(qsizetype size) {
    QByteArray audio(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        audio[i] = char(i * 7 + (i >> 8));
    return audio;
}

// RFC 4648 decoding written independently of Qt's codec: only the standard
// alphabet, padding only at the end and only as much as needed, unused bits zero.
std::optional<QByteArray> strictBase64Decode(const QByteArray& text) {
    static const QByteArray alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const qsizetype padding = text.endsWith("==") ? 2 : text.endsWith('=') ? 1 : 0;
    QByteArray out;
    quint32 bits = 0;
    int count = 0;
    for (qsizetype i = 0; i < text.size() - padding; ++i) {
        const qsizetype value = alphabet.indexOf(text[i]);
        if (value < 0)
            return std::nullopt;
        bits = bits << 6 | quint32(value);
        if ((count += 6) >= 8)
            out.append(char(bits >> (count -= 8)));
        bits &= (1u << count) - 1;
    }
    if (text.size() % 4 != 0 || bits != 0)
        return std::nullopt;
    return out;
}

// The "audio" member's text as written, its slash escapes resolved by hand after
// checking that no slash went unescaped.
QByteArray audioMemberText(const QByteArray& body) {
    const QByteArray open = R"({"audio":")";
    EXPECT_TRUE(body.startsWith(open));
    QByteArray text = body.mid(open.size(), body.indexOf('"', open.size()) - open.size());
    EXPECT_FALSE(QByteArray(text).replace("\\/", "").contains('/')) << "an unescaped slash";
    return text.replace("\\/", "/");
}

} // namespace

TEST(TranscriptionContractRequest, AudioSizeBoundaries) {
    const auto refusal = [](const QByteArray& audio) {
        return outcome([&] {
            TranscriptionContract::request(audio, QUuid());
            return QString();
        });
    };
    EXPECT_EQ(refusal({}), QLatin1String("(empty audio)"));
    EXPECT_EQ(refusal(audioOfSize(3145729)), threeMinutes);
    for (const qsizetype size : {1, 3145728}) {
        const QByteArray audio = audioOfSize(size);
        const QByteArray body = TranscriptionContract::request(audio, QUuid::createUuid()).body;
        EXPECT_EQ(strictBase64Decode(audioMemberText(body)), audio) << size;
        // Any standard JSON reader restores the same text.
        const QJsonObject object = QJsonDocument::fromJson(body).object();
        EXPECT_EQ(
            QByteArray::fromBase64(object.value(QLatin1String("audio")).toString().toLatin1()),
            audio);
    }
}

// Two requests for the same audio differ only in "X-Request-ID".
TEST(TranscriptionContractRequest, IsACompactJsonPostWithEscapedSlashesAndItsOwnId) {
    const QUuid id = QUuid::fromString(QStringLiteral("{0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0}"));
    // 0xff 0xff 0xff encodes as "////", 0xfb 0xef 0xbe as "++++".
    const QByteArray audio = QByteArray::fromHex("fffffffbefbe00");
    auto built = TranscriptionContract::request(audio, id);
    EXPECT_EQ(built.method, "POST");
    EXPECT_EQ(built.request.url(), TranscriptionContract::endpoint());
    EXPECT_EQ(built.request.header(QNetworkRequest::ContentTypeHeader).toByteArray(),
              "application/json");
    EXPECT_EQ(built.request.rawHeader("X-Request-ID"), "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0");
    EXPECT_EQ(built.request.transferTimeout(), 65000);
    EXPECT_EQ(built.body, R"({"audio":"\/\/\/\/++++AA==","mimeType":"audio\/mp4"})");

    auto other = TranscriptionContract::request(audio, QUuid::createUuid());
    EXPECT_EQ(other.body, built.body);
    EXPECT_EQ(other.method, built.method);
    EXPECT_NE(other.request.rawHeader("X-Request-ID"), built.request.rawHeader("X-Request-ID"));
    other.request.setRawHeader("X-Request-ID", {});
    built.request.setRawHeader("X-Request-ID", {});
    EXPECT_EQ(other.request, built.request);
}

TEST(TranscriptionContractRequest, Base64IsExactForEveryPaddingAndByteValue) {
    const std::pair<QByteArray, QByteArray> vectors[] = {
        {"f", "Zg=="},        {"fo", "Zm8="},        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
    for (const auto& [plain, encoded] : vectors)
        EXPECT_EQ(audioMemberText(TranscriptionContract::request(plain, QUuid()).body), encoded);

    QByteArray everyByte;
    for (int i = 0; i < 256; ++i)
        everyByte.append(char(i));
    for (qsizetype extra = 0; extra < 3; ++extra) {
        const QByteArray audio = everyByte + everyByte.left(extra) + everyByte;
        const QByteArray text =
            audioMemberText(TranscriptionContract::request(audio, QUuid()).body);
        EXPECT_EQ(strictBase64Decode(text), audio) << "length " << audio.size();
    }
}

TEST(TranscriptionContractReply, StatusDecidesAndOnlyTwoHundredIsParsed) {
    std::vector<std::pair<int, QString>> rows = {{200, QStringLiteral("hello")},
                                                 {413, threeMinutes},
                                                 {422, threeMinutes},
                                                 {429, busy},
                                                 {503, unavailable}};
    for (const int other :
         {201, 204, 206, 301, 302, 304, 400, 401, 404, 500, 502, 504, 100, 0, -1, 999})
        rows.emplace_back(other, notTranscribed);
    for (const auto& [status, outcome] : rows) {
        EXPECT_EQ(transcriptOrError(replyWithText(QStringLiteral("hello")), status), outcome)
            << status;
        // Other bodies are never parsed: garbage gives the same outcome.
        if (status != 200) {
            EXPECT_EQ(transcriptOrError("<html>not json", status), outcome) << status;
        }
    }
}

TEST(TranscriptionContractReply, SizeRuleComesBeforeTheStatus) {
    EXPECT_EQ(transcriptOrError(replyOfSize(replyLimit)), QLatin1String("ok"));
    EXPECT_EQ(transcriptOrError(replyOfSize(replyLimit + 1)), unreadable);
    EXPECT_EQ(transcriptOrError(replyOfSize(replyLimit), 429), busy);
    EXPECT_EQ(transcriptOrError(replyOfSize(replyLimit + 1), 429), unreadable);
    EXPECT_EQ(transcriptOrError(QByteArray(replyLimit + 1, 'x'), 503), unreadable);
}

TEST(TranscriptionContractReply, OnlyAnObjectWithAStringTextIsReadable) {
    const QString hi = QStringLiteral("hi");
    EXPECT_EQ(transcriptOrError(R"({"text":"hi"})"), hi);
    EXPECT_EQ(transcriptOrError(R"(  {"lang":"en","text":"hi","score":0.9,"words":[1]}  )"), hi);
    EXPECT_EQ(transcriptOrError(R"({"text":"a\/b \u00e9"})"), QStringLiteral("a/b \u00e9"));
    for (const QByteArray body :
         {R"(["hi","there"])", R"("hi")", "42", "null", "{}", R"({"Text":"hi"})",
          R"({"transcript":"hi"})", R"({"text":42})", R"({"text":null})", R"({"text":true})",
          R"({"text":["hi"]})", R"({"text":{"value":"hi"}})", R"({"text":"hi")",
          R"({"text":"hi"} trailing)", "", "\xff\xfe{"})
        EXPECT_EQ(transcriptOrError(body), unreadable) << body.toStdString();
}

TEST(TranscriptionContractReply, TrimsUnicodeWhiteSpaceAndLineBreaksAtBothEnds) {
    // Every Unicode White_Space character, line and paragraph separators included.
    const QString blank = QStringLiteral("\t\n\v\f\r \u0085\u00a0\u1680\u2000\u2001\u2002\u2003"
                                         "\u2004\u2005\u2006\u2007\u2008\u2009\u200a\u2028"
                                         "\u2029\u202f\u205f\u3000");
    for (const QChar space : blank)
        EXPECT_EQ(transcriptOrError(replyWithText(space + QStringLiteral("a b") + space)),
                  QLatin1String("a b"))
            << "U+" << std::hex << int(space.unicode());
    EXPECT_EQ(transcriptOrError(replyWithText(blank + QStringLiteral("x\u2028y") + blank)),
              QStringLiteral("x\u2028y"));
    // All blank is an empty transcript, not an error.
    EXPECT_EQ(transcriptOrError(replyWithText(blank)), QString());
    // Characters that only look blank are not white space.
    EXPECT_EQ(transcriptOrError(replyWithText(QStringLiteral("\u200bword\ufeff"))),
              QStringLiteral("\u200bword\ufeff"));
}

TEST(TranscriptionContractReply, ControlAndBidiOverrideCharactersAreRemoved) {
    const std::pair<QString, QString> rows[] = {
        {QStringLiteral("a\u0000b\u0007\t\u001b\u007f\u0080\u009fc\r\n"
                        "\u202e\u202cd\u202a\u202b\u202d\u2066\u2067\u2068\u2069"),
         QStringLiteral("ab\tc\nd")},
        {QStringLiteral("\u0007\u202e "), QString()},
        {QStringLiteral("\u200e\u200f\u061c\u200d\u00a0x"),
         QStringLiteral("\u200e\u200f\u061c\u200d\u00a0x")}};
    for (const auto& [text, cleaned] : rows)
        EXPECT_EQ(transcriptOrError(replyWithText(text)), cleaned) << text.toStdString();
}

TEST(TranscriptionContractReply, CountsUserPerceivedCharactersBeforeTrimming) {
    const QString limit(characterLimit, QLatin1Char('a'));
    const QString rest(characterLimit - 2, QLatin1Char('a'));
    const QString a = QStringLiteral("a");
    std::vector<std::pair<QString, QString>> rows = {
        {limit, limit},
        {limit + a, unreadable},
        // Trimming would shorten these, but they are counted as they arrived.
        {limit + QLatin1Char(' '), unreadable},
        {QLatin1Char(' ') + limit, unreadable},
        {QLatin1Char(' ') + rest + QLatin1Char('\n'), rest},
        // In plain ASCII, CR LF is one character and LF CR two.
        {QStringLiteral("a\n\r") + rest, unreadable},
        {QStringLiteral("\t\r\n") + rest, rest},
        {QStringLiteral("\t\r\n\u00e9") + rest, unreadable}};
    // Clusters of several code points count once, placed where trimming cannot touch them.
    for (const QString& cluster :
         {QStringLiteral("e\u0301"),              // combining acute
          QStringLiteral("a\u0323\u0302\u0300"),  // three combining marks
          QStringLiteral("\U0001F1EB\U0001F1F7"), // a flag: two regional indicators
          QStringLiteral("\U0001F44D\U0001F3FD"), // emoji with skin tone
          QStringLiteral("\U0001F469\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466"),
          QStringLiteral("\u2764\uFE0F"),       // emoji presentation selector
          QStringLiteral("\u1100\u1161\u11A8"), // Hangul L V T
          QStringLiteral("\r\n")}) {
        rows.emplace_back(a + cluster + rest, QString(a + cluster + rest).remove(u'\r'));
        rows.emplace_back(a + cluster + rest + a, unreadable);
    }
    for (const auto& [text, outcome] : rows)
        EXPECT_EQ(transcriptOrError(replyWithText(text)), outcome) << text.left(12).toStdString();
}
