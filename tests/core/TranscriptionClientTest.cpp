#include "TranscriptionClient.h"
#include "QtPrinters.h"
#include "ServiceAddress.h"
#include "TestHttpServer.h"
#include "TranscriptionContract.h"
#include "TransportError.h"
#include "WaitUntil.h"
#include "ZedazidEdize.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using Reply = TestHttpServer::Reply;
using Stall = TestHttpServer::Stall;

namespace {

const QString notTranscribed =
    QStringLiteral("Wispen couldn\u2019t transcribe this recording. Try again.");
const QString notHttp = QStringLiteral("Wispen couldn\u2019t read the response.");
const QString unreadable = QStringLiteral("Wispen returned an unreadable response. Try again.");

// Collects the completions of one call.
struct Completions {
    std::vector<TranscriptionOutcome> outcomes;

    Transcriber::Completion callback() {
        return [this](const TranscriptionOutcome& outcome) { outcomes.push_back(outcome); };
    }
    bool arrived() const { return !outcomes.empty(); }
    // The transcript, or the description of the error it ended with.
    QString text() const {
        try {
            return outcomes.at(0).get();
        } catch (const LocalizedError& error) {
            return error.errorDescription().value_or(QStringLiteral("(no description)"));
        }
    }
    // The network code when the call ended with a transport error.
    std::optional<QNetworkReply::NetworkError> transportCode() const {
        try {
            outcomes.at(0).get();
        } catch (const TransportError& error) {
            return error.code();
        } catch (...) {
        }
        return std::nullopt;
    }
};

// Runs the event loop until everything posted so far has been handled, so that a
// completion that should not run has had every chance to.
void drainEvents() {
    bool drained = false;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&] { drained = true; }, Qt::QueuedConnection);
    ASSERT_TRUE(waitUntil([&] { return drained; }));
}

// Points the client at a test server and back at the default afterwards.
class TranscriptionClientTest : public testing::Test {
protected:
    void SetUp() override { useService(server.baseUrl()); }
    void TearDown() override {
        ServiceAddress::configure(QString::fromLatin1(ServiceAddress::defaultBaseUrl));
    }
    static void useService(const QUrl& url) { ServiceAddress::configure(url.toString()); }

    // Transcribes and waits for the completion.
    Completions transcribe(const QByteArray& audio = "recording") {
        Completions done;
        client.transcribe(audio, done.callback());
        EXPECT_TRUE(waitUntil([&] { return done.arrived(); }));
        return done;
    }

    TestHttpServer server;
    TranscriptionClient client;
};

// A TCP server on loopback that answers every connection with raw bytes and
// closes it: for replies that are not HTTP at all.
class RawServer : public QTcpServer {
public:
    explicit RawServer(QByteArray answer)
        : m_answer(std::move(answer)) {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    socket->readAll();
                    socket->write(m_answer);
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(serverPort())); }

private:
    QByteArray m_answer;
};

} // namespace

QString contractOutcome(const QByteArray& body, int status) {
    try {
        return TranscriptionContract::transcript(body, status);
    } catch (const ZedazidEdize& error) {
        return *error.errorDescription();
    }
}

TEST_F(TranscriptionClientTest, DeliversTheTrimmedTranscriptLaterAndOnce) {
    server.reply({200, R"({"text":"  hello world \n"})"});
    Completions done;
    client.transcribe("recording", done.callback());
    EXPECT_FALSE(done.arrived()) << "the completion ran inside transcribe()";
    ASSERT_TRUE(waitUntil([&] { return done.arrived(); }));
    drainEvents();
    ASSERT_EQ(done.outcomes.size(), 1u);
    EXPECT_EQ(done.text(), QLatin1String("hello world"));
}

TEST_F(TranscriptionClientTest, SendsTheContractsRequest) {
    const QByteArray audio = QByteArray::fromHex("fffffe00010203");
    transcribe(audio);
    ASSERT_EQ(server.requestCount(), 1);
    const auto request = server.requests()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/api/transcribe");
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    EXPECT_EQ(request.header("X-Request-ID").size(), 36);
    EXPECT_EQ(request.header("X-Request-ID"), request.header("X-Request-ID").toUpper());
    EXPECT_FALSE(request.hasHeader("Cookie"));
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    EXPECT_EQ(QByteArray::fromBase64(body.value(QLatin1String("audio")).toString().toLatin1()),
              audio);
    EXPECT_EQ(body.value(QLatin1String("mimeType")).toString(), QLatin1String("audio/mp4"));
}

