#include "tests/support/test_certificate.h"

#include <cstdlib>

namespace testsupport {

bool MakeTestCertificate(const std::filesystem::path& dir, const std::string& stem,
                         const std::string& name, TestCertificate& out)
{
    out.cert = dir / (stem + ".pem");
    out.key = dir / (stem + ".key");
    const bool ip = name.find_first_not_of("0123456789.") == std::string::npos;
    // An EC key is made in a few milliseconds, where RSA takes a good part of a second.
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
        "-subj /CN=" + name + " -addext subjectAltName=" + (ip ? "IP:" : "DNS:") + name +
        " -keyout " + out.key.string() + " -out " + out.cert.string() + " 2>/dev/null";
    return std::system(command.c_str()) == 0 && std::filesystem::exists(out.cert) &&
           std::filesystem::exists(out.key);
}

} // namespace testsupport
