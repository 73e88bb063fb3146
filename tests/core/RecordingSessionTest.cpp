#include "RecordingSession.h"

#include <gtest/gtest.h>

#include <functional>

using Phase = RecordingSession::Phase;

// Each operation is accepted only in its phases and then moves to its phase, with a
// new identifier where it starts a new attempt; a refused one changes nothing, and
// an answer for another attempt is refused.
TEST(RecordingSession, AcceptsEachOperationOnlyInItsPhasesAndForItsAttempt) {
    EXPECT_EQ(RecordingSession().phase(), Phase::idle);
    EXPECT_NE(RecordingSession().id(), RecordingSession().id());
    using S = RecordingSession&;
    const std::function<bool(S)> steps[] = {
        [](S s) { return s.begin().has_value(); },
        [](S s) { return s.permissionGranted(s.id()); },
        [](S s) { return s.submit().has_value(); },
        [](S s) { return s.complete(s.id(), false); },
    };
    const Phase all[] = {Phase::idle, Phase::requestingPermission, Phase::recording,
                         Phase::transcribing, Phase::failed};
    const struct {
        const char* name;
        std::function<bool(S)> run;
        std::vector<Phase> from;
        Phase to;
        bool newId;
    } operations[] = {
        {"begin", steps[0], {Phase::idle}, Phase::requestingPermission, true},
        {"grant", steps[1], {Phase::requestingPermission}, Phase::recording, false},
        {"submit", steps[2], {Phase::recording, Phase::failed}, Phase::transcribing, true},
        // A failed attempt keeps its identifier until it is retried or discarded.
        {"fail", steps[3], {Phase::transcribing}, Phase::failed, false},
        {"succeed",
         [](S s) { return s.complete(s.id(), true); },
         {Phase::transcribing},
         Phase::idle,
         false},
        {"cancel",
         [](S s) { return s.cancel(), true; },
         {std::begin(all), std::end(all)},
         Phase::idle,
         true},
        {"stale grant",
         [](S s) { return s.permissionGranted(QUuid::createUuid()); },
         {},
         {},
         false},
        {"stale completion",
         [](S s) { return s.complete(QUuid::createUuid(), true); },
         {},
         {},
         false}};
    for (const auto& operation : operations) {
        for (int reached = 0; reached < 5; ++reached) {
            SCOPED_TRACE(testing::Message() << operation.name << " from " << reached);
            // Each phase is reached only through the session's own operations.
            RecordingSession session;
            for (int step = 0; step < reached; ++step)
                steps[step](session);
            const Phase phase = all[reached];
            ASSERT_EQ(session.phase(), phase);
            const QUuid before = session.id();
            const bool allowed = std::find(operation.from.begin(), operation.from.end(), phase) !=
                                 operation.from.end();
            EXPECT_EQ(operation.run(session), allowed);
            EXPECT_EQ(session.phase(), allowed ? operation.to : phase);
            EXPECT_EQ(session.id() != before, allowed && operation.newId);
        }
    }
}
