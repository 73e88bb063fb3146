// Submission, retry and delivery of the transcript.
#include "ModelFixture.h"

#include <QDir>

using Phase = ReradazIzavo::Phase;

namespace {

const QString said = QStringLiteral("  Hello there.\n"); // delivered untrimmed, as received
const QString blank = QStringLiteral(" \n\t ");
const QString usersText = MemoryPasteboard().contents.value();
const QString refusal = QStringLiteral("The text field changed.");
const QString exposure = QStringLiteral("This app did not expose its focused field.");
const QString pressToPaste = QStringLiteral(" Press Ctrl+V to paste.");
const QString terminal = QStringLiteral("Terminal recordings use manual paste.");
const QString notConfirmed = QStringLiteral("The original text field could not be confirmed.");
const QString meanwhile = QStringLiteral("copied meanwhile");
const std::optional<QString> noHint;

enum class Field { pastes, refuses, refusesSilently, hidden, hiddenSilently, terminal };
enum class Clipboard { keeps, refuses, garbles, changedMeanwhile };

struct DeliveryRow {
    const char* name;
    bool autoPaste;
    Field field;
    Clipboard clipboard;
    QString transcript, status, detail;
    std::optional<QString> hint;
    int pastes;
    QString clipboardAfter;
};

class Delivery : public ModelTest, public testing::WithParamInterface<DeliveryRow> {};

const DeliveryRow deliveryRows[] = {
    {"pasted", true, Field::pastes, Clipboard::keeps, said, StatusText::pasteSent,
     DetailText::pasteSent, noHint, 1, said},
    {"pasteRefusedWithReason", true, Field::refuses, Clipboard::keeps, said, StatusText::copied,
     refusal + pressToPaste, refusal, 1, said},
    {"pasteRefusedWithoutReason", true, Field::refusesSilently, Clipboard::keeps, said,
     StatusText::copied, notConfirmed + pressToPaste, notConfirmed, 1, said},
    {"noFieldWithReason", true, Field::hidden, Clipboard::keeps, said, StatusText::copied,
     exposure + pressToPaste, exposure, 0, said},
    {"terminal", true, Field::terminal, Clipboard::keeps, said, StatusText::copied,
     terminal + " Press Ctrl+Shift+V to paste.", terminal, 0, said},
    {"noFieldWithoutReason", true, Field::hiddenSilently, Clipboard::keeps, said,
     StatusText::copied, notConfirmed + pressToPaste, notConfirmed, 0, said},
    {"autoPasteOff", false, Field::pastes, Clipboard::keeps, said, StatusText::copied,
     pressToPaste.trimmed(), noHint, 0, said},
    {"clipboardRefuses", true, Field::pastes, Clipboard::refuses, said, StatusText::transcriptReady,
     DetailText::clipboardCopyFailed, noHint, 0, usersText},
    {"clipboardGarbles", true, Field::pastes, Clipboard::garbles, said, StatusText::transcriptReady,
     DetailText::clipboardCopyFailed, noHint, 0, said + "?"},
    {"clipboardChangedMeanwhile", true, Field::pastes, Clipboard::changedMeanwhile, said,
     StatusText::transcriptReady, DetailText::copiedWhileWaiting, noHint, 0, meanwhile},
    {"blankTranscript", true, Field::pastes, Clipboard::keeps, blank, StatusText::noSpeech,
     DetailText::noSpeech, noHint, 0, usersText},
};

} // namespace

