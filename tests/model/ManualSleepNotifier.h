#pragma once

#include "SleepNotifier.h"

// Announces sleep when the test says so.
class ManualSleepNotifier final : public SleepNotifier {
public:
    bool start() override { return listening = true; }
    void stop() override { listening = false; }
    void fire() {
        if (onWillSleep)
            onWillSleep();
    }
    bool listening = false;
};
