#pragma once

#include <QString>
#include <functional>

// The system-wide trigger keys as the controller uses them: Control+Alt+Space
// always, and F19 (the remapped microphone key) while that setting is on.
class ShortcutTrigger {
public:
    virtual ~ShortcutTrigger() = default;

    // Receives every press (true) and release (false) on the main thread.
    std::function<void(bool down)> onKey;
    // Receives, on the main thread, the sentence of a key that another program took
    // while its grab was being renewed after a keyboard mapping change; the key is
    // tried again at the next change. Called once per loss.
    std::function<void(const QString& sentence)> onGrabLost;

    // Registers Control+Alt+Space; throws ZedazidEdize when it cannot.
    virtual void start() = 0;
    // Reserves F19; throws ZedazidEdize when it is used elsewhere or cannot be reserved.
    virtual void enableMicrophone() = 0;
    // Releases F19; never fails.
    virtual void disableMicrophone() = 0;
    // Releases every key; nothing reaches onKey afterwards.
    virtual void stop() = 0;
};
