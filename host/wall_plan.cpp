#include "host/wall_plan.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>

namespace host {

bool ReadUrlList(std::istream& in, std::vector<std::string>& urls, std::string& why)
{
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::istringstream words(line);
        std::string url, more;
        if (!(words >> url) || url[0] == '#')
            continue;
        if (words >> more) {
            why = "line " + std::to_string(number) + " holds more than one URL";
            return false;
        }
        urls.push_back(url);
    }
    return true;
}

WallGrid FitGrid(int count, int width, int height, double cellAspect)
{
    WallGrid best;
    if (count <= 1 || width <= 0 || height <= 0 || cellAspect <= 0)
        return best;
    double bestScale = -1;
    for (int columns = 1; columns <= count; ++columns) {
        const int rows = (count + columns - 1) / columns;
        const double cellW = double(width) / columns, cellH = double(height) / rows;
        const double scale = std::min(cellW / cellAspect, cellH);
        // Ties go to fewer empty cells.
        if (scale > bestScale + 1e-9) {
            bestScale = scale;
            best = {columns, rows};
        }
    }
    return best;
}

int DisplaySizeFor(int width, int height)
{
    // The panel's picture frame starts 143 pixels in and is 6 pixels larger than the picture.
    struct Size
    {
        int value, w, h;
    };
    for (const Size s : {Size{640, 640, 480}, Size{320, 320, 240}})
        if (width >= 143 + s.w + 6 && height >= s.h + 6)
            return s.value;
    return 160;
}

std::string ServerOf(const std::string& shown)
{
    const size_t scheme = shown.find("://");
    const size_t from = scheme == std::string::npos ? 0 : scheme + 3;
    std::string server = shown.substr(0, shown.find('/', from));
    std::transform(server.begin(), server.end(), server.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return server;
}

std::vector<int> RankOnServer(const std::vector<std::string>& shown)
{
    std::map<std::string, int> seen;
    std::vector<int> ranks;
    for (const std::string& address : shown)
        ranks.push_back(seen[ServerOf(address)]++);
    return ranks;
}

} // namespace host
