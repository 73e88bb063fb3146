#include "TranscriptionClient.h"
#include "QtPrinters.h"
#include "ServiceAddress.h"
#include "TestHttpServer.h"
#include "TranscriptionContract.h"
#include "TransportError.h"
#include "WaitUntil.h"
#include "ZedazidEdize.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

using Stall = TestHttpServer::Stall;

namespace {

const QString unreadable = QStringLiteral("Wispen returned an unreadable response. Try again.");
const QString unavailable =
    QStringLiteral("Dictation is temporarily unavailable. Try again shortly.");

// The string a test expects from a call that failed to connect.
QString transport(QNetworkReply::NetworkError code) {
    return QStringLiteral("(transport error %1)").arg(code);
}

// Collects the completions of one call, and tells its outcome as the controller
// tells them apart: the transcript, a failed connection (time-outs by their
// sentence), an empty recording, or a sentence to show.
struct Completions {
    std::vector<TranscriptionOutcome> outcomes;

    Transcriber::Completion callback() {
        return [this](const TranscriptionOutcome& outcome) { outcomes.push_back(outcome); };
    }
    bool arrived() const { return !outcomes.empty(); }
    QString text() const {
        try {
            return outcomes.at(0).get();
        } catch (const TransportError& error) {
            return error.code() == QNetworkReply::TimeoutError ? *error.errorDescription()
                                                               : transport(error.code());
        } catch (const ZedazidEdize& error) {
            return error.kind() == ZedazidEdize::Kind::emptyAudio ? QStringLiteral("(empty audio)")
                                                                  : *error.errorDescription();
        }
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
    QString transcribe(const QByteArray& audio = "recording") {
        Completions done;
        client.transcribe(audio, done.callback());
        EXPECT_TRUE(waitUntil([&] { return done.arrived(); }));
        return done.text();
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
    EXPECT_EQ(request.method + ' ' + request.path, "POST /api/transcribe");
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    EXPECT_EQ(request.header("X-Request-ID").size(), 36);
    EXPECT_EQ(request.body, TranscriptionContract::request(audio, {}).body);
}

// Replies over the size limit are cut off while they arrive, whatever their status;
// a silent server meets the idle time-out, and a trickling one, kept alive by each
// byte, the whole-request time-out.
TEST_F(TranscriptionClientTest, RepliesAreReadByTheContractWithinTheLimits) {
    const struct {
        TestHttpServer::Reply reply;
        int idleMs, totalMs;
        QString expected;
    } rows[] = {
        {{200, QByteArray(3 * 1024 * 1024, ' ') + R"({"text":"padded"})"}, 5000, 60000, unreadable},
        {{429, QByteArray(TranscriptionContract::maximumReplyBytes, 'x')},
         5000,
         60000,
         QStringLiteral("Wispen is busy. Try again in a moment.")},
        {{503, R"({"text":"fine"})"}, 5000, 60000, unavailable},
        {{200, "", {}, {}, Stall::silent},
         300,
         60000,
         QStringLiteral("The transcription service stopped sending data.")},
        {{200, "", {}, {}, Stall::trickle},
         1000,
         2500,
         QStringLiteral("The transcription service took too long to answer.")}};
    for (const auto& row : rows) {
        server.reply(row.reply);
        client.setTimeouts(row.idleMs, row.totalMs);
        EXPECT_EQ(transcribe(), row.expected) << row.reply.status << " " << int(row.reply.stall);
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
    EXPECT_EQ(transcribe(), transport(QNetworkReply::ConnectionRefusedError));

    const QString cut = transport(QNetworkReply::RemoteHostClosedError);
    const QString notHttp = QStringLiteral("Wispen couldn\u2019t read the response.");
    const std::pair<QByteArray, QString> rows[] = {
        {"", cut},
        {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"te", cut},
        {"SSH-2.0-OpenSSH_9.2p1 Debian-2\r\n", notHttp},
        {"HTTP/1.1 200 OK\r\nX-Big: " + QByteArray(1 << 20, 'a') + "\r\n\r\n{\"text\":\"x\"}",
         unreadable}};
    for (const auto& [answer, expected] : rows) {
        RawServer raw(answer);
        useService(raw.serverPort());
        EXPECT_EQ(transcribe(), expected) << answer.left(40).toStdString();
    }
}

// Empty audio fails before any connection; after invalidate() running calls are
// aborted and later ones refused, never inside the call itself.
TEST_F(TranscriptionClientTest, EmptyAudioAndInvalidatedClientsFailWithoutSending) {
    EXPECT_EQ(transcribe({}), QLatin1String("(empty audio)"));
    EXPECT_EQ(server.requestCount(), 0);
    Completions done;
    stalledCall(client, done);
    client.invalidate();
    EXPECT_FALSE(done.arrived()) << "the completion ran inside invalidate()";
    ASSERT_TRUE(waitUntil([&] { return done.arrived(); }));
    EXPECT_EQ(done.text(), transport(QNetworkReply::OperationCanceledError));
    EXPECT_TRUE(waitUntil([&] { return server.clientsGone() == 1; }));
    EXPECT_EQ(transcribe(), transport(QNetworkReply::OperationCanceledError));
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
    EXPECT_EQ(first.text(), unavailable);
    EXPECT_EQ(retried.text(), QLatin1String("retried"));
}
