#include "RecordingSession.h"

#include <gtest/gtest.h>

#include <functional>

using Phase = RecordingSession::Phase;

namespace {

// A session in the given phase, reached only through its own operations.
RecordingSession sessionIn(Phase phase) {
    RecordingSession session;
    if (phase >= Phase::requestingPermission)
        session.begin();
    if (phase >= Phase::recording)
        session.permissionGranted(session.id());
    if (phase >= Phase::transcribing)
        session.submit();
    if (phase == Phase::failed)
        session.complete(session.id(), false);
    return session;
}

} // namespace

// Each operation is accepted only in its phases and then moves to its phase, with a
// new identifier where it starts a new attempt; a refused one changes nothing.
TEST(RecordingSession, StartsIdleAndAcceptsEachOperationOnlyInItsPhases) {
    EXPECT_EQ(RecordingSession().phase(), Phase::idle);
    EXPECT_NE(RecordingSession().id(), RecordingSession().id());

    const Phase all[] = {Phase::idle, Phase::requestingPermission, Phase::recording,
                         Phase::transcribing, Phase::failed};
    using Run = std::function<bool(RecordingSession&)>;
    const Run begin = [](RecordingSession& s) {
        const auto id = s.begin();
        return id == s.id();
    };
    const Run grant = [](RecordingSession& s) { return s.permissionGranted(s.id()); };
    const Run submit = [](RecordingSession& s) {
        const auto id = s.submit();
        return id == s.id();
    };
    const Run fail = [](RecordingSession& s) { return s.complete(s.id(), false); };
    const Run succeed = [](RecordingSession& s) { return s.complete(s.id(), true); };
    const Run cancel = [](RecordingSession& s) {
        s.cancel();
        return true;
    };
    const Run staleGrant = [](RecordingSession& s) {
        return s.permissionGranted(QUuid::createUuid());
    };
    const Run staleCompletion = [](RecordingSession& s) {
        return s.complete(QUuid::createUuid(), true);
    };
    const struct {
        const char* name;
        Run run;
        std::vector<Phase> from;
        Phase to;
        bool newId;
    } operations[] = {
        {"begin", begin, {Phase::idle}, Phase::requestingPermission, true},
        {"grant", grant, {Phase::requestingPermission}, Phase::recording, false},
        {"submit", submit, {Phase::recording, Phase::failed}, Phase::transcribing, true},
        // A failed attempt keeps its identifier until it is retried or discarded.
        {"fail", fail, {Phase::transcribing}, Phase::failed, false},
        {"succeed", succeed, {Phase::transcribing}, Phase::idle, false},
        {"cancel", cancel, {std::begin(all), std::end(all)}, Phase::idle, true},
        {"stale grant", staleGrant, {}, Phase::idle, false},
        {"stale completion", staleCompletion, {}, Phase::idle, false}};
    for (const auto& operation : operations) {
        for (const Phase phase : all) {
            SCOPED_TRACE(testing::Message() << operation.name << " from " << int(phase));
            RecordingSession session = sessionIn(phase);
            const QUuid before = session.id();
            const bool allowed = std::find(operation.from.begin(), operation.from.end(), phase) !=
                                 operation.from.end();
            EXPECT_EQ(operation.run(session), allowed);
            EXPECT_EQ(session.phase(), allowed ? operation.to : phase);
            EXPECT_EQ(session.id() != before, allowed && operation.newId);
        }
    }
}
