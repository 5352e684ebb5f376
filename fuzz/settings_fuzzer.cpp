// The settings file is read back from disk, where anything may have been written into it.
#include "platform/settings.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto keys = platform::ParseSettings(text);
    // What we write we must read back the same.
    std::string written = platform::FormatSettings(keys);
    if (platform::FormatSettings(platform::ParseSettings(written)) != written)
        std::abort();
    return 0;
}
