#include "codec/audio/g726_tables.h"

namespace g726 {
namespace {

// 16 kbit/s
constexpr int16_t kDqln2[] = {116, 365};
constexpr int16_t kW2[] = {-22, 439};
constexpr uint8_t kF2[] = {0, 7};

// 24 kbit/s
constexpr int16_t kDqln3[] = {-2048, 135, 273, 373};
constexpr int16_t kW3[] = {-4, 30, 137, 582};
constexpr uint8_t kF3[] = {0, 1, 2, 7};

// 32 kbit/s
constexpr int16_t kDqln4[] = {-2048, 4, 135, 213, 273, 323, 373, 425};
constexpr int16_t kW4[] = {-12, 18, 41, 64, 112, 198, 355, 1122};
constexpr uint8_t kF4[] = {0, 0, 0, 1, 1, 1, 3, 7};

// 40 kbit/s
constexpr int16_t kDqln5[] = {-2048, -66, 28,  104, 169, 224, 274, 318,
                              358,   395, 429, 459, 488, 514, 539, 566};
constexpr int16_t kW5[] = {14, 14, 24, 39, 40, 41, 58, 100, 141, 179, 219, 280, 358, 440, 529, 696};
constexpr uint8_t kF5[] = {0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 2, 3, 4, 5, 6, 6};

constexpr RateTables kRates[] = {
    {2, kDqln2, kW2, kF2},
    {3, kDqln3, kW3, kF3},
    {4, kDqln4, kW4, kF4},
    {5, kDqln5, kW5, kF5},
};

} // namespace

const RateTables* TablesForBits(int bits)
{
    if (bits < 2 || bits > 5)
        return nullptr;
    return &kRates[bits - 2];
}

} // namespace g726
