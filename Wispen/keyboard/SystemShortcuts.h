#pragma once

#include <cstdint>
#include <vector>

// The keyboard shortcuts the desktop itself has configured, so that the
// microphone key is not reserved from under one of them.
class SystemShortcuts {
public:
    // One configured binding: the key it uses (an X keysym) and whether it is active.
    // Its modifiers do not matter: any binding on the key blocks it.
    struct Entry {
        bool enabled = false;
        std::uint32_t keysym = 0;

        friend bool operator==(const Entry&, const Entry&) = default;
    };

    static constexpr const char* unreadableMessage =
        "Cannot check system shortcuts. The microphone key was not remapped.";

    virtual ~SystemShortcuts() = default;

    // Every binding the desktop has configured, empty for a desktop without such
    // configuration; throws ZedazidEdize with unreadableMessage when the
    // configuration exists but cannot be read.
    virtual std::vector<Entry> list() const = 0;
};
