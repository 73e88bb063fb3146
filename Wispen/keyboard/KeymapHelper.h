#pragma once

#include "InputDevices.h"

#include <QString>

// The privileged side of wispen-keymap-helper: answers the mapping store's keymap
// requests for users who may not open the input devices themselves. It reads and
// writes only the keymap entries of the microphone mapping, only on keyboards, and
// never reads a key event. One request per line, words separated by one space,
// numbers in decimal without sign or leading zeros:
//
//   list                       ok N,OWNER ...  every keyboard (or consumer control) in
//                              kernel order: its input number and the first keyboard
//                              sharing its keymap
//   get N SCANCODE             ok KEYCODE | unmapped | gone | failed
//   set N SCANCODE KEYCODE     ok | unmapped | gone | failed
//
// N must be a keyboard that is present ("gone" otherwise); get accepts the
// scancodes of the usages a mapping list is made of, set only the microphone
// mapping's sources, each with its own key code or the destination's. Anything
// else is answered "refused" and changes nothing.
class KeymapHelper {
public:
    static constexpr int longestRequest = 64;

    explicit KeymapHelper(InputDevices& devices);

    // The answer to one request line (without its newline).
    QString answer(const QString& request);
    // Answers the requests on `in` on `out` until `in` ends or has been idle for
    // `idleMs`; returns the process's exit status.
    int serve(int in, int out, int idleMs);

private:
    struct Keyboard {
        quint32 number = 0;
        quint32 owner = 0;
        std::unique_ptr<InputDevice> device;
    };
    std::vector<Keyboard> keyboards();
    QString list();
    QString keymapRequest(const QStringList& words);

    InputDevices& m_devices;
};
