#include "viewer/camera_query.h"

std::optional<std::string> QueryValue(std::string_view reply, std::string_view key)
{
    size_t at = reply.find(key);
    if (at == std::string_view::npos)
        return std::nullopt;
    std::string_view rest = reply.substr(at + key.size());
    size_t cr = rest.find('\r');
    if (cr == std::string_view::npos)
        return std::string();
    return std::string(rest.substr(0, cr));
}

bool IsAuthorizationPage(std::string_view reply)
{
    return reply.find("<HTML><HEAD><TITLE>401") != std::string_view::npos;
}

CameraUrls BuildCameraUrls(const std::string& url, const std::string& frameType)
{
    const char* streamPath = frameType == "mpeg" ? "img/video.asf" : "img/mjpeg.cgi";
    CameraUrls urls;
    size_t at = url.find(streamPath);
    urls.base = at == std::string::npos ? std::string() : url.substr(0, at);
    urls.panTilt = urls.base + "pt/ptctrl.cgi";
    urls.utilQuery = urls.base + "util/query.cgi";
    urls.presets = urls.base + "adm/file.cgi?next_file=presets.htm";
    urls.imageQuery = urls.base + "img/query.cgi";
    urls.asfStream = urls.base + "img/video.asf";
    urls.mjpegStream = urls.base + "img/mjpeg.cgi";
    return urls;
}

std::string MJpegUrlWithRate(const std::string& mjpegUrl, const std::string& frameRate)
{
    if (frameRate.empty() || frameRate == "Fast")
        return mjpegUrl;
    return mjpegUrl + "?Speed=" + frameRate;
}

std::vector<std::string> ResolutionEntries(std::string_view value)
{
    static const std::pair<const char*, const char*> kKnown[] = {
        {"704*480", "704x480"}, {"640*480", "640x480"}, {"320*240", "320x240"},
        {"160*128", "160x128"}, {"160*120", "160x120"},
    };
    std::vector<std::string> entries;
    for (const auto& [pattern, entry] : kKnown)
        if (value.find(pattern) != std::string_view::npos)
            entries.emplace_back(entry);
    return entries;
}

int SizeForResolutionText(std::string_view text)
{
    if (text == "640x480")
        return 640;
    if (text == "160x128")
        return 160;
    return 320;
}
