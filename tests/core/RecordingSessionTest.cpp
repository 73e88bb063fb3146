#include "RecordingSession.h"

#include <gtest/gtest.h>

#include <functional>

using Phase = RecordingSession::Phase;

// Each operation is accepted only in its phases and then moves to its phase, with a
// new identifier where it starts a new attempt; a refused one changes nothing, and
// an answer for another attempt is refused.
TEST(RecordingSession, AcceptsEachOperationOnlyInItsPhasesAndForItsAttempt) {
    EXPECT_NE(RecordingSession().id(), RecordingSession().id());
    using S = RecordingSession&;
    // The first four lead from idle through every phase to failed, in order.
    const std::function<bool(S)> run[] = {
        [](S s) { return s.begin().has_value(); },
        [](S s) { return s.permissionGranted(s.id()); },
        [](S s) { return s.submit().has_value(); },
        [](S s) { return s.complete(s.id(), false); },
        [](S s) { return s.complete(s.id(), true); },
        [](S s) { return s.cancel(), true; },
        [](S s) { return s.permissionGranted(QUuid::createUuid()); },
        [](S s) { return s.complete(QUuid::createUuid(), true); },
    };
    const Phase all[] = {Phase::idle, Phase::requestingPermission, Phase::recording,
                         Phase::transcribing, Phase::failed};
    const struct {
        const char* name;
        std::vector<Phase> from;
        Phase to;
        bool newId;
    } operations[] = {{"begin", {Phase::idle}, Phase::requestingPermission, true},
                      {"grant", {Phase::requestingPermission}, Phase::recording, false},
                      {"submit", {Phase::recording, Phase::failed}, Phase::transcribing, true},
                      // A failed attempt keeps its identifier until it is retried or discarded.
                      {"fail", {Phase::transcribing}, Phase::failed, false},
                      {"succeed", {Phase::transcribing}, Phase::idle, false},
                      {"cancel", {std::begin(all), std::end(all)}, Phase::idle, true},
                      {"stale grant", {}, {}, false},
                      {"stale completion", {}, {}, false}};
    for (std::size_t o = 0; o < std::size(operations); ++o) {
        for (int reached = 0; reached < 5; ++reached) {
            SCOPED_TRACE(testing::Message() << operations[o].name << " from " << reached);
            // Each phase is reached only through the session's own operations.
            RecordingSession session;
            for (int step = 0; step < reached; ++step)
                run[step](session);
            const Phase phase = all[reached];
            ASSERT_EQ(session.phase(), phase);
            const QUuid before = session.id();
            const auto& from = operations[o].from;
            const bool allowed = std::find(from.begin(), from.end(), phase) != from.end();
            EXPECT_EQ(run[o](session), allowed);
            EXPECT_EQ(session.phase(), allowed ? operations[o].to : phase);
            EXPECT_EQ(session.id() != before, allowed && operations[o].newId);
        }
    }
}
