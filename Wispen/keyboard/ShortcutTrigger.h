#pragma once

#include <functional>

// The system-wide trigger keys as the controller uses them: Control+Alt+Space
// always, and F20 (the remapped microphone key) while that setting is on.
class ShortcutTrigger {
public:
    virtual ~ShortcutTrigger() = default;

    // Receives every press (true) and release (false) on the main thread.
    std::function<void(bool down)> onKey;

    // Registers Control+Alt+Space; throws ZedazidEdize when it cannot.
    virtual void start() = 0;
    // Reserves F20; throws ZedazidEdize when it is used elsewhere or cannot be reserved.
    virtual void enableMicrophone() = 0;
    // Releases F20; never fails.
    virtual void disableMicrophone() = 0;
    // Releases every key; nothing reaches onKey afterwards.
    virtual void stop() = 0;
};
