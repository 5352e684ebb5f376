// What clients send the simulated camera: zone command bodies and credential headers.
#include "camsim/auth.h"
#include "camsim/zones.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    camsim::ParseZoneCommand(text);
    if (auto zones = camsim::ParseZoneSave(text, camsim::ZoneConfig::Defaults())) {
        // A stored configuration reads back as itself.
        auto again = camsim::ParseZoneSave(camsim::FormatZoneReply(*zones), camsim::ZoneConfig{});
        if (!again || !(*again == *zones))
            std::abort();
    }
    camsim::ParseBasic(text);
    if (auto fields = camsim::ParseDigest(text))
        camsim::DigestExpected(*fields, "password", "GET");
    camsim::DecodeBase64(text);
    return 0;
}
