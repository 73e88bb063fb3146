// Another program holding one variant of our keys: grabs Control+Alt+space with
// Caps Lock ("space") or the key code the kernel's KEY_F19 produces with Num Lock
// ("microphone") or with Mod3 ("microphone-mod3") on the root window, prints
// "grabbed" and keeps the grab until its standard input closes or it is killed.
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <linux/input-event-codes.h>
#include <unistd.h>

namespace {

constexpr int xKeyCodeOffset = 8;
// Where the server's stock keymap puts the space bar and Num Lock.
constexpr xcb_keycode_t spaceKeyCode = 65;
constexpr std::uint16_t numLockMask = XCB_MOD_MASK_2;

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection))
        return 1;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;

    const bool space = std::strcmp(argv[1], "space") == 0;
    const xcb_keycode_t keyCode = space ? spaceKeyCode : KEY_F19 + xKeyCodeOffset;
    std::uint16_t modifiers = numLockMask;
    if (space)
        modifiers = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_LOCK;
    else if (std::strcmp(argv[1], "microphone-mod3") == 0)
        modifiers = XCB_MOD_MASK_3;
    xcb_generic_error_t* error = xcb_request_check(
        connection, xcb_grab_key_checked(connection, 0, root, modifiers, keyCode,
                                         XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    if (error) {
        std::free(error);
        return 1;
    }
    std::printf("grabbed\n");
    std::fflush(stdout);
    char buffer[64];
    while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    xcb_disconnect(connection);
    return 0;
}
