#pragma once

// Whether assistive technologies may read other applications: the AT-SPI bus is
// reachable on the session bus and its org.a11y.Status IsEnabled switch is on.
namespace AccessibilityStatus {

inline constexpr int busTimeoutMs = 500;

// False when the bus cannot be reached, does not answer in time or is switched off.
bool isEnabled();

// Switches accessibility on or off for the session; false when the bus refused or
// did not answer. Applications that read the switch only at start-up (Qt) notice
// the change when they are next started.
bool setEnabled(bool enabled);

} // namespace AccessibilityStatus
