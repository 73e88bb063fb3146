// Another program holding one of our keys: grabs Control+Alt+space ("space") or
// the key code the kernel's KEY_F20 produces ("microphone") on the root window,
// with the lock modifiers given as further arguments ("lock", "numlock"), prints
// "grabbed" and keeps the grab until its standard input closes.
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <linux/input-event-codes.h>
#include <unistd.h>

namespace {

constexpr int xKeyCodeOffset = 8;
constexpr xcb_keysym_t keysymSpace = 0x20;
// Where the server's stock keymap puts Num Lock.
constexpr std::uint16_t numLockMask = XCB_MOD_MASK_2;

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection))
        return 1;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;

    xcb_keycode_t keyCode = KEY_F20 + xKeyCodeOffset;
    std::uint16_t modifiers = 0;
    if (std::strcmp(argv[1], "space") == 0) {
        xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection);
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysymSpace);
        keyCode = codes ? codes[0] : 0;
        std::free(codes);
        xcb_key_symbols_free(symbols);
        modifiers = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
    }
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "lock") == 0)
            modifiers |= XCB_MOD_MASK_LOCK;
        else if (std::strcmp(argv[i], "numlock") == 0)
            modifiers |= numLockMask;
    }
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
