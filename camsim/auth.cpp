#include "camsim/auth.h"

#include <cctype>
#include <cstdint>

extern "C" {
#include <libavutil/md5.h>
}

namespace camsim {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

int Base64Digit(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

void SkipSpaces(std::string_view& s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
}

} // namespace

std::optional<std::string> DecodeBase64(std::string_view text)
{
    while (!text.empty() && text.back() == '=')
        text.remove_suffix(1);
    std::string out;
    out.reserve(text.size() * 3 / 4);
    uint32_t acc = 0;
    int bits = 0;
    for (char c : text) {
        int d = Base64Digit(c);
        if (d < 0)
            return std::nullopt;
        acc = (acc << 6) | uint32_t(d);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(char((acc >> bits) & 0xFF));
        }
    }
    if (bits >= 6) // a lone trailing digit cannot come from any byte string
        return std::nullopt;
    return out;
}

std::optional<BasicCredentials> ParseBasic(std::string_view header)
{
    if (!StartsWithNoCase(header, "Basic "))
        return std::nullopt;
    header.remove_prefix(6);
    SkipSpaces(header);
    while (!header.empty() && (header.back() == ' ' || header.back() == '\t'))
        header.remove_suffix(1);
    auto decoded = DecodeBase64(header);
    if (!decoded)
        return std::nullopt;
    size_t colon = decoded->find(':');
    if (colon == std::string::npos)
        return std::nullopt;
    return BasicCredentials{decoded->substr(0, colon), decoded->substr(colon + 1)};
}

std::optional<std::map<std::string, std::string>> ParseDigest(std::string_view header)
{
    if (!StartsWithNoCase(header, "Digest "))
        return std::nullopt;
    header.remove_prefix(7);
    std::map<std::string, std::string> fields;
    for (;;) {
        SkipSpaces(header);
        if (header.empty())
            break;
        size_t eq = header.find('=');
        if (eq == std::string_view::npos || eq == 0)
            return std::nullopt;
        std::string name;
        for (char c : header.substr(0, eq)) {
            if (c == ' ' || c == '\t')
                continue;
            name.push_back(char(std::tolower(static_cast<unsigned char>(c))));
        }
        header.remove_prefix(eq + 1);
        SkipSpaces(header);
        std::string value;
        if (!header.empty() && header.front() == '"') {
            header.remove_prefix(1);
            bool closed = false;
            while (!header.empty()) {
                char c = header.front();
                header.remove_prefix(1);
                if (c == '\\' && !header.empty()) {
                    value.push_back(header.front());
                    header.remove_prefix(1);
                } else if (c == '"') {
                    closed = true;
                    break;
                } else {
                    value.push_back(c);
                }
            }
            if (!closed)
                return std::nullopt;
        } else {
            size_t end = header.find(',');
            value = std::string(header.substr(0, end));
            while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
                value.pop_back();
            header.remove_prefix(end == std::string_view::npos ? header.size() : end);
        }
        fields[name] = value;
        SkipSpaces(header);
        if (header.empty())
            break;
        if (header.front() != ',')
            return std::nullopt;
        header.remove_prefix(1);
    }
    return fields;
}

std::string Md5Hex(std::string_view data)
{
    uint8_t digest[16];
    av_md5_sum(digest, reinterpret_cast<const uint8_t*>(data.data()), data.size());
    static const char kHex[] = "0123456789abcdef";
    std::string out(32, '0');
    for (int i = 0; i < 16; ++i) {
        out[size_t(2 * i)] = kHex[digest[i] >> 4];
        out[size_t(2 * i + 1)] = kHex[digest[i] & 15];
    }
    return out;
}

std::string DigestExpected(const std::map<std::string, std::string>& fields,
                           std::string_view password, std::string_view method)
{
    auto get = [&](const char* name) {
        auto it = fields.find(name);
        return it == fields.end() ? std::string() : it->second;
    };
    const std::string ha1 = Md5Hex(get("username") + ":" + get("realm") + ":" + std::string(password));
    const std::string ha2 = Md5Hex(std::string(method) + ":" + get("uri"));
    const std::string qop = get("qop");
    if (qop.empty())
        return Md5Hex(ha1 + ":" + get("nonce") + ":" + ha2);
    return Md5Hex(ha1 + ":" + get("nonce") + ":" + get("nc") + ":" + get("cnonce") + ":" + qop +
                  ":" + ha2);
}

namespace {

constexpr std::string_view kEmptyPasswordStandIn = "~";

} // namespace

bool PasswordMatches(std::string_view sent, std::string_view account)
{
    return sent == account || (account.empty() && sent == kEmptyPasswordStandIn);
}

bool DigestMatches(const std::map<std::string, std::string>& fields, std::string_view account,
                   std::string_view method)
{
    auto it = fields.find("response");
    if (it == fields.end())
        return false;
    if (it->second == DigestExpected(fields, account, method))
        return true;
    return account.empty() && it->second == DigestExpected(fields, kEmptyPasswordStandIn, method);
}

} // namespace camsim
