// A minimal XEmbed system tray for tests: a 300 x 26 bar at the top right of the screen that owns
// the tray selection, docks every icon that asks, and prints "docked <window> <x> <y> <w> <h>"
// (global coordinates) for each. Runs until killed.

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

xcb_atom_t atom(xcb_connection_t* connection, const std::string& name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
    if (reply == nullptr) return XCB_ATOM_NONE;
    const xcb_atom_t result = reply->atom;
    std::free(reply);
    return result;
}

constexpr int barWidth = 300;
constexpr int barHeight = 26;
constexpr int iconSide = 22;

}  // namespace

int main() {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection) != 0) {
        std::fprintf(stderr, "fake-tray-host: cannot open the display\n");
        return 1;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber; ++i) xcb_screen_next(&screens);
    xcb_screen_t* screen = screens.data;

    const xcb_window_t bar = xcb_generate_id(connection);
    const uint32_t values[] = {
        screen->white_pixel, 1,
        XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    const int16_t barX = static_cast<int16_t>(screen->width_in_pixels - barWidth);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, bar, screen->root, barX, 0, barWidth,
                      barHeight, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    xcb_map_window(connection, bar);

    const xcb_atom_t selection =
        atom(connection, "_NET_SYSTEM_TRAY_S" + std::to_string(screenNumber));
    const xcb_atom_t opcode = atom(connection, "_NET_SYSTEM_TRAY_OPCODE");
    const xcb_atom_t manager = atom(connection, "MANAGER");
    const xcb_atom_t xembed = atom(connection, "_XEMBED");
    xcb_set_selection_owner(connection, bar, selection, XCB_CURRENT_TIME);

    xcb_client_message_event_t announce{};
    announce.response_type = XCB_CLIENT_MESSAGE;
    announce.format = 32;
    announce.window = screen->root;
    announce.type = manager;
    announce.data.data32[0] = XCB_CURRENT_TIME;
    announce.data.data32[1] = selection;
    announce.data.data32[2] = bar;
    xcb_send_event(connection, 0, screen->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&announce));
    xcb_flush(connection);
    std::printf("ready\n");
    std::fflush(stdout);

    int docked = 0;
    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
        if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
            auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
            if (message->type == opcode && message->data.data32[1] == 0) {
                const xcb_window_t icon = message->data.data32[2];
                const int16_t x = static_cast<int16_t>(barWidth - (docked + 1) * (iconSide + 4));
                const int16_t y = (barHeight - iconSide) / 2;
                ++docked;
                xcb_reparent_window(connection, icon, bar, x, y);
                const uint32_t size[] = {iconSide, iconSide};
                xcb_configure_window(connection, icon,
                                     XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
                xcb_map_window(connection, icon);
                xcb_client_message_event_t notify{};
                notify.response_type = XCB_CLIENT_MESSAGE;
                notify.format = 32;
                notify.window = icon;
                notify.type = xembed;
                notify.data.data32[0] = XCB_CURRENT_TIME;
                notify.data.data32[1] = 0;  // XEMBED_EMBEDDED_NOTIFY
                notify.data.data32[3] = bar;
                notify.data.data32[4] = 0;
                xcb_send_event(connection, 0, icon, XCB_EVENT_MASK_NO_EVENT,
                               reinterpret_cast<const char*>(&notify));
                xcb_flush(connection);
                std::printf("docked %u %d %d %d %d\n", icon, barX + x, y, iconSide, iconSide);
                std::fflush(stdout);
            }
        }
        std::free(event);
    }
    return 0;
}
