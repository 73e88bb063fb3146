#pragma once

#include "HIDKeyboardMappingStore.h"
#include "HIDUsages.h"
#include "ZedazidEdize.h"

#include <functional>
#include <map>
#include <set>

// A kernel keymap in memory, behind the same interface as the real input devices:
// devices that come and go, default tables, and keymap writes that fail, or that
// are accepted without being applied.
struct SimulatedDevice {
    quint32 inputNumber = 0;
    std::set<unsigned> keys; // advertised key codes
    // Scancode -> key code; the nodes of one HID device share one.
    std::shared_ptr<std::map<quint32, unsigned>> keymap =
        std::make_shared<std::map<quint32, unsigned>>();
    QString hidDevice;    // the HID device whose nodes share the keymap
    bool hid = true;      // its keymap is addressed by HID usages
    bool denied = false;  // opening it is not permitted
    int refuseWrites = 0; // the next this many writes fail
    int dropWrites = 0;   // the next this many writes succeed but change nothing
};

// The kernel's input devices by node number, as the store sees them through InputDevices.
struct SimulatedInputDevices final : InputDevices {
    // Adds a device as the next eventN.
    void plug(SimulatedDevice device) { events[int(events.size())] = std::move(device); }
    SimulatedDevice* device(quint32 inputNumber);
    unsigned& keyCode(quint32 inputNumber, quint64 usage) {
        return device(inputNumber)->keymap->at(*HIDUsages::scancode(usage));
    }
    std::optional<QStringList> nodes() override;
    std::unique_ptr<InputDevice> open(const QString& node, OpenFailure& failure) override;

    std::map<int, SimulatedDevice> events; // eventN -> device
    int keymapWrites = 0;
    // Runs before every keymap call, so a test can change the devices meanwhile.
    std::function<void()> beforeKeymapCall;
};

// Devices as the kernel's HID driver sets them up.
namespace SimulatedDevices {
// A full keyboard with the microphone key: letters, F keys, consumer keys.
SimulatedDevice keyboard(quint32 inputNumber);
// The keyboard and consumer-control halves of one HID keyboard, sharing a keymap.
void plugSplitKeyboard(SimulatedInputDevices& kernel, quint32 keyboardNumber,
                       quint32 consumerNumber);
// A mouse: buttons, no keymap.
SimulatedDevice mouse(quint32 inputNumber);
// An infrared receiver (rc-core): volume keys, a keymap of its own scancodes, and
// KEY_RESERVED for every scancode its remote does not send.
SimulatedDevice remoteControl(quint32 inputNumber);
} // namespace SimulatedDevices

// Shared by the keyboard tests.
namespace KeyboardTest {

constexpr quint64 micKey = MicrophoneMapping::source;
constexpr quint64 f5 = MicrophoneMapping::keyboardF5;
constexpr quint64 f15 = MicrophoneMapping::legacyDestination;
constexpr quint64 f19 = MicrophoneMapping::destination;

inline const QString couldNotChange =
    QStringLiteral("The system could not change the microphone key. Use Ctrl+Alt+Space to record.");

// The sentence a call throws, or a marker when it throws nothing.
template <typename F> QString thrownBy(F&& f) {
    try {
        f();
    } catch (const ZedazidEdize& error) {
        return error.errorDescription().value_or(QString());
    }
    return QStringLiteral("(nothing thrown)");
}

} // namespace KeyboardTest
