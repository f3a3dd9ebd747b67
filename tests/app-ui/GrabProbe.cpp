// Tries to take the X server's keyboard and pointer grab on the root window and lets go at once,
// as a password prompt does when it opens. Prints "free" and exits 0 when both could be taken;
// otherwise prints what is held ("keyboard held", "pointer held", both) and exits 1; 2 without a
// display.

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection) != 0) {
        std::puts("no display");
        return 2;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    auto* keyboard =
        xcb_grab_keyboard_reply(connection,
                                xcb_grab_keyboard(connection, 0, root, XCB_CURRENT_TIME,
                                                  XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                nullptr);
    auto* pointer = xcb_grab_pointer_reply(
        connection,
        xcb_grab_pointer(connection, 0, root, 0, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE,
                         XCB_NONE, XCB_CURRENT_TIME),
        nullptr);
    const bool keyboardFree = keyboard != nullptr && keyboard->status == XCB_GRAB_STATUS_SUCCESS;
    const bool pointerFree = pointer != nullptr && pointer->status == XCB_GRAB_STATUS_SUCCESS;
    std::free(keyboard);
    std::free(pointer);
    xcb_ungrab_keyboard(connection, XCB_CURRENT_TIME);
    xcb_ungrab_pointer(connection, XCB_CURRENT_TIME);
    xcb_flush(connection);
    xcb_disconnect(connection);

    std::string held;
    if (!keyboardFree) held = "keyboard held";
    if (!pointerFree) held += held.empty() ? "pointer held" : ", pointer held";
    std::puts(held.empty() ? "free" : held.c_str());
    return held.empty() ? 0 : 1;
}
