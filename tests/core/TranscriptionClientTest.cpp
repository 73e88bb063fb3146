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

// Points the client at a test server.
class TranscriptionClientTest : public testing::Test {
protected:
    void SetUp() override { ServiceAddress::configure(server.baseUrl().toString()); }

    // Transcribes and waits for the completion.
    QString transcribe(const QByteArray& audio = "recording") {
        Completions done;
        client.transcribe(audio, done.callback());
        EXPECT_TRUE(waitUntil([&] { return done.arrived(); }));
        return done.text();
    }

    // Starts a call the server stalls by trickling, and waits until it is stalling.
    std::shared_ptr<PendingTranscription> stalledCall(TranscriptionClient& by, Completions& done) {
        server.reply({200, R"({"text":"never"})", {}, Stall::trickle});
        auto call = by.transcribe("recording", done.callback());
        EXPECT_TRUE(waitUntil([&] { return server.stalling() == 1; }));
        return call;
    }

    TestHttpServer server;
    TranscriptionClient client;
};

} // namespace

// A completion may start the next call.
TEST_F(TranscriptionClientTest, SendsTheContractsRequestAndDeliversTheTranscriptLaterAndOnce) {
    server.reply({200, R"({"text":"  hello world \n"})"});
    const QByteArray audio = QByteArray::fromHex("fffffe00010203");
    Completions done, next;
    client.transcribe(audio, [&](const TranscriptionOutcome& outcome) {
        done.outcomes.push_back(outcome);
        client.transcribe(audio, next.callback());
    });
    EXPECT_FALSE(done.arrived()) << "the completion ran inside transcribe()";
    ASSERT_TRUE(waitUntil([&] { return next.arrived(); }));
    QCoreApplication::sendPostedEvents();
    ASSERT_EQ(done.outcomes.size(), 1u);
    EXPECT_EQ(done.text(), QLatin1String("hello world"));
    EXPECT_EQ(next.text(), QLatin1String("hello world"));

    ASSERT_EQ(server.requests().size(), 2u);
    const auto request = server.requests()[0];
    EXPECT_EQ(request.method + ' ' + request.path, "POST /api/transcribe");
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    EXPECT_EQ(request.body, TranscriptionContract::request(audio, {}).body);
}

// Replies over the size limit are cut off while they arrive, whatever their status;
// a silent server meets the idle time-out, and a trickling one, kept alive by each
// byte, the whole-request time-out.
TEST_F(TranscriptionClientTest, RepliesAreReadByTheContractWithinTheLimits) {
    const QString service = "The transcription service ";
    const struct {
        int idleMs, totalMs;
        TestHttpServer::Reply reply;
        QString expected;
    } rows[] = {
        {5000, 60000, {200, QByteArray(3 << 20, ' ') + R"({"text":"padded"})"}, unreadable},
        {5000,
         60000,
         {429, QByteArray(TranscriptionContract::maximumReplyBytes, 'x')},
         "Wispen is busy. Try again in a moment."},
        {300, 60000, {200, "", {}, Stall::silent}, service + "stopped sending data."},
        {1000, 2500, {200, "", {}, Stall::trickle}, service + "took too long to answer."},
    };
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
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(done.arrived() || decided.arrived() || dropped.arrived());
    call->cancel();   // a second cancel is harmless
    orphan->cancel(); // the handle outlives the client safely
}

// A refused connection, or one that ends without a whole reply, failed; one that
// answers with something else than HTTP, or with headers past their limit, gave a reply
// that cannot be read. The server answers raw bytes, or (with none) listens no more.
TEST_F(TranscriptionClientTest, RefusedCutGarbledOrOversizedReplies) {
    const std::pair<QByteArray, QString> rows[] = {
        {{}, transport(QNetworkReply::ConnectionRefusedError)},
        {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"te",
         transport(QNetworkReply::RemoteHostClosedError)},
        {"SSH-2.0-OpenSSH_9.2p1 Debian-2\r\n",
         QStringLiteral("Wispen couldn\u2019t read the response.")},
        {"HTTP/1.1 200 OK\r\nX-Big: " + QByteArray(1 << 20, 'a') + "\r\n\r\n{\"text\":\"x\"}",
         unreadable}};
    for (const auto& [answer, expected] : rows) {
        QTcpServer raw;
        ASSERT_TRUE(raw.listen(QHostAddress::LocalHost));
        ServiceAddress::configure(QStringLiteral("http://127.0.0.1:%1").arg(raw.serverPort()));
        if (answer.isEmpty())
            raw.close();
        QObject::connect(&raw, &QTcpServer::newConnection, [&raw, answer] {
            QTcpSocket* socket = raw.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, [socket, answer] {
                socket->readAll();
                socket->write(answer);
                socket->disconnectFromHost();
            });
        });
        EXPECT_EQ(transcribe(), expected) << answer.left(40).toStdString();
    }
}

// Empty audio fails before any connection; after invalidate() running calls are
// aborted and later ones refused, never inside the call itself.
TEST_F(TranscriptionClientTest, EmptyAudioAndInvalidatedClientsFailWithoutSending) {
    EXPECT_EQ(transcribe({}), QLatin1String("(empty audio)"));
    EXPECT_EQ(server.requests().size(), 0u);
    Completions done;
    stalledCall(client, done);
    client.invalidate();
    EXPECT_FALSE(done.arrived()) << "the completion ran inside invalidate()";
    ASSERT_TRUE(waitUntil([&] { return done.arrived(); }));
    EXPECT_EQ(done.text(), transport(QNetworkReply::OperationCanceledError));
    EXPECT_TRUE(waitUntil([&] { return server.clientsGone() == 1; }));
    EXPECT_EQ(transcribe(), transport(QNetworkReply::OperationCanceledError));
    EXPECT_EQ(server.requests().size(), 1u);
}
