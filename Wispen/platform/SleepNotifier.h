#pragma once

#include <functional>

// Announces that the system is about to suspend, so a dictation in progress can be
// abandoned cleanly instead of resuming with a dead microphone and a stale upload.
class SleepNotifier {
public:
    virtual ~SleepNotifier() = default;

    // Runs on the main thread each time the system is about to sleep.
    std::function<void()> onWillSleep;

    // Starts listening; false when announcements cannot be received (onWillSleep then
    // never runs, and nothing else changes).
    virtual bool start() = 0;
    // Stops listening; never fails.
    virtual void stop() = 0;
};
