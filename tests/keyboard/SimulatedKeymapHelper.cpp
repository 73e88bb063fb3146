// The keymap helper over a simulated kernel, run by the tests as a child process.
#include "KeymapHelper.h"
#include "SimulatedInputDevices.h"

#include <unistd.h>

int main() {
    SimulatedInputDevices devices;
    devices.plug(SimulatedDevices::keyboard(3));
    SimulatedDevices::plugSplitKeyboard(devices, 7, 8);
    return KeymapHelper(devices).serve(STDIN_FILENO, STDOUT_FILENO, 10000);
}