TEST_F(TranscriptionClientTest, CreatesOneSessionOnFirstUseAndGivesEveryCallItsOwnId) {
    EXPECT_EQ(client.session(), nullptr);
    transcribe();
    QNetworkAccessManager* const session = client.session();
    ASSERT_NE(session, nullptr);
    transcribe();
    EXPECT_EQ(client.session(), session);
    ASSERT_EQ(server.requestCount(), 2);
    EXPECT_NE(server.requests()[0].header("X-Request-ID"),
              server.requests()[1].header("X-Request-ID"));
}

TEST_F(TranscriptionClientTest, EveryStatusIsReadByTheContract) {
    const QByteArray body = R"({"text":"fine"})";
    for (const int status :
         {200, 201, 202, 400, 401, 403, 404, 409, 413, 422, 429, 500, 501, 502, 503, 504, 599}) {
        server.reply({status, body});
        EXPECT_EQ(transcribe().text(), contractOutcome(body, status)) << status;
    }
}

TEST_F(TranscriptionClientTest, CookiesAndCachingHeadersAreNeitherKeptNorSent) {
    server.reply({200,
                  R"({"text":"first"})",
                  {{"Set-Cookie", "session=abc; Path=/; Max-Age=3600"},
                   {"Set-Cookie", "tracker=1; Path=/api; HttpOnly"},
                   {"Cache-Control", "public, max-age=3600"},
                   {"Expires", "Wed, 01 Jan 2031 00:00:00 GMT"},
                   {"Last-Modified", "Mon, 01 Jan 2024 00:00:00 GMT"},
                   {"ETag", "\"v1\""}}});
    EXPECT_EQ(transcribe().text(), QLatin1String("first"));

    server.reply({200, R"({"text":"second"})"});
    EXPECT_EQ(transcribe().text(), QLatin1String("second"));
    ASSERT_EQ(server.requestCount(), 2) << "the second request did not reach the server";
    const auto second = server.requests()[1];
    EXPECT_FALSE(second.hasHeader("Cookie"));
    EXPECT_FALSE(second.hasHeader("If-None-Match"));
    EXPECT_FALSE(second.hasHeader("If-Modified-Since"));
}

TEST_F(TranscriptionClientTest, ARedirectIsTheAnswerAndItsTargetIsNeverContacted) {
    TestHttpServer target;
    const QByteArray location = target.baseUrl().toEncoded() + "/api/transcribe";
    for (const int status : {301, 302, 303, 307, 308}) {
        server.reply({status, {}, {{"Location", location}}});
        EXPECT_EQ(transcribe().text(), notTranscribed) << status;
    }
    EXPECT_EQ(target.requestCount(), 0);
}

TEST_F(TranscriptionClientTest, ASilentServerTimesOutWhenIdle) {
    server.reply({200, R"({"text":"late"})", {}, {}, Stall::silent});
    client.setTimeouts(300, 60000);
    const Completions done = transcribe();
    EXPECT_EQ(done.transportCode(), QNetworkReply::TimeoutError) << done.text().toStdString();
}

TEST_F(TranscriptionClientTest, ATricklingServerIsCutOffByTheWholeRequestTimeout) {
    server.reply({200, R"({"text":"late"})", {}, {}, Stall::trickle});
    constexpr int totalMs = 2500;
    client.setTimeouts(1000, totalMs);
    QElapsedTimer elapsed;
    elapsed.start();
    const Completions done = transcribe();
    EXPECT_EQ(done.transportCode(), QNetworkReply::TimeoutError) << done.text().toStdString();
    // Bytes kept arriving, so only the whole-request timer can have ended it.
    EXPECT_GE(elapsed.elapsed(), totalMs);
    EXPECT_TRUE(waitUntil([&] { return server.clientsGone() == 1; }));
}

TEST_F(TranscriptionClientTest, CancellingAbortsTheTransferAndDropsTheCompletion) {
    server.reply({200, R"({"text":"never"})", {}, {}, Stall::trickle});
    Completions done;
    const auto call = client.transcribe("recording", done.callback());
    ASSERT_TRUE(waitUntil([&] { return server.stalling() == 1; }));
    call->cancel();
    EXPECT_TRUE(waitUntil([&] { return server.clientsGone() == 1; }))
        << "the server never saw the connection close";
    server.release();
    drainEvents();
    EXPECT_FALSE(done.arrived());
    call->cancel(); // a second cancel is harmless
}

TEST_F(TranscriptionClientTest, CancellingAnAnswerNotYetDeliveredDropsIt) {
    Completions done;
    client.transcribe({}, done.callback())->cancel();
    drainEvents();
    EXPECT_FALSE(done.arrived());
}

