#pragma once

#include <QByteArray>
#include <QLatin1String>
#include <QList>
#include <QStringView>
#include <QtGlobal>
#include <optional>

// The pure rules for sending the keyboard's microphone (dictation) key to F19
// through a keyboard's mapping list: the usages involved, how our entry joins a
// list without disturbing other mappings, and how a stored list is read back.
// A usage packs a HID usage page (upper 32 bits) and a usage (lower 32 bits).
namespace MicrophoneMapping {

// One mapping: the keyboard produces `src`, the system reports `dst` instead.
struct Entry {
    quint64 src = 0;
    quint64 dst = 0;
    friend bool operator==(const Entry&, const Entry&) = default;
};

// An ordered mapping list, as a keyboard holds it.
using MappingList = QList<Entry>;

// The key names of an entry in its stored form.
inline constexpr QLatin1String src{"HIDKeyboardModifierMappingSrc"};
inline constexpr QLatin1String dst{"HIDKeyboardModifierMappingDst"};

// Consumer page, Voice Command: the microphone key.
inline constexpr quint64 source = 0xC000000CFull;
// Keyboard page, F5: the other source older ownership records may name.
inline constexpr quint64 keyboardF5 = 0x70000003Eull;
// Keyboard page, F15: where older versions sent the microphone key.
inline constexpr quint64 legacyDestination = 0x70000006Aull;
// Keyboard page, F19: where the microphone key is sent, and what the shortcut listens for.
// Stock X keymaps give F19's key code no keysym, so no desktop binds it; F20, the
// neighbour, is the microphone-mute key there.
inline constexpr quint64 destination = 0x70000006Eull;

// Our entry for a source; without an argument, the microphone key's.
constexpr Entry entry(quint64 forSource = source) {
    return Entry{forSource, destination};
}

// The list with our entry for `source`: appended when the source is unmapped,
// unchanged when our entry already comes first, placed first ahead of F15 entries
// of the microphone key; throws ZedazidEdize when someone else maps the source.
MappingList adding(const MappingList& mappings, quint64 source);

// The list without any entry equal to entry().
MappingList removing(const MappingList& mappings);

// A non-empty decimal integer, optionally signed, that fits 64 unsigned bits ("-0"
// is zero; any other negative is refused); nothing when the text is not one.
std::optional<quint64> decimal(QStringView text);

// The list held in a stored mapping value: JSON or a property list, or a table of
// services that all hold the same list; throws ZedazidEdize when it cannot be read.
MappingList parse(const QByteArray& data);

} // namespace MicrophoneMapping
