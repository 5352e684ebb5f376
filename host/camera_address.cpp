#include "host/camera_address.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace host {

namespace {

constexpr std::string_view kMJpegPath = "img/mjpeg.cgi";
constexpr std::string_view kAsfPath = "img/video.asf";

bool EndsWith(std::string_view s, std::string_view tail)
{
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

struct Parts
{
    std::string scheme, host, port, path, user;
};

bool Split(std::string_view url, Parts& p, std::string& why)
{
    if (url.empty()) {
        why = "the URL is empty";
        return false;
    }
    for (unsigned char c : url)
        if (c <= ' ' || c == 0x7F) {
            why = "the URL holds spaces or control characters";
            return false;
        }
    std::string_view rest = url;
    if (const size_t colon = url.find("://"); colon != std::string_view::npos) {
        p.scheme = std::string(url.substr(0, colon));
        std::transform(p.scheme.begin(), p.scheme.end(), p.scheme.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        rest = url.substr(colon + 3);
    } else {
        p.scheme = "http"; // as a browser reads a bare address
    }
    if (p.scheme != "http" && p.scheme != "https") {
        why = "only http:// and https:// addresses are cameras";
        return false;
    }
    if (rest.find_first_of("?#") != std::string_view::npos) {
        why = "a camera address has no query or fragment (use --rate for the frame rate)";
        return false;
    }
    const size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    p.path = slash == std::string_view::npos ? "/" : std::string(rest.substr(slash));
    if (const size_t at = authority.rfind('@'); at != std::string_view::npos) {
        const std::string_view info = authority.substr(0, at);
        if (info.find(':') != std::string_view::npos) {
            why = "put no password in the URL (ps shows it); use --password-file FILE or "
                  "CAMCTL_PASSWORD";
            return false;
        }
        p.user = std::string(info);
        authority = authority.substr(at + 1);
    }
    std::string_view host = authority;
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            why = "the host's address is not closed with ]";
            return false;
        }
        host = authority.substr(0, close + 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') {
                why = "text after the host's address";
                return false;
            }
            p.port = std::string(after.substr(1));
        }
    } else if (const size_t colon = authority.find(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        p.port = std::string(authority.substr(colon + 1));
    }
    if (host.empty()) {
        why = "the URL names no host";
        return false;
    }
    p.host = std::string(host);
    if (!p.port.empty()) {
        const bool digits = p.port.size() <= 5 &&
                            p.port.find_first_not_of("0123456789") == std::string::npos;
        const long n = digits ? std::strtol(p.port.c_str(), nullptr, 10) : 0;
        if (n < 1 || n > 65535) {
            why = "the port must be a number from 1 to 65535";
            return false;
        }
    }
    return true;
}

std::string Origin(const Parts& p)
{
    return p.scheme + "://" + p.host + (p.port.empty() ? "" : ":" + p.port);
}

} // namespace

bool ViewerAddress(std::string_view url, std::string_view type, CameraAddress& out,
                   std::string& why)
{
    Parts p;
    if (!Split(url, p, why))
        return false;
    std::string base = p.path;
    std::string stream;
    if (EndsWith(p.path, kMJpegPath)) {
        base = p.path.substr(0, p.path.size() - kMJpegPath.size());
        stream = "jpeg";
    } else if (EndsWith(p.path, kAsfPath)) {
        base = p.path.substr(0, p.path.size() - kAsfPath.size());
        stream = "mpeg";
    }
    if (base.empty() || base.back() != '/') {
        why = "the viewer takes the camera's address ending in /, .../img/mjpeg.cgi or "
              ".../img/video.asf";
        return false;
    }
    if (!stream.empty() && !type.empty() && stream != type) {
        why = stream == "mpeg" ? "img/video.asf is the MPEG-4 stream: give --type mpeg"
                               : "img/mjpeg.cgi is the Motion-JPEG stream: give --type jpeg";
        return false;
    }
    out.type = !type.empty() ? std::string(type) : !stream.empty() ? stream : "jpeg";
    out.shown = Origin(p) + base;
    out.controlUrl = out.shown + std::string(out.type == "mpeg" ? kAsfPath : kMJpegPath);
    out.user = p.user;
    return true;
}

bool ZoneAddress(std::string_view url, CameraAddress& out, std::string& why)
{
    Parts p;
    if (!Split(url, p, why))
        return false;
    std::string path = p.path;
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    const size_t last = path.rfind('/');
    if (path.find('.', last == std::string::npos ? 0 : last) != std::string::npos) {
        why = "the motion-zone editor takes the camera's address, not a page or stream";
        return false;
    }
    out.controlUrl = Origin(p) + path;
    out.shown = out.controlUrl + "/";
    out.type = "mpeg";
    out.user = p.user;
    return true;
}

} // namespace host
