#pragma once
// An MPEG-4 elementary stream file cut as the stream client delivers it: the configuration (all
// before the first picture), then one frame per picture start code.

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testsupport {

struct M4vStream
{
    std::vector<uint8_t> config;
    std::vector<std::vector<uint8_t>> frames;
};

// Empty when the file is missing or holds no picture.
inline M4vStream SplitM4vFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> all((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
    std::vector<size_t> starts;
    for (size_t i = 0; i + 3 < all.size(); ++i)
        if (all[i] == 0 && all[i + 1] == 0 && all[i + 2] == 1 && all[i + 3] == 0xB6)
            starts.push_back(i);
    M4vStream s;
    if (starts.empty())
        return s;
    s.config.assign(all.begin(), all.begin() + long(starts[0]));
    for (size_t k = 0; k < starts.size(); ++k) {
        const size_t end = k + 1 < starts.size() ? starts[k + 1] : all.size();
        s.frames.emplace_back(all.begin() + long(starts[k]), all.begin() + long(end));
    }
    return s;
}

} // namespace testsupport
