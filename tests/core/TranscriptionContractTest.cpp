#include "TranscriptionContract.h"
#include "QtPrinters.h"
#include "ZedazidEdize.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <array>

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

// The sentence a call throws, or "(returned)" when it returns.
template <typename Call> QString thrownBy(Call call) {
    try {
        call();
    } catch (const ZedazidEdize& error) {
        return error.errorDescription().value_or(QStringLiteral("(no description)"));
    }
    return QStringLiteral("(returned)");
}

QString transcriptOrError(const QByteArray& body, int status = 200) {
    try {
        return TranscriptionContract::transcript(body, status);
    } catch (const ZedazidEdize& error) {
        return *error.errorDescription();
    }
}

QByteArray replyWithText(const QString& text) {
    return QJsonDocument(QJsonObject{{QStringLiteral("text"), text}})
        .toJson(QJsonDocument::Compact);
}

// A valid JSON reply of exactly `size` bytes whose transcript is "ok".
QByteArray replyOfSize(qsizetype size) {
    const QByteArray head = R"({"text":"ok","padding":")";
    const QByteArray tail = R"("})";
    return head + QByteArray(size - head.size() - tail.size(), 'x') + tail;
}

QByteArray audioOfSize(qsizetype size) {
    QByteArray audio(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        audio[i] = char(i * 7 + (i >> 8));
    return audio;
}

// RFC 4648 decoding written independently of Qt's codec: every character must be
// in the standard alphabet, padding only at the end and only as much as needed.
std::optional<QByteArray> strictBase64Decode(const QByteArray& text) {
    static const auto values = [] {
        const QByteArray alphabet =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::array<int, 256> values;
        values.fill(-1);
        for (int i = 0; i < alphabet.size(); ++i)
            values[uchar(alphabet[i])] = i;
        return values;
    }();
    if (text.size() % 4 != 0)
        return std::nullopt;
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        std::array<int, 4> sextets{};
        int padding = 0;
        for (int j = 0; j < 4; ++j) {
            const char c = text[i + j];
            if (c == '=' && last && j >= 2) {
                ++padding;
                continue;
            }
            if (padding > 0)
                return std::nullopt;
            if (values[uchar(c)] < 0)
                return std::nullopt;
            sextets[j] = values[uchar(c)];
        }
        const quint32 group =
            quint32(sextets[0] << 18 | sextets[1] << 12 | sextets[2] << 6 | sextets[3]);
        out.append(char(group >> 16));
        if (padding < 2)
            out.append(char(group >> 8 & 0xff));
        if (padding < 1)
            out.append(char(group & 0xff));
        // The unused bits before the padding must be zero (canonical encoding).
        if ((padding == 1 && (group & 0xff) != 0) || (padding == 2 && (group & 0xffff) != 0))
            return std::nullopt;
    }
    return out;
}

// The "audio" member's text exactly as written, with the JSON escapes of slashes
// resolved by hand; checks that the writer escaped every slash.
QByteArray audioMemberText(const QByteArray& body) {
    const QByteArray open = R"({"audio":")";
    const qsizetype end = body.indexOf('"', open.size());
    EXPECT_TRUE(body.startsWith(open));
    QByteArray escaped = body.mid(open.size(), end - open.size());
    EXPECT_FALSE(escaped.replace("\\/", "").contains('/')) << "an unescaped slash";
    return body.mid(open.size(), end - open.size()).replace("\\/", "/");
}

} // namespace

TEST(TranscriptionContractRequest, RefusesEmptyAudioAsTooShort) {
    try {
        TranscriptionContract::request({}, QUuid::createUuid());
        FAIL() << "empty audio was accepted";
    } catch (const ZedazidEdize& error) {
        EXPECT_EQ(error.kind(), ZedazidEdize::Kind::emptyAudio);
    }
}

