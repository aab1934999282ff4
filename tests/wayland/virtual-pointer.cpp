// A pointer for tests under a wlroots compositor (phoc): made through the
// compositor's virtual pointer protocol, it gives the compositor an input
// seat and moves and taps where it is told.
//
//   virtual-pointer        prints "ready" once the pointer exists, then reads
//                          commands from stdin, one per line, answering "done":
//   move X Y W H           to (X, Y) of a W x H layout (the output, in points)
//   tap X Y W H            the same, then the left button pressed and released
//
// It ends when stdin does, or after two minutes whatever happens.
#include <linux/input-event-codes.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <sstream>
#include <string>

#include "virtual-pointer-protocol.h"

namespace {

struct Globals {
    zwlr_virtual_pointer_manager_v1* manager = nullptr;
    wl_seat* seat = nullptr;
};

void announce(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    auto* globals = static_cast<Globals*>(data);
    if (!std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) && !globals->manager)
        globals->manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
    else if (!std::strcmp(interface, wl_seat_interface.name) && !globals->seat)
        globals->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
}
void withdraw(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistry{announce, withdraw};

uint32_t milliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint32_t(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

}  // namespace

int main() {
    alarm(120);
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "virtual-pointer: no compositor to connect to\n");
        return 1;
    }
    Globals globals;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistry, &globals);
    wl_display_roundtrip(display);
    if (!globals.manager) {
        std::fprintf(stderr, "virtual-pointer: the compositor offers no virtual pointer\n");
        return 1;
    }
    // Without a seat the compositor picks its own.
    zwlr_virtual_pointer_v1* pointer =
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(globals.manager, globals.seat);
    if (wl_display_roundtrip(display) < 0) return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    for (std::string line; std::getline(std::cin, line);) {
        std::istringstream words(line);
        std::string command;
        uint32_t x = 0, y = 0, width = 0, height = 0;
        if (!(words >> command >> x >> y >> width >> height) || (command != "move" && command != "tap") || !width ||
            !height || x > width || y > height) {
            std::fprintf(stderr, "virtual-pointer: not a command: %s\n", line.c_str());
            return 1;
        }
        zwlr_virtual_pointer_v1_motion_absolute(pointer, milliseconds(), x, y, width, height);
        zwlr_virtual_pointer_v1_frame(pointer);
        if (command == "tap") {
            for (uint32_t state : {WL_POINTER_BUTTON_STATE_PRESSED, WL_POINTER_BUTTON_STATE_RELEASED}) {
                zwlr_virtual_pointer_v1_button(pointer, milliseconds(), BTN_LEFT, state);
                zwlr_virtual_pointer_v1_frame(pointer);
            }
        }
        if (wl_display_roundtrip(display) < 0) return 1;
        std::printf("done\n");
        std::fflush(stdout);
    }
    zwlr_virtual_pointer_v1_destroy(pointer);
    zwlr_virtual_pointer_manager_v1_destroy(globals.manager);
    if (globals.seat) wl_seat_destroy(globals.seat);
    wl_registry_destroy(registry);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
