// Submission, retry and delivery of the transcript.
#include "ModelFixture.h"

#include "TransportError.h"

#include <QDir>

using Phase = ReradazIzavo::Phase;

namespace {

const QString transcript = QStringLiteral("  Hello there.\n");
const QString refusal = QStringLiteral("The text field changed.");
const QString exposure = QStringLiteral("This app did not expose its focused field.");

struct DeliveryRow {
    const char* name;
    bool autoPaste;
    bool findsField;
    std::optional<QString> captureFailure;
    bool pasteSucceeds;
    std::optional<QString> pasteFailure;
    QString status;
    QString detail;
    std::optional<QString> hint;
    int pastes;
};

void PrintTo(const DeliveryRow& row, std::ostream* os) {
    *os << row.name;
}

const DeliveryRow deliveryRows[] = {
    {"pasted", true, true, {}, true, {}, StatusText::pasteSent, DetailText::pasteSent, {}, 1},
    {"pasteRefusedWithReason",
     true,
     true,
     {},
     false,
     refusal,
     StatusText::copied,
     refusal + QStringLiteral(" Press Command-V to paste."),
     refusal,
     1},
    {"pasteRefusedWithoutReason",
     true,
     true,
     {},
     false,
     {},
     StatusText::copied,
     DetailText::fieldNotConfirmed + QStringLiteral(" Press Command-V to paste."),
     DetailText::fieldNotConfirmed,
     1},
    {"noFieldWithCaptureReason",
     true,
     false,
     exposure,
     true,
     {},
     StatusText::copied,
     exposure + QStringLiteral(" Press Command-V to paste."),
     exposure,
     0},
    {"noFieldWithoutReason",
     true,
     false,
     {},
     true,
     {},
     StatusText::copied,
     QStringLiteral("The original text field could not be confirmed. Press Command-V to paste."),
     DetailText::fieldNotConfirmed,
     0},
    {"autoPasteOff",
     false,
     true,
     {},
     true,
     {},
     StatusText::copied,
     QStringLiteral("Press Command-V to paste."),
     {},
     0},
};

class Delivery : public ModelTest, public testing::WithParamInterface<DeliveryRow> {};

} // namespace

TEST_P(Delivery, PastesOrCopiesWithTheReason) {
    const DeliveryRow& row = GetParam();
    model->setAutoPaste(row.autoPaste);
    capture->findsField = row.findsField;
    capture->captureFailure = row.captureFailure;
    capture->pasteSucceeds = row.pasteSucceeds;
    capture->pasteFailure = row.pasteFailure;
    driveTo(Phase::transcribing);

    transcriber->answer(0, transcript);
    settle();
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_EQ(model->status(), row.status);
    EXPECT_EQ(model->detail(), row.detail);
    EXPECT_EQ(model->pasteHint(), row.hint);
    EXPECT_EQ(capture->pastes, row.pastes);
    EXPECT_EQ(pasteboard->contents, transcript); // untrimmed, as received
    EXPECT_EQ(model->lastTranscript(), transcript);
}

