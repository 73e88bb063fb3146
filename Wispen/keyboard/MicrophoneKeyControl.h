#pragma once

// The microphone-key remapping as the controller uses it.
class MicrophoneKeyControl {
public:
    virtual ~MicrophoneKeyControl() = default;

    // Remaps the microphone key to F19 on every keyboard; throws ZedazidEdize and
    // leaves every keyboard as it was when it cannot.
    virtual void enable() = 0;
    // Removes exactly the entries this application added; throws ZedazidEdize when
    // a keyboard could not be restored.
    virtual void disable() = 0;
    // Whether a remapping of ours is recorded for the current boot session.
    virtual bool ownsMapping() const = 0;
};