TEST_F(TranscriptionClientTest, ARefusedConnectionIsATransportError) {
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    useService(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)));
    EXPECT_EQ(transcribe().transportCode(), QNetworkReply::ConnectionRefusedError);
}

TEST_F(TranscriptionClientTest, ACutOrGarbledReplyIsATransportError) {
    const QByteArray answers[] = {
        "",
        "this is not HTTP\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"text\":",
    };
    for (const QByteArray& answer : answers) {
        RawServer raw(answer);
        useService(raw.url());
        EXPECT_EQ(transcribe().transportCode(), QNetworkReply::RemoteHostClosedError)
            << answer.toStdString();
    }
}

TEST_F(TranscriptionClientTest, EmptyOrOversizedAudioFailsBeforeAnyConnection) {
    const Completions empty = transcribe({});
    ASSERT_TRUE(empty.arrived());
    try {
        empty.outcomes[0].get();
        ADD_FAILURE() << "empty audio was sent";
    } catch (const ZedazidEdize& error) {
        EXPECT_EQ(error.kind(), ZedazidEdize::Kind::emptyAudio);
    }
    EXPECT_EQ(transcribe(QByteArray(TranscriptionContract::maximumBytes + 1, 'a')).text(),
              QLatin1String("Keep each recording under three minutes."));
    EXPECT_EQ(server.requestCount(), 0);
    EXPECT_EQ(client.session(), nullptr);
}

TEST_F(TranscriptionClientTest, AReplyOverTheSizeLimitIsUnreadableWhateverItsStatus) {
    server.reply({200, QByteArray(3 * 1024 * 1024, ' ') + R"({"text":"padded"})"});
    EXPECT_EQ(transcribe().text(), unreadable);
    server.reply({429, QByteArray(TranscriptionContract::maximumReplyBytes + 1, 'x')});
    EXPECT_EQ(transcribe().text(), unreadable);
    server.reply({429, QByteArray(TranscriptionContract::maximumReplyBytes, 'x')});
    EXPECT_EQ(transcribe().text(), QLatin1String("Wispen is busy. Try again in a moment."));
}

TEST_F(TranscriptionClientTest, InvalidateCreatesTheSessionAndRefusesLaterCalls) {
    client.invalidate();
    EXPECT_NE(client.session(), nullptr);
    EXPECT_EQ(transcribe().transportCode(), QNetworkReply::OperationCanceledError);
    EXPECT_EQ(server.requestCount(), 0);
}

TEST_F(TranscriptionClientTest, InvalidateAbortsARunningCall) {
    server.reply({200, R"({"text":"never"})", {}, {}, Stall::trickle});
    Completions done;
    client.transcribe("recording", done.callback());
    ASSERT_TRUE(waitUntil([&] { return server.stalling() == 1; }));
    client.invalidate();
    EXPECT_FALSE(done.arrived()) << "the completion ran inside invalidate()";
    ASSERT_TRUE(waitUntil([&] { return done.arrived(); }));
    EXPECT_EQ(done.transportCode(), QNetworkReply::OperationCanceledError);
    EXPECT_TRUE(waitUntil([&] { return server.clientsGone() == 1; }));
}

TEST_F(TranscriptionClientTest, DestroyingTheClientDropsARunningCall) {
    server.reply({200, R"({"text":"never"})", {}, {}, Stall::trickle});
    Completions done;
    auto owned = std::make_unique<TranscriptionClient>();
    const auto call = owned->transcribe("recording", done.callback());
    ASSERT_TRUE(waitUntil([&] { return server.stalling() == 1; }));
    owned.reset();
    EXPECT_TRUE(waitUntil([&] { return server.clientsGone() == 1; }));
    drainEvents();
    EXPECT_FALSE(done.arrived());
    call->cancel(); // the handle outlives the client safely
}

TEST_F(TranscriptionClientTest, ACompletionCanStartTheNextCall) {
    server.reply({503, {}});
    Completions retried;
    QString first;
    client.transcribe("recording", [&](const TranscriptionOutcome& outcome) {
        try {
            outcome.get();
        } catch (const ZedazidEdize& error) {
            first = *error.errorDescription();
        }
        server.reply({200, R"({"text":"retried"})"});
        client.transcribe("recording", retried.callback());
    });
    ASSERT_TRUE(waitUntil([&] { return retried.arrived(); }));
    EXPECT_EQ(first, QLatin1String("Dictation is temporarily unavailable. Try again shortly."));
    EXPECT_EQ(retried.text(), QLatin1String("retried"));
}
