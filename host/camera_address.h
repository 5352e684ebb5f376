#pragma once
// The URL forms camhost takes, turned into what each control's SetSource expects, and the
// address shown to the user (never with credentials).

#include <string>
#include <string_view>

namespace host {

struct CameraAddress
{
    std::string controlUrl; // what SetSource gets
    std::string shown;      // scheme://host[:port]/prefix/, for titles, status and messages
    std::string type;       // the viewer's frame type, "jpeg" or "mpeg"
    std::string user;       // a user name given in the URL, if any
};

// The viewer takes the camera's address, .../img/mjpeg.cgi or .../img/video.asf; `type` is the
// one asked for on the command line ("" when not). False with `why` on a wrong form.
bool ViewerAddress(std::string_view url, std::string_view type, CameraAddress& out,
                   std::string& why);
// The zone control takes the camera's address, without the trailing "/" the control would
// double.
bool ZoneAddress(std::string_view url, CameraAddress& out, std::string& why);

} // namespace host
