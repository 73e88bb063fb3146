#include "RecordingSession.h"

#include <gtest/gtest.h>

using Phase = RecordingSession::Phase;

namespace {

// A session in the given phase, reached only through its own operations.
RecordingSession sessionIn(Phase phase) {
    RecordingSession session;
    if (phase == Phase::idle)
        return session;
    const QUuid begun = *session.begin();
    if (phase == Phase::requestingPermission)
        return session;
    session.permissionGranted(begun);
    if (phase == Phase::recording)
        return session;
    const QUuid submitted = *session.submit();
    if (phase == Phase::transcribing)
        return session;
    session.complete(submitted, false);
    return session;
}

const Phase allPhases[] = {Phase::idle, Phase::requestingPermission, Phase::recording,
                           Phase::transcribing, Phase::failed};

} // namespace

TEST(RecordingSession, StartsIdleWithAFreshIdentifier) {
    const RecordingSession first;
    const RecordingSession second;
    EXPECT_EQ(first.phase(), Phase::idle);
    EXPECT_FALSE(first.id().isNull());
    EXPECT_NE(first.id(), second.id());
}

TEST(RecordingSession, WalksThroughOneSuccessfulDictation) {
    RecordingSession session;
    const auto begun = session.begin();
    ASSERT_TRUE(begun);
    EXPECT_EQ(session.phase(), Phase::requestingPermission);
    EXPECT_EQ(session.id(), *begun);

    EXPECT_TRUE(session.permissionGranted(*begun));
    EXPECT_EQ(session.phase(), Phase::recording);
    EXPECT_EQ(session.id(), *begun);

    const auto submitted = session.submit();
    ASSERT_TRUE(submitted);
    EXPECT_NE(*submitted, *begun);
    EXPECT_EQ(session.phase(), Phase::transcribing);

    EXPECT_FALSE(session.complete(*begun, true)) << "the identifier of the recording is stale";
    EXPECT_TRUE(session.complete(*submitted, true));
    EXPECT_EQ(session.phase(), Phase::idle);
    EXPECT_EQ(session.id(), *submitted);
}

TEST(RecordingSession, BeginOnlyFromIdle) {
    for (const Phase phase : allPhases) {
        RecordingSession session = sessionIn(phase);
        const QUuid before = session.id();
        const auto begun = session.begin();
        EXPECT_EQ(begun.has_value(), phase == Phase::idle) << int(phase);
        if (phase != Phase::idle) {
            EXPECT_EQ(session.phase(), phase);
            EXPECT_EQ(session.id(), before);
        }
    }
}

TEST(RecordingSession, SubmitOnlyFromRecordingOrFailed) {
    for (const Phase phase : allPhases) {
        RecordingSession session = sessionIn(phase);
        const QUuid before = session.id();
        const auto submitted = session.submit();
        const bool allowed = phase == Phase::recording || phase == Phase::failed;
        EXPECT_EQ(submitted.has_value(), allowed) << int(phase);
        if (allowed) {
            EXPECT_EQ(session.phase(), Phase::transcribing);
            EXPECT_NE(*submitted, before);
            EXPECT_EQ(session.id(), *submitted);
        } else {
            EXPECT_EQ(session.phase(), phase);
            EXPECT_EQ(session.id(), before);
        }
    }
}

TEST(RecordingSession, GrantAndCompleteNeedTheCurrentIdentifierAndPhase) {
    for (const Phase phase : allPhases) {
        RecordingSession session = sessionIn(phase);
        const QUuid current = session.id();
        EXPECT_EQ(session.permissionGranted(QUuid::createUuid()), false);
        EXPECT_EQ(session.complete(QUuid::createUuid(), true), false);
        EXPECT_EQ(session.phase(), phase);

        RecordingSession granted = session;
        EXPECT_EQ(granted.permissionGranted(current), phase == Phase::requestingPermission);
        RecordingSession completed = session;
        EXPECT_EQ(completed.complete(current, true), phase == Phase::transcribing);
        EXPECT_EQ(session.id(), current);
    }
}

TEST(RecordingSession, ADuplicateGrantIsIgnored) {
    RecordingSession session;
    const QUuid begun = *session.begin();
    EXPECT_TRUE(session.permissionGranted(begun));
    EXPECT_FALSE(session.permissionGranted(begun));
    EXPECT_EQ(session.phase(), Phase::recording);
}

TEST(RecordingSession, AFailedAttemptKeepsItsIdentifierUntilRetriedOrDiscarded) {
    RecordingSession session = sessionIn(Phase::transcribing);
    const QUuid attempt = session.id();
    EXPECT_TRUE(session.complete(attempt, false));
    EXPECT_EQ(session.phase(), Phase::failed);
    EXPECT_EQ(session.id(), attempt);
    EXPECT_FALSE(session.complete(attempt, true)) << "a failed attempt cannot complete again";
    EXPECT_FALSE(session.begin()) << "a new dictation waits until the failure is discarded";

    const auto retry = session.submit();
    ASSERT_TRUE(retry);
    EXPECT_NE(*retry, attempt);
    EXPECT_TRUE(session.complete(*retry, false));

    session.cancel();
    EXPECT_NE(session.id(), *retry);
    EXPECT_TRUE(session.begin());
}

TEST(RecordingSession, CancelFromAnyPhaseGoesIdleWithANewIdentifier) {
    for (const Phase phase : allPhases) {
        RecordingSession session = sessionIn(phase);
        const QUuid before = session.id();
        session.cancel();
        EXPECT_EQ(session.phase(), Phase::idle) << int(phase);
        EXPECT_NE(session.id(), before) << int(phase);
        EXPECT_FALSE(session.complete(before, true));
        EXPECT_FALSE(session.permissionGranted(before));
        EXPECT_EQ(session.phase(), Phase::idle);
    }
}
