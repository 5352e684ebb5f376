#pragma once
// A self-signed certificate and its key, made at test time by the openssl program, for servers
// that speak TLS: `name` is what it is made out for (an IP address or a host name), and it is
// its own authority, so a client that trusts the file trusts the server.

#include <filesystem>
#include <string>

namespace testsupport {

struct TestCertificate
{
    std::filesystem::path cert, key;
};

// Writes STEM.pem and STEM.key in `dir`; false when openssl failed.
bool MakeTestCertificate(const std::filesystem::path& dir, const std::string& stem,
                         const std::string& name, TestCertificate& out);

} // namespace testsupport
