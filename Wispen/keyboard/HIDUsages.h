#pragma once

#include <QtGlobal>
#include <optional>

// Translation between the 64-bit HID usages of mapping lists (page in the upper
// 32 bits, usage below) and Linux key codes, by the standard HID keyboard and
// consumer usage tables the kernel's HID driver applies. The evdev scancode of a
// HID device is the usage itself: page << 16 | usage.
namespace HIDUsages {

// The page of key codes that have no standard usage: the code sits below it.
inline constexpr quint64 vendorPage = 0xFF00;

// The key code the kernel gives the usage by default; nothing for a usage outside
// the table.
std::optional<unsigned> defaultKeyCode(quint64 usage);

// The usage a key code stands for: its first usage in the table, or the vendor
// page with the key code below for a code the table does not hold.
quint64 usageForKeyCode(unsigned keyCode);

// The key code a mapping destination sends: by the table, or the code held on the
// vendor page; nothing when the usage names no key code.
std::optional<unsigned> keyCodeForUsage(quint64 usage);

// The evdev scancode of a usage; nothing when page or usage exceed 16 bits.
std::optional<quint32> scancode(quint64 usage);

// Key codes that identify a keyboard (the letters) and a consumer-control device
// (any key of the consumer page).
bool isLetterKey(unsigned keyCode);
bool isConsumerKey(unsigned keyCode);

} // namespace HIDUsages
