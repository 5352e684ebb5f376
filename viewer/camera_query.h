#pragma once
// The camera's query replies and the URLs built from the page's stream URL. Plain text rules,
// kept apart from the panel so they can be checked on their own.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The value after `key` up to the next carriage return; empty when no CR follows; nothing when
// the key does not occur. First occurrence wins, anywhere in the reply.
std::optional<std::string> QueryValue(std::string_view reply, std::string_view key);

bool IsAuthorizationPage(std::string_view reply);

struct CameraUrls
{
    std::string base;
    std::string panTilt, utilQuery, presets, imageQuery, asfStream, mjpegStream;
};

// The base is the URL's text before the first occurrence of the stream path of the frame type
// ("img/video.asf" for "mpeg", else "img/mjpeg.cgi"); empty when the path does not occur.
CameraUrls BuildCameraUrls(const std::string& url, const std::string& frameType);

// The Motion-JPEG URL with the frame rate: none for an empty rate or "Fast".
std::string MJpegUrlWithRate(const std::string& mjpegUrl, const std::string& frameRate);

// The entries a "resolutions=" value puts in the list, in the list's order.
std::vector<std::string> ResolutionEntries(std::string_view value);

// The size value a list text selects: "640x480" 640, "160x128" 160, anything else 320.
int SizeForResolutionText(std::string_view text);
