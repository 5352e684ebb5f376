#include "host/display.h"

#include <cstdlib>
#include <string_view>

#ifdef CAMHOST_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace host {

std::string DisplayProblem()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const std::string_view chosen = platform ? platform : "";
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (!chosen.empty() && chosen.substr(0, 3) != "xcb")
        return {}; // someone chose the platform; Qt tells
    if (chosen.empty() && wayland && *wayland)
        return {};
    if (!x || !*x)
        return "no display (DISPLAY is not set)";
#ifdef CAMHOST_HAVE_XCB
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(x, &screen);
    const bool opens = connection && !xcb_connection_has_error(connection);
    if (connection)
        xcb_disconnect(connection);
    if (!opens)
        return std::string("cannot open display ") + x;
#endif
    return {};
}

} // namespace host
