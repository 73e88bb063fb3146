// Another program taking Control+Alt+space with Caps Lock on the root window, for the
// end-to-end test to see that the application let the key go: fails when the key is
// held elsewhere.
#include <xcb/xcb.h>

int main() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection))
        return 1;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    // Where the server's stock keymap puts the space bar.
    const xcb_void_cookie_t grab = xcb_grab_key_checked(
        connection, 0, root, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_LOCK, 65,
        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    return xcb_request_check(connection, grab) ? 1 : 0;
}
