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
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <functional>

using Stall = TestHttpServer::Stall;

namespace {

const QString notHttp = QStringLiteral("Wispen couldn\u2019t read the response.");
const QString notTranscribed =
    QStringLiteral("Wispen couldn\u2019t transcribe this recording. Try again.");

// The string a test expects from a call that failed to connect.
QString transport(QNetworkReply::NetworkError code) {
    return QStringLiteral("(transport error %1)").arg(code);
}

// The transcript, or which failure the call ended with as the controller tells
// them apart: a failed connection, an empty recording, or a sentence to show.
QString outcome(const std::function<QString()>& call) {
    try {
        return call();
    } catch (const TransportError& error) {
        return transport(error.code());
    } catch (const ZedazidEdize& error) {
        return error.kind() == ZedazidEdize::Kind::emptyAudio ? QStringLiteral("(empty audio)")
                                                              : *error.errorDescription();
    }
}

// Collects the completions of one call.
struct Completions {
    std::vector<TranscriptionOutcome> outcomes;

    Transcriber::Completion callback() {
        return [this](const TranscriptionOutcome& outcome) { outcomes.push_back(outcome); };
    }
    bool arrived() const { return !outcomes.empty(); }
    QString text() const {
        return outcome([this] { return outcomes.at(0).get(); });
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

// A TCP server on loopback that answers every connection with raw bytes and
// closes it: for replies that are not HTTP at all.
class RawServer : public QTcpServer {
public:
    explicit RawServer(const QByteArray& answer) {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this, answer] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [socket, answer] {
                    socket->readAll();
                    socket->write(answer);
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
};

// Points the client at a test server and back at the default afterwards.
class TranscriptionClientTest : public testing::Test {
protected:
    void SetUp() override { useService(server.port()); }
    void TearDown() override {
        ServiceAddress::configure(QString::fromLatin1(ServiceAddress::defaultBaseUrl));
    }
    static void useService(quint16 port) {
        ServiceAddress::configure(QStringLiteral("http://127.0.0.1:%1").arg(port));
    }

    // Transcribes and waits for the completion.
    Completions transcribe(const QByteArray& audio = "recording") {
        Completions done;
        client.transcribe(audio, done.callback());
        EXPECT_TRUE(waitUntil([&] { return done.arrived(); }));
        return done;
    }

    // Starts a call the server stalls by trickling, and waits until it is stalling.
    std::shared_ptr<PendingTranscription> stalledCall(TranscriptionClient& by, Completions& done) {
        server.reply({200, R"({"text":"never"})", {}, {}, Stall::trickle});
        auto call = by.transcribe("recording", done.callback());
        EXPECT_TRUE(waitUntil([&] { return server.stalling() == 1; }));
        return call;
    }

    TestHttpServer server;
    TranscriptionClient client;
};

} // namespace

TEST_F(TranscriptionClientTest, SendsTheContractsRequestAndDeliversTheTranscriptLaterAndOnce) {
    server.reply({200, R"({"text":"  hello world \n"})"});
    const QByteArray audio = QByteArray::fromHex("fffffe00010203");
    Completions done;
    client.transcribe(audio, done.callback());
    EXPECT_FALSE(done.arrived()) << "the completion ran inside transcribe()";
    ASSERT_TRUE(waitUntil([&] { return done.arrived(); }));
    drainEvents();
    ASSERT_EQ(done.outcomes.size(), 1u);
    EXPECT_EQ(done.text(), QLatin1String("hello world"));

    ASSERT_EQ(server.requestCount(), 1);
    const auto request = server.requests()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/api/transcribe");
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    EXPECT_EQ(request.header("X-Request-ID").size(), 36);
    EXPECT_EQ(request.header("X-Request-ID"), request.header("X-Request-ID").toUpper());
    EXPECT_EQ(request.body, TranscriptionContract::request(audio, {}).body);
}

// Replies over the size limit are cut off while they arrive, whatever their status.
TEST_F(TranscriptionClientTest, EveryStatusAndSizeIsReadByTheContract) {
    std::vector<std::pair<int, QByteArray>> rows = {
        {200, QByteArray(3 * 1024 * 1024, ' ') + R"({"text":"padded"})"},
        {429, QByteArray(TranscriptionContract::maximumReplyBytes + 1, 'x')},
        {429, QByteArray(TranscriptionContract::maximumReplyBytes, 'x')}};
    for (const int status :
         {200, 201, 202, 400, 401, 403, 404, 409, 413, 422, 429, 500, 501, 502, 503, 504, 599})
        rows.emplace_back(status, R"({"text":"fine"})");
    for (const auto& [status, body] : rows) {
        server.reply({status, body});
        EXPECT_EQ(transcribe().text(),
                  outcome([&] { return TranscriptionContract::transcript(body, status); }))
            << status << " " << body.size();
    }
}

// Over one session, so that a jar or cache that kept anything would show it.
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
    const auto first = server.requests()[0];
    const auto second = server.requests()[1];
    EXPECT_NE(first.header("X-Request-ID"), second.header("X-Request-ID"));
    for (const QByteArray header : {"Cookie", "If-None-Match", "If-Modified-Since"})
        EXPECT_FALSE(first.hasHeader(header) || second.hasHeader(header)) << header.data();
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

// A silent server meets the idle time-out; a trickling one keeps the transfer alive,
// so only the whole-request time-out can end it, and not before it is due.
TEST_F(TranscriptionClientTest, AStalledServerTimesOut) {
    const struct {
        Stall stall;
        int idleMs, totalMs, notBeforeMs;
    } rows[] = {{Stall::silent, 300, 60000, 0}, {Stall::trickle, 1000, 2500, 2500}};
    for (const auto& row : rows) {
        server.reply({200, R"({"text":"late"})", {}, {}, row.stall});
        client.setTimeouts(row.idleMs, row.totalMs);
        QElapsedTimer elapsed;
        elapsed.start();
        EXPECT_EQ(transcribe().text(), transport(QNetworkReply::TimeoutError));
        EXPECT_GE(elapsed.elapsed(), row.notBeforeMs);
    }
    EXPECT_TRUE(waitUntil([&] { return server.clientsGone() == 1; }));
}

// Cancelling a call, or destroying its client, aborts the transfer and drops the
// completion, also one already decided but not yet delivered.
TEST_F(TranscriptionClientTest, CancellingOrDestroyingTheClientDropsTheCompletion) {
    Completions done;
    const auto call = stalledCall(client, done);
    call->cancel();
    EXPECT_TRUE(waitUntil([&] { return server.clientsGone() == 1 && server.stalling() == 0; }));
    Completions decided;
    client.transcribe({}, decided.callback())->cancel();

    Completions dropped;
    auto owned = std::make_unique<TranscriptionClient>();
    const auto orphan = stalledCall(*owned, dropped);
    owned.reset();
    EXPECT_TRUE(waitUntil([&] { return server.clientsGone() == 2; }));
    drainEvents();
    EXPECT_FALSE(done.arrived() || decided.arrived() || dropped.arrived());
    call->cancel();   // a second cancel is harmless
    orphan->cancel(); // the handle outlives the client safely
}

// A connection that ends without a whole reply failed; one that answers with something
// else than HTTP, or with headers past their limit, gave a reply that cannot be read.
TEST_F(TranscriptionClientTest, RefusedCutGarbledOrOversizedReplies) {
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    useService(closed.serverPort());
    closed.close();
    EXPECT_EQ(transcribe().text(), transport(QNetworkReply::ConnectionRefusedError));

    const QString cut = transport(QNetworkReply::RemoteHostClosedError);
    const std::pair<QByteArray, QString> rows[] = {
        {"", cut},
        {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"te", cut},
        {"this is not HTTP\r\n\r\n", notHttp},
        {"SSH-2.0-OpenSSH_9.2p1 Debian-2\r\n", notHttp},
        {"HTTP/1.1 200 OK\r\nX-Big: " + QByteArray(1 << 20, 'a') + "\r\n\r\n{\"text\":\"x\"}",
         TranscriptionContract::oversizedReply().errorDescription().value()}};
    for (const auto& [answer, expected] : rows) {
        RawServer raw(answer);
        useService(raw.serverPort());
        EXPECT_EQ(transcribe().text(), expected) << answer.left(40).toStdString();
    }
}

TEST_F(TranscriptionClientTest, EmptyOrOversizedAudioFailsBeforeAnyConnection) {
    EXPECT_EQ(transcribe({}).text(), QLatin1String("(empty audio)"));
    EXPECT_EQ(transcribe(QByteArray(TranscriptionContract::maximumBytes + 1, 'a')).text(),
              QLatin1String("Keep each recording under three minutes."));
    EXPECT_EQ(server.requestCount(), 0);
}

TEST_F(TranscriptionClientTest, InvalidateAbortsRunningCallsAndRefusesLaterOnes) {
    Completions done;
    stalledCall(client, done);
    client.invalidate();
    EXPECT_FALSE(done.arrived()) << "the completion ran inside invalidate()";
    ASSERT_TRUE(waitUntil([&] { return done.arrived(); }));
    EXPECT_EQ(done.text(), transport(QNetworkReply::OperationCanceledError));
    EXPECT_TRUE(waitUntil([&] { return server.clientsGone() == 1; }));
    EXPECT_EQ(transcribe().text(), transport(QNetworkReply::OperationCanceledError));
    EXPECT_EQ(server.requestCount(), 1);
}

TEST_F(TranscriptionClientTest, ACompletionCanStartTheNextCall) {
    server.reply({503, {}});
    Completions first;
    Completions retried;
    client.transcribe("recording", [&](const TranscriptionOutcome& outcome) {
        first.outcomes.push_back(outcome);
        server.reply({200, R"({"text":"retried"})"});
        client.transcribe("recording", retried.callback());
    });
    ASSERT_TRUE(waitUntil([&] { return retried.arrived(); }));
    EXPECT_EQ(first.text(),
              QLatin1String("Dictation is temporarily unavailable. Try again shortly."));
    EXPECT_EQ(retried.text(), QLatin1String("retried"));
}