INSTANTIATE_TEST_SUITE_P(Rows, Delivery, testing::ValuesIn(deliveryRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ModelTest, TheUploadCarriesTheRecordedFile) {
    recorder->audio = QByteArray("\x00\x01 aac bytes", 12);
    driveTo(Phase::transcribing);
    ASSERT_EQ(transcriber->calls.size(), 1u);
    EXPECT_EQ(transcriber->calls[0].audio, recorder->audio);
    EXPECT_EQ(model->status(), StatusText::transcribing);
    EXPECT_EQ(model->detail(), DetailText::transcribing);
}

TEST_F(ModelTest, ACopyMadeWhileWaitingIsLeftAloneUntilCopyLast) {
    driveTo(Phase::transcribing);
    pasteboard->copyElsewhere(QStringLiteral("copied meanwhile"));
    transcriber->answer(0, QStringLiteral("Dictated."));
    settle();
    EXPECT_EQ(model->status(), StatusText::transcriptReady);
    EXPECT_EQ(model->detail(), DetailText::copiedWhileWaiting);
    EXPECT_EQ(pasteboard->contents, QStringLiteral("copied meanwhile"));
    EXPECT_EQ(capture->pastes, 0);

    model->copyLast();
    EXPECT_EQ(model->status(), StatusText::copied);
    EXPECT_EQ(model->detail(), DetailText::pressToPasteLast);
    EXPECT_EQ(pasteboard->contents, QStringLiteral("Dictated."));
    EXPECT_FALSE(model->pasteHint().has_value());
}

TEST_F(ModelTest, AClipboardThatDoesNotKeepTheTextIsReported) {
    for (const bool refuse : {true, false}) {
        SCOPED_TRACE(refuse);
        *transcriber = ScriptedTranscriber();
        pasteboard->refuseWrites = refuse;
        pasteboard->garbleWrites = !refuse;
        build();
        driveTo(Phase::transcribing);
        transcriber->answer(0, QStringLiteral("Dictated."));
        settle();
        EXPECT_EQ(model->status(), StatusText::transcriptReady);
        EXPECT_EQ(model->detail(), DetailText::clipboardCopyFailed);
        EXPECT_EQ(model->phase(), Phase::idle);
        EXPECT_EQ(capture->pastes, 0);
        EXPECT_EQ(model->lastTranscript(), QStringLiteral("Dictated."));
    }
}

TEST_F(ModelTest, ABlankTranscriptIsKeptButNotDelivered) {
    driveTo(Phase::transcribing);
    const int writes = pasteboard->writes;
    transcriber->answer(0, QStringLiteral(" \n\t "));
    settle();
    EXPECT_EQ(model->status(), StatusText::noSpeech);
    EXPECT_EQ(model->detail(), DetailText::noSpeech);
    EXPECT_EQ(model->lastTranscript(), QStringLiteral(" \n\t "));
    EXPECT_EQ(pasteboard->writes, writes);
    EXPECT_EQ(capture->pastes, 0);
}

TEST_F(ModelTest, AnEmptyTranscriptKeepsTheLastOne) {
    driveTo(Phase::transcribing);
    transcriber->answer(0, QStringLiteral("First."));
    settle();
    model->toggle();
    settle();
    model->toggle();
    transcriber->answer(1, QString());
    settle();
    EXPECT_EQ(model->status(), StatusText::noSpeech);
    EXPECT_EQ(model->lastTranscript(), QStringLiteral("First."));
}

TEST_F(ModelTest, ARetriedTranscriptIsCopiedNeverPasted) {
    driveTo(Phase::failed);
    pasteboard->copyElsewhere(QStringLiteral("copied before the retry"));
    model->retry();
    EXPECT_EQ(model->phase(), Phase::transcribing);
    ASSERT_EQ(transcriber->calls.size(), 2u);
    EXPECT_EQ(transcriber->calls[1].audio, recorder->audio);

    transcriber->answer(1, QStringLiteral("Second try."));
    settle();
    EXPECT_EQ(capture->pastes, 0);
    EXPECT_EQ(model->status(), StatusText::copied);
    EXPECT_EQ(model->detail(),
              DetailText::fieldNotConfirmed + QStringLiteral(" Press Command-V to paste."));
    EXPECT_EQ(pasteboard->contents, QStringLiteral("Second try."));
    EXPECT_TRUE(recordingFolders().isEmpty());
}

TEST_F(ModelTest, ATransportErrorAsksToRetryWhenOnline) {
    driveTo(Phase::transcribing);
    transcriber->fail(
        0, TransportError(QNetworkReply::HostNotFoundError, QStringLiteral("Host not found")));
    settle();
    EXPECT_EQ(model->phase(), Phase::failed);
    EXPECT_EQ(model->status(), StatusText::needsAttention);
    EXPECT_EQ(model->detail(), DetailText::connectionFailed);
    EXPECT_EQ(recordingFolders().size(), 1);
}

TEST_F(ModelTest, AnswersForReplacedAttemptsAreDropped) {
    // Cancelled upload: its late answer changes nothing.
    driveTo(Phase::transcribing);
    model->cancel();
    EXPECT_TRUE(transcriber->calls[0].pending->cancelled);
    transcriber->answer(0, QStringLiteral("stale"));
    settle();
    EXPECT_EQ(model->status(), StatusText::ready);
    EXPECT_TRUE(model->lastTranscript().isEmpty());

    // A new dictation is under way: the old answer must not complete it.
    model->toggle();
    settle();
    model->toggle();
    ASSERT_EQ(transcriber->calls.size(), 2u);
    transcriber->answer(0, QStringLiteral("stale again"));
    settle();
    EXPECT_EQ(model->phase(), Phase::transcribing);

    // Failed, then retried: the failed attempt's answer is stale too.
    transcriber->fail(1, ZedazidEdize::message(QStringLiteral("Busy.")));
    settle();
    model->retry();
    transcriber->answer(1, QStringLiteral("stale after retry"));
    settle();
    EXPECT_EQ(model->phase(), Phase::transcribing);
    transcriber->answer(2, QStringLiteral("fresh"));
    settle();
    EXPECT_EQ(model->lastTranscript(), QStringLiteral("fresh"));
    EXPECT_EQ(pasteboard->contents, QStringLiteral("fresh"));
}

TEST_F(ModelTest, AnUnreadableRecordingFailsTheRetryWithTheReason) {
    driveTo(Phase::failed);
    ASSERT_TRUE(QDir(QDir(tempDir.path()).filePath(recordingFolders()[0])).removeRecursively());
    model->retry();
    settle();
    EXPECT_EQ(model->phase(), Phase::failed);
    EXPECT_EQ(model->status(), StatusText::needsAttention);
    EXPECT_TRUE(model->detail().startsWith(QStringLiteral("The recording could not be read")))
        << model->detail().toStdString();
    EXPECT_EQ(transcriber->calls.size(), 1u);
}

TEST_F(ModelTest, CopyLastWithNothingToCopyDoesNothing) {
    model->copyLast();
    EXPECT_TRUE(statuses.isEmpty());
    EXPECT_EQ(pasteboard->writes, 0);
}
