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

struct SimulatedKernel {
    // Adds a device as the next eventN.
    void plug(SimulatedDevice device) { events[m_nextEvent++] = std::move(device); }
    SimulatedDevice* device(quint32 inputNumber);
    unsigned& keyCode(quint32 inputNumber, quint64 usage) {
        return device(inputNumber)->keymap->at(*HIDUsages::scancode(usage));
    }

    std::map<int, SimulatedDevice> events; // eventN -> device
    int keymapWrites = 0;
    // Runs before every keymap call, so a test can change the devices meanwhile.
    std::function<void()> beforeKeymapCall;

private:
    int m_nextEvent = 0;
};

class SimulatedInputDevices final : public InputDevices {
public:
    explicit SimulatedInputDevices(SimulatedKernel& kernel)
        : m_kernel(kernel) {}
    std::optional<QStringList> nodes() override;
    std::unique_ptr<InputDevice> open(const QString& node, OpenFailure& failure) override;

private:
    SimulatedKernel& m_kernel;
};

// Devices as the kernel's HID driver sets them up.
namespace SimulatedDevices {
// A full keyboard with the microphone key: letters, F keys, consumer keys.
SimulatedDevice keyboard(quint32 inputNumber);
// The keyboard and consumer-control halves of one HID keyboard, sharing a keymap.
void plugSplitKeyboard(SimulatedKernel& kernel, quint32 keyboardNumber, quint32 consumerNumber);
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