TEST(TranscriptionContractRequest, AcceptsAudioUpToTheByteLimitInclusive) {
    for (const qsizetype size : {qsizetype(1), qsizetype(TranscriptionContract::maximumBytes)}) {
        const auto built = TranscriptionContract::request(audioOfSize(size), QUuid::createUuid());
        EXPECT_EQ(strictBase64Decode(audioMemberText(built.body)), audioOfSize(size)) << size;
    }
    EXPECT_EQ(TranscriptionContract::maximumBytes, 3145728);
    EXPECT_EQ(TranscriptionContract::maximumDuration, 180.0);
}

TEST(TranscriptionContractRequest, RefusesOneByteOverTheLimitInTheWordsOfTheTimeLimit) {
    const QByteArray audio = audioOfSize(TranscriptionContract::maximumBytes + 1);
    EXPECT_EQ(thrownBy([&] { TranscriptionContract::request(audio, QUuid::createUuid()); }),
              threeMinutes);
}

TEST(TranscriptionContractRequest, IsAJsonPostWithAnUpperCaseRequestId) {
    const QUuid id = QUuid::fromString(QStringLiteral("{0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0}"));
    const auto built = TranscriptionContract::request("abc", id);

    EXPECT_EQ(built.method, "POST");
    EXPECT_EQ(built.request.url(), TranscriptionContract::endpoint());
    EXPECT_TRUE(
        TranscriptionContract::endpoint().path().endsWith(QLatin1String("/api/transcribe")));
    EXPECT_EQ(built.request.header(QNetworkRequest::ContentTypeHeader).toByteArray(),
              "application/json");
    EXPECT_EQ(built.request.rawHeader("X-Request-ID"), "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0");
    EXPECT_EQ(built.request.transferTimeout(), 65000);
}

TEST(TranscriptionContractRequest, RequestIdIsCanonicalForAnyUuid) {
    const QRegularExpression canonical(
        QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    for (int i = 0; i < 50; ++i) {
        const QUuid id = QUuid::createUuid();
        const QString header = QString::fromLatin1(
            TranscriptionContract::request("a", id).request.rawHeader("X-Request-ID"));
        EXPECT_TRUE(canonical.match(header).hasMatch()) << header.toStdString();
        EXPECT_EQ(QUuid::fromString(header), id);
    }
}

TEST(TranscriptionContractRequest, BodyIsCompactJsonWithEscapedSlashes) {
    // 0xff 0xff 0xff encodes as "////", 0xfb 0xef 0xbe as "++++".
    const QByteArray audio = QByteArray::fromHex("ffffff fbefbe 00");
    const auto built = TranscriptionContract::request(audio, QUuid::createUuid());

    EXPECT_EQ(built.body, R"({"audio":"\/\/\/\/++++AA==","mimeType":"audio\/mp4"})");
    QJsonParseError error;
    const QJsonObject object = QJsonDocument::fromJson(built.body, &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError);
    EXPECT_EQ(object.size(), 2);
    EXPECT_EQ(object.value(QLatin1String("mimeType")).toString(), QLatin1String("audio/mp4"));
    EXPECT_EQ(object.value(QLatin1String("audio")).toString(), QLatin1String("////++++AA=="));
}

TEST(TranscriptionContractRequest, Base64IsExactForEveryPaddingAndByteValue) {
    // The RFC 4648 test vectors, then every byte value at each length modulo 3.
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
        EXPECT_FALSE(text.contains('\n'));
        EXPECT_EQ(strictBase64Decode(text), audio) << "length " << audio.size();
    }
}

TEST(TranscriptionContractRequest, Base64OfALargeRandomRecordingDecodesExactly) {
    QByteArray audio(TranscriptionContract::maximumBytes - 1, Qt::Uninitialized);
    QRandomGenerator generator(20261206);
    generator.fillRange(reinterpret_cast<quint32*>(audio.data()), audio.size() / 4);
    const auto built = TranscriptionContract::request(audio, QUuid::createUuid());
    EXPECT_EQ(strictBase64Decode(audioMemberText(built.body)), audio);
    // And any standard JSON reader restores the same text.
    const QJsonObject object = QJsonDocument::fromJson(built.body).object();
    EXPECT_EQ(QByteArray::fromBase64(object.value(QLatin1String("audio")).toString().toLatin1()),
              audio);
}

