#pragma once
// Parsing and checking of HTTP Basic and Digest (MD5, qop=auth or none) credentials.

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace camsim {

std::optional<std::string> DecodeBase64(std::string_view text);

struct BasicCredentials
{
    std::string user;
    std::string password;
};

// "Basic <base64 of user:password>"; the scheme name is case-insensitive.
std::optional<BasicCredentials> ParseBasic(std::string_view header);

// The name=value pairs of a "Digest ..." header, quoted or bare; names are lower-cased.
std::optional<std::map<std::string, std::string>> ParseDigest(std::string_view header);

std::string Md5Hex(std::string_view data);

// The response a client that knows `password` must send for these fields and method.
std::string DigestExpected(const std::map<std::string, std::string>& fields,
                           std::string_view password, std::string_view method);

// The camera's own controls send "~" for an empty password, so an account without a password
// takes either. `account` is the password the camera keeps.
bool PasswordMatches(std::string_view sent, std::string_view account);
bool DigestMatches(const std::map<std::string, std::string>& fields, std::string_view account,
                   std::string_view method);

} // namespace camsim
