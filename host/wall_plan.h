#pragma once
// What the camera wall decides without widgets: its list of cameras, the grid that fits the
// window, the picture size each control is given, and which controls wait for a connection
// because the settings store's per-server limit is taken by the ones before them.

#include <istream>
#include <string>
#include <vector>

namespace host {

// One URL a line; blank lines and lines starting with # are skipped, spaces around a URL too.
// False with `why` (naming the line) when a line holds more than one word.
bool ReadUrlList(std::istream& in, std::vector<std::string>& urls, std::string& why);

struct WallGrid
{
    int columns = 1, rows = 1;
};

// The grid for `count` cells of the aspect `cellAspect` (width / height) that shows them
// largest in a `width` x `height` area.
WallGrid FitGrid(int count, int width, int height, double cellAspect);

// The viewer's display size (SetSize: 640, 320 or 160) whose picture fits a control of this
// size; 160 when none does.
int DisplaySizeFor(int width, int height);

// "scheme://host:port" of an address as camhost shows it, lower case: what the connection limit
// counts by.
std::string ServerOf(const std::string& shownAddress);

// For each address, how many of the addresses before it name the same server.
std::vector<int> RankOnServer(const std::vector<std::string>& shownAddresses);

} // namespace host