TEST(TranscriptionContractRequest, TwoRequestsForTheSameAudioDifferOnlyInTheRequestId) {
    const QByteArray audio = audioOfSize(5000);
    const auto first = TranscriptionContract::request(audio, QUuid::createUuid());
    const auto second = TranscriptionContract::request(audio, QUuid::createUuid());

    EXPECT_EQ(first.body, second.body);
    EXPECT_EQ(first.method, second.method);
    EXPECT_EQ(first.request.url(), second.request.url());
    EXPECT_EQ(first.request.transferTimeout(), second.request.transferTimeout());
    EXPECT_NE(first.request.rawHeader("X-Request-ID"), second.request.rawHeader("X-Request-ID"));
    QNetworkRequest a = first.request;
    QNetworkRequest b = second.request;
    a.setRawHeader("X-Request-ID", {});
    b.setRawHeader("X-Request-ID", {});
    EXPECT_EQ(a, b);
}

TEST(TranscriptionContractReply, StatusDecidesAndOnlyTwoHundredIsParsed) {
    const QByteArray valid = replyWithText(QStringLiteral("hello"));
    const struct {
        int status;
        QString outcome;
    } rows[] = {
        {200, QStringLiteral("hello")},
        {413, threeMinutes},
        {422, threeMinutes},
        {429, busy},
        {503, unavailable},
        {201, notTranscribed},
        {204, notTranscribed},
        {206, notTranscribed},
        {301, notTranscribed},
        {302, notTranscribed},
        {304, notTranscribed},
        {400, notTranscribed},
        {401, notTranscribed},
        {404, notTranscribed},
        {500, notTranscribed},
        {502, notTranscribed},
        {504, notTranscribed},
        {100, notTranscribed},
        {0, notTranscribed},
        {-1, notTranscribed},
        {999, notTranscribed},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(transcriptOrError(valid, row.status), row.outcome) << row.status;
        // Other bodies are never parsed: garbage gives the same outcome.
        if (row.status != 200) {
            EXPECT_EQ(transcriptOrError("<html>not json", row.status), row.outcome) << row.status;
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
    const std::pair<QByteArray, QString> rows[] = {
        {R"({"text":"hi"})", QStringLiteral("hi")},
        {R"({"language":"en","text":"hi","confidence":0.9,"words":[1,2]})", QStringLiteral("hi")},
        {R"(  {"text":"hi"}  )", QStringLiteral("hi")},
        {R"({"text":"a\/b \u00e9"})", QStringLiteral("a/b \u00e9")},
        {R"(["hi","there"])", unreadable},
        {R"("hi")", unreadable},
        {R"(42)", unreadable},
        {R"(null)", unreadable},
        {R"({})", unreadable},
        {R"({"Text":"hi"})", unreadable},
        {R"({"transcript":"hi"})", unreadable},
        {R"({"text":42})", unreadable},
        {R"({"text":null})", unreadable},
        {R"({"text":true})", unreadable},
        {R"({"text":["hi"]})", unreadable},
        {R"({"text":{"value":"hi"}})", unreadable},
        {R"({"text":"hi")", unreadable},
        {R"({"text":"hi"} trailing)", unreadable},
        {"", unreadable},
        {"\xff\xfe{", unreadable},
    };
    for (const auto& [body, outcome] : rows)
        EXPECT_EQ(transcriptOrError(body), outcome) << body.toStdString();
}

TEST(TranscriptionContractReply, TrimsUnicodeWhiteSpaceAndLineBreaksAtBothEnds) {
    EXPECT_EQ(transcriptOrError(replyWithText(QStringLiteral("  word \n"))), QLatin1String("word"));

    // Every Unicode White_Space character, line and paragraph separators included.
    const char16_t spaces[] = {0x09,   0x0a,   0x0b,   0x0c,   0x0d,   0x20,   0x85,
                               0xa0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                               0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200a, 0x2028,
                               0x2029, 0x202f, 0x205f, 0x3000};
    QString blank;
    for (const char16_t space : spaces) {
        const QString s(QChar{space});
        blank += s;
        EXPECT_EQ(transcriptOrError(replyWithText(s + QStringLiteral("a b") + s)),
                  QLatin1String("a b"))
            << "U+" << std::hex << int(space);
    }
    EXPECT_EQ(transcriptOrError(replyWithText(blank + QStringLiteral("x\u2028y") + blank)),
              QStringLiteral("x\u2028y"));
    // All blank is an empty transcript, not an error.
    EXPECT_EQ(transcriptOrError(replyWithText(blank)), QString());
    EXPECT_EQ(transcriptOrError(replyWithText(QString())), QString());
    // Characters that only look blank are not white space.
    EXPECT_EQ(transcriptOrError(replyWithText(QStringLiteral("\u200bword\ufeff"))),
              QStringLiteral("\u200bword\ufeff"));
}

TEST(TranscriptionContractReply, CountsUserPerceivedCharactersBeforeTrimming) {
    const QString limit(characterLimit, QLatin1Char('a'));
    EXPECT_EQ(transcriptOrError(replyWithText(limit)), limit);
    EXPECT_EQ(transcriptOrError(replyWithText(limit + QLatin1Char('a'))), unreadable);
    // Trimming would shorten it, but it is counted as it arrived.
    EXPECT_EQ(transcriptOrError(replyWithText(limit + QLatin1Char(' '))), unreadable);
    EXPECT_EQ(transcriptOrError(replyWithText(QLatin1Char(' ') + limit)), unreadable);
    const QString inner(characterLimit - 2, QLatin1Char('a'));
    EXPECT_EQ(transcriptOrError(replyWithText(QLatin1Char(' ') + inner + QLatin1Char('\n'))),
              inner);
}

TEST(TranscriptionContractReply, ClustersOfSeveralCodePointsCountOnce) {
    const QString clusters[] = {
        QStringLiteral("e\u0301"),              // combining acute
        QStringLiteral("a\u0323\u0302\u0300"),  // three combining marks
        QStringLiteral("\U0001F1EB\U0001F1F7"), // a flag: two regional indicators
        QStringLiteral("\U0001F44D\U0001F3FD"), // emoji with skin tone
        QStringLiteral("\U0001F469\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466"), // family
        QStringLiteral("\u2764\uFE0F"),       // emoji presentation selector
        QStringLiteral("\u1100\u1161\u11A8"), // Hangul L V T
        QStringLiteral("\r\n"),               // CR LF is one character
    };
    for (const QString& cluster : clusters) {
        const QString body = QString(characterLimit - 2, QLatin1Char('a'));
        // Inside the text, so that trimming cannot touch it: 200,000 characters.
        const QString atLimit = QLatin1Char('a') + cluster + body;
        EXPECT_EQ(transcriptOrError(replyWithText(atLimit)), atLimit) << cluster.toStdString();
        EXPECT_EQ(transcriptOrError(replyWithText(atLimit + QLatin1Char('a'))), unreadable)
            << cluster.toStdString();
    }
}

TEST(TranscriptionContractReply, LineBreaksCountAsTheyAppear) {
    const QString rest(characterLimit - 2, QLatin1Char('a'));
    // CR LF is one character, LF CR two, and a lone control character one.
    EXPECT_EQ(transcriptOrError(replyWithText(QLatin1Char('a') + QLatin1String("\r\n") + rest)),
              QLatin1Char('a') + QLatin1String("\r\n") + rest);
    EXPECT_EQ(transcriptOrError(replyWithText(QLatin1Char('a') + QLatin1String("\n\r") + rest)),
              unreadable);
    EXPECT_EQ(transcriptOrError(replyWithText(QLatin1String("\t\r\n") + rest)), rest);
    EXPECT_EQ(transcriptOrError(replyWithText(QLatin1String("\t\r\n\u00e9") + rest)), unreadable);
}
