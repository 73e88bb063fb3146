#pragma once

#include <QStringList>
#include <memory>
#include <optional>

// One opened input event device: its identity, the keys it advertises, and its
// keymap, addressed by scancode.
class InputDevice {
public:
    enum class Status { ok, unmapped, gone, failed };

    virtual ~InputDevice() = default;

    // The kernel's input device number (inputN); nothing when the device is gone.
    virtual std::optional<quint32> inputNumber() const = 0;
    // The device whose keymap this node shares with its sibling nodes (the keyboard
    // and consumer-control halves of one HID device); empty when that is unknown.
    virtual QString keymapOwner() const = 0;
    // Whether the device advertises the key code; false when its keys could not be read.
    virtual bool hasKey(unsigned keyCode) const = 0;
    // Whether the keymap is a HID device's, addressed by usages. Remote-control
    // receivers and built-in keyboards have keymaps of their own scancodes.
    virtual bool hidKeymap() const = 0;
    // The key code the scancode produces: `unmapped` when the device has no such
    // scancode, `gone` when it disappeared, `failed` for any other refusal.
    virtual Status keyCode(quint32 scancode, unsigned& keyCode) = 0;
    // Makes the scancode produce the key code: `unmapped`, `gone` or `failed` as above.
    virtual Status setKeyCode(quint32 scancode, unsigned keyCode) = 0;
};

// The system's input event devices (/dev/input/event*).
class InputDevices {
public:
    enum class OpenFailure { none, gone, denied };

    virtual ~InputDevices() = default;

    // The device nodes in the kernel's order; nothing when they cannot be listed.
    virtual std::optional<QStringList> nodes() = 0;
    // Opens a node; null with `failure` set to `gone` when it has disappeared
    // meanwhile, or `denied` when it may not be opened.
    virtual std::unique_ptr<InputDevice> open(const QString& node, OpenFailure& failure) = 0;
};