TEST_P(Delivery, PastesOrCopiesWithTheReason) {
    const DeliveryRow& row = GetParam();
    model->setAutoPaste(row.autoPaste);
    capture->findsField = row.field < Field::hidden;
    capture->captureFailure = row.field == Field::hidden     ? std::optional(exposure)
                              : row.field == Field::terminal ? std::optional(terminal)
                                                             : std::nullopt;
    capture->pasteSucceeds = row.field == Field::pastes;
    capture->pasteFailure = row.field == Field::refuses ? std::optional(refusal) : std::nullopt;
    pasteboard->refuseWrites = row.clipboard == Clipboard::refuses;
    pasteboard->garbleWrites = row.clipboard == Clipboard::garbles;
    driveTo(Phase::transcribing);
    EXPECT_EQ(capture->captures, row.autoPaste ? 1 : 0);
    if (row.clipboard == Clipboard::changedMeanwhile)
        pasteboard->copyElsewhere(meanwhile);

    transcriber->answer(0, row.transcript);
    settle();
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_EQ(model->status(), row.status);
    EXPECT_EQ(model->detail(), row.detail);
    EXPECT_EQ(model->pasteHint(), row.hint);
    EXPECT_EQ(capture->pastes, row.pastes);
    EXPECT_EQ(capture->pasted, row.pastes ? row.transcript : QString());
    EXPECT_EQ(pasteboard->contents, row.clipboardAfter);
    EXPECT_EQ(model->lastTranscript(), row.transcript);
    EXPECT_TRUE(recordingFolders().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Rows, Delivery, testing::ValuesIn(deliveryRows),
                         [](const auto& info) { return std::string(info.param.name); });

// A field taking its focus back from our key grab is asked again on the timer, until
// it takes the paste, refuses for good, or the retries run out.
TEST_F(ModelTest, APasteWaitsBoundedlyForTheFocusToReturn) {
    const int limit = ReradazIzavo::maxPasteRetries;
    const struct {
        int awayFor;
        bool succeeds;
        QString detail;
    } rows[] = {{3, true, DetailText::pasteSent},
                {2, false, refusal + pressToPaste},
                {limit + 5, true, refusal + pressToPaste}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.awayFor);
        build();
        *capture = CaptureScript();
        capture->pasteSucceeds = row.succeeds, capture->pasteFailure = refusal;
        capture->focusAwayFor = row.awayFor;
        driveTo(Phase::transcribing);
        transcriber->answer(transcriber->calls.size() - 1, said);
        settle();
        EXPECT_EQ(model->status(), StatusText::transcribing);
        EXPECT_EQ(pasteboard->contents, said);
        for (int tick = 0; tick < limit + 10 && timers->running() > 0; ++tick)
            timers->tick();
        EXPECT_EQ(timers->running(), 0u);
        EXPECT_EQ(capture->pastes, std::min(row.awayFor + 1, limit + 1));
        EXPECT_EQ(model->detail(), row.detail);
    }
    // A new dictation drops a paste still waiting.
    capture->focusAwayFor = 5;
    driveTo(Phase::transcribing);
    transcriber->answer(transcriber->calls.size() - 1, said);
    settle();
    EXPECT_EQ(model->phase(), Phase::idle);
    model->toggle();
    EXPECT_EQ(timers->running(), 0u);
}

TEST_F(ModelTest, CopyLastCopiesTheLastTranscriptIfThereIsOne) {
    model->copyLast();
    EXPECT_TRUE(statuses.isEmpty());
    EXPECT_EQ(pasteboard->writes, 0);

    driveTo(Phase::transcribing);
    pasteboard->copyElsewhere(meanwhile);
    transcriber->answer(0, QStringLiteral("Dictated."));
    settle();
    ASSERT_EQ(pasteboard->contents, meanwhile);
    model->copyLast();
    EXPECT_EQ(model->status(), StatusText::copied);
    EXPECT_EQ(model->detail(), DetailText::pressToPasteLast);
    EXPECT_EQ(pasteboard->contents, QStringLiteral("Dictated."));
    EXPECT_FALSE(model->pasteHint().has_value());
}

TEST_F(ModelTest, AnEmptyTranscriptKeepsTheLastOne) {
    driveTo(Phase::transcribing);
    transcriber->answer(0, QStringLiteral("First."));
    settle();
    model->toggle();
    settle();
    model->toggle();
    settle();
    transcriber->answer(1, QString());
    settle();
    EXPECT_EQ(model->status(), StatusText::noSpeech);
    EXPECT_EQ(model->lastTranscript(), QStringLiteral("First."));
    EXPECT_TRUE(recordingFolders().isEmpty());
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
    EXPECT_EQ(model->detail(), notConfirmed + pressToPaste);
    EXPECT_EQ(pasteboard->contents, QStringLiteral("Second try."));
    EXPECT_TRUE(recordingFolders().isEmpty());
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
    settle();
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
    ASSERT_TRUE(QDir(tempDir.filePath(recordingFolders()[0])).removeRecursively());
    model->retry();
    settle();
    EXPECT_EQ(model->phase(), Phase::failed);
    EXPECT_EQ(model->status(), StatusText::needsAttention);
    EXPECT_TRUE(model->detail().startsWith(QStringLiteral("The recording could not be read")))
        << model->detail().toStdString();
    EXPECT_EQ(transcriber->calls.size(), 1u);
}
