// Submission, retry and delivery of the transcript.
#include "ModelFixture.h"
#include "PublishedState.h"

namespace {

const QString said = QStringLiteral("  Hello there.\n"); // delivered untrimmed, as received
const QString usersText = MemoryPasteboard().contents.value();
const QString refusal = QStringLiteral("The text field changed.");
const QString terminal = QStringLiteral("Terminal recordings use manual paste.");
const QString notConfirmed = QStringLiteral("The original text field could not be confirmed.");
const QString pressToPaste = QStringLiteral(" Press Ctrl+V to paste.");
const QString meanwhile = QStringLiteral("copied meanwhile");
const std::optional<QString> none;
namespace ST = StatusText;
namespace DT = DetailText;

} // namespace

// Pasted, or copied with the reason; never over a copy the user made meanwhile. A
// new dictation clears the hint. An empty transcript keeps the last one.
TEST_F(ModelTest, DeliveryPastesOrCopiesWithTheReason) {
    enum Field { pastes, refuses, hidden, inTerminal };
    enum Clipboard { keeps, garbles, changedMeanwhile };
    const struct {
        bool autoPaste;
        Field field;
        Clipboard clipboard;
        QString transcript, status, detail;
        std::optional<QString> hint;
        int pastes;
        QString clipboardAfter;
    } rows[] = {
        {true, pastes, keeps, said, ST::pasteSent, DT::pasteSent, none, 1, said},
        {true, refuses, keeps, said, ST::copied, refusal + pressToPaste, refusal, 1, said},
        {true, hidden, keeps, said, ST::copied, notConfirmed + pressToPaste, notConfirmed, 0, said},
        {true, inTerminal, keeps, said, ST::copied, terminal + " Press Ctrl+Shift+V to paste.",
         terminal, 0, said},
        {false, pastes, keeps, said, ST::copied, pressToPaste.trimmed(), none, 0, said},
        {true, pastes, garbles, said, ST::transcriptReady, DT::clipboardCopyFailed, none, 0,
         said + "?"},
        {true, pastes, changedMeanwhile, said, ST::transcriptReady, DT::copiedWhileWaiting, none, 0,
         meanwhile},
        {true, pastes, keeps, " \n\t ", ST::noSpeech, DT::noSpeech, none, 0, usersText},
        {true, pastes, keeps, "", ST::noSpeech, DT::noSpeech, none, 0, usersText},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.detail.toStdString());
        *capture = {}, *pasteboard = {}, *transcriber = {};
        build();
        PublishedState::setLastTranscript(*model, QStringLiteral("Earlier."));
        model->setAutoPaste(row.autoPaste);
        capture->findsField = row.field < hidden;
        capture->captureFailure = row.field == inTerminal ? std::optional(terminal) : std::nullopt;
        capture->pasteSucceeds = row.field == pastes;
        capture->pasteFailure = refusal;
        pasteboard->garbleWrites = row.clipboard == garbles;
        driveTo(Phase::transcribing);
        if (row.clipboard == changedMeanwhile)
            pasteboard->copyElsewhere(meanwhile);
        transcriber->answer(0, row.transcript);
        settle();
        EXPECT_EQ(model->phase(), Phase::idle);
        EXPECT_EQ(model->status(), row.status);
        EXPECT_EQ(model->detail(), row.detail);
        EXPECT_EQ(model->pasteHint(), row.hint);
        EXPECT_EQ(capture->pasted, QStringList(row.pastes, row.transcript));
        EXPECT_EQ(pasteboard->contents, row.clipboardAfter);
        EXPECT_EQ(model->lastTranscript(), row.transcript.isEmpty() ? "Earlier." : row.transcript);
        EXPECT_TRUE(recordingFolders().isEmpty());
        model->toggle();
        EXPECT_EQ(model->pasteHint(), std::nullopt);
        model->cancel();
    }
}

// A field taking its focus back from our key grab is asked again on the timer, until
// it takes the paste, refuses for good, or the retries run out; the dictation is over
// meanwhile, and a new one drops the waiting paste.
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
        *capture = CaptureScript();
        capture->pasteSucceeds = row.succeeds, capture->pasteFailure = refusal;
        capture->focusAwayFor = row.awayFor;
        driveTo(Phase::transcribing);
        transcriber->answer(transcriber->calls.size() - 1, said);
        settle();
        EXPECT_EQ(model->phase(), Phase::idle);
        EXPECT_EQ(pasteboard->contents, said);
        for (int tick = 0; tick < limit + 10 && timers->running() > 0; ++tick)
            timers->tick();
        EXPECT_EQ(timers->running(), 0u);
        EXPECT_EQ(capture->pasted.size(), std::min(row.awayFor + 1, limit + 1));
        EXPECT_EQ(model->detail(), row.detail);
    }
    capture->focusAwayFor = 5;
    driveTo(Phase::transcribing);
    transcriber->answer(transcriber->calls.size() - 1, said);
    settle();
    model->toggle();
    EXPECT_EQ(timers->running(), 0u);
}

// A retry uploads the kept recording again; answers of the cancelled and the failed
// attempt change nothing. Its field was never captured: the transcript is copied with
// the hint, which a cancel clears again, as does copying the last transcript, which
// there is none of until then.
TEST_F(ModelTest, ARetryIgnoresEarlierAnswersAndCopiesItsTranscript) {
    model->copyLast();
    EXPECT_EQ(pasteboard->writes, 0);
    driveTo(Phase::transcribing);
    model->cancel();
    driveTo(Phase::failed);
    pasteboard->copyElsewhere(QStringLiteral("copied before the retry"));
    model->retry();
    EXPECT_EQ(model->phase(), Phase::transcribing);
    ASSERT_EQ(transcriber->calls.size(), 3u);
    EXPECT_EQ(transcriber->calls[2]->audio, recorder->audio);
    transcriber->answer(0, QStringLiteral("stale"));
    transcriber->answer(1, QStringLiteral("stale after retry"));
    settle();
    EXPECT_EQ(model->phase(), Phase::transcribing);
    EXPECT_TRUE(model->lastTranscript().isEmpty());
    transcriber->answer(2, QStringLiteral("Second try."));
    settle();
    EXPECT_EQ(capture->pasted, QStringList());
    EXPECT_EQ(model->detail(), notConfirmed + pressToPaste);
    EXPECT_EQ(pasteboard->contents, QStringLiteral("Second try."));
    EXPECT_TRUE(recordingFolders().isEmpty());
    model->cancel();
    EXPECT_EQ(model->pasteHint(), std::nullopt);
    PublishedState::setPasteHint(*model, refusal);
    pasteboard->copyElsewhere(QStringLiteral("copied after"));
    model->copyLast();
    EXPECT_EQ(model->detail(), DetailText::pressToPasteLast);
    EXPECT_EQ(pasteboard->contents, QStringLiteral("Second try."));
    EXPECT_EQ(model->pasteHint(), std::nullopt);
}
