// wispen-keymap-helper: the microphone key's keymap entries for users who may not
// open the input devices, started as root through pkexec by the mapping store. It
// answers the requests KeymapHelper describes and never reads a key event.
#include "KeymapHelper.h"
#include "LinuxInputDevices.h"

#include <unistd.h>

namespace {

// The store asks again within a transaction; a helper left alone this long ends.
constexpr int idleMs = 10000;

} // namespace

int main() {
    LinuxInputDevices devices;
    return KeymapHelper(devices).serve(STDIN_FILENO, STDOUT_FILENO, idleMs);
}
