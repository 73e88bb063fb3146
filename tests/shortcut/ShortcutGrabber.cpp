// Another program holding one variant of our keys on the root window:
// Control+Alt+space with Caps Lock ("space"), or the key code the kernel's KEY_F19
// produces with Mod3 ("microphone-mod3"). Prints "grabbed" and keeps the grab until
// its standard input closes or it is killed.
#include <xcb/xcb.h>

#include <cstdio>
#include <cstring>
#include <linux/input-event-codes.h>
#include <unistd.h>

int main(int argc, char** argv) {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (argc < 2 || xcb_connection_has_error(connection))
        return 1;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    // Where the server's stock keymap puts the space bar; X adds 8 to kernel key codes.
    const bool space = std::strcmp(argv[1], "space") == 0;
    xcb_generic_error_t* error = xcb_request_check(
        connection,
        xcb_grab_key_checked(connection, 0, root,
                             space ? XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_LOCK
                                   : XCB_MOD_MASK_3,
                             space ? 65 : KEY_F19 + 8, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    if (error)
        return 1;
    std::printf("grabbed\n");
    std::fflush(stdout);
    char buffer[64];
    while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    return 0;
}
