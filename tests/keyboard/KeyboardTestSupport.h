#pragma once

#include "HIDKeyboardMappingStore.h"
#include "HIDUsages.h"
#include "SimulatedInputDevices.h"
#include "ZedazidEdize.h"

#include <QString>

// Shared by the keyboard tests: the sentences they expect and small helpers.
namespace KeyboardTest {

inline const QString cannotReadDevices =
    QStringLiteral("Cannot read keyboard devices. Use Control-Option-Space to record.");
inline const QString couldNotChange = QStringLiteral(
    "macOS could not change the microphone key. Use Control-Option-Space to record.");
inline const QString disconnected =
    QStringLiteral("A keyboard disconnected during setup. Try again.");
inline const QString mappingsChanged =
    QStringLiteral("Keyboard mappings changed during setup. Try again.");
inline const QString noKeyboards = QStringLiteral(
    "No supported keyboard services are available. Use Control-Option-Space to record.");
inline const QString notConfirmed = QStringLiteral(
    "macOS did not confirm the microphone mapping. Use Control-Option-Space to record.");
inline const QString couldNotRestore =
    QStringLiteral("Microphone-key setup could not finish restoring its changes. Restart Wispen "
                   "to retry recovery. Control-Option-Space still works.");
inline const QString unknownSession = QStringLiteral(
    "Cannot identify the current keyboard session. Use Control-Option-Space to record.");
inline const QString alreadyMapped =
    QStringLiteral("The microphone key already has a custom mapping. Disable that mapping first; "
                   "Wispen has left it intact.");

// The sentence a call throws, or a marker when it throws nothing.
template <typename F> QString thrownBy(F&& f) {
    try {
        f();
    } catch (const ZedazidEdize& error) {
        return error.errorDescription().value_or(QString());
    }
    return QStringLiteral("(nothing thrown)");
}

inline quint32 scancode(quint64 usage) {
    return *HIDUsages::scancode(usage);
}

// The key code a simulated device's keymap gives a usage.
inline unsigned keyCode(SimulatedKernel& kernel, quint32 inputNumber, quint64 usage) {
    return kernel.keymapHolder(*kernel.device(inputNumber))->keymap.at(scancode(usage));
}

inline void setKeyCode(SimulatedKernel& kernel, quint32 inputNumber, quint64 usage, unsigned code) {
    kernel.keymapHolder(*kernel.device(inputNumber))->keymap.at(scancode(usage)) = code;
}

} // namespace KeyboardTest
