#pragma once
// 128-bit class, interface and category identifiers, written as
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in the settings store.

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace component {

struct Guid
{
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    std::array<uint8_t, 8> data4{};

    friend constexpr auto operator<=>(const Guid&, const Guid&) = default;

    // Braces required, hex digits in either case; anything else is nullopt.
    static constexpr std::optional<Guid> Parse(std::string_view text);
    // Upper-case hex with braces, the form registration writes.
    std::string ToString() const;
};

namespace detail {

constexpr int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads `digits` hex digits at `pos`; false on a non-digit.
constexpr bool ReadHex(std::string_view s, size_t pos, size_t digits, uint32_t& out)
{
    out = 0;
    for (size_t i = 0; i < digits; ++i) {
        int d = HexDigit(s[pos + i]);
        if (d < 0)
            return false;
        out = out << 4 | static_cast<uint32_t>(d);
    }
    return true;
}

} // namespace detail

constexpr std::optional<Guid> Guid::Parse(std::string_view s)
{
    if (s.size() != 38 || s[0] != '{' || s[37] != '}' || s[9] != '-' || s[14] != '-' ||
        s[19] != '-' || s[24] != '-')
        return std::nullopt;
    Guid g;
    uint32_t v = 0;
    if (!detail::ReadHex(s, 1, 8, v))
        return std::nullopt;
    g.data1 = v;
    if (!detail::ReadHex(s, 10, 4, v))
        return std::nullopt;
    g.data2 = static_cast<uint16_t>(v);
    if (!detail::ReadHex(s, 15, 4, v))
        return std::nullopt;
    g.data3 = static_cast<uint16_t>(v);
    constexpr size_t kBytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (size_t i = 0; i < 8; ++i) {
        if (!detail::ReadHex(s, kBytePos[i], 2, v))
            return std::nullopt;
        g.data4[i] = static_cast<uint8_t>(v);
    }
    return g;
}

// For fixed identifiers: a typo fails the build instead of yielding a zero GUID.
consteval Guid MakeGuid(std::string_view text)
{
    auto g = Guid::Parse(text);
    if (!g)
        throw std::invalid_argument("malformed GUID literal");
    return *g;
}

} // namespace component
