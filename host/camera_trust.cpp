#include "host/camera_trust.h"

#include "host/options.h"
#include "platform/http.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace host {

bool TrustCameraCertificates(const Options& o, std::string& why)
{
    std::string file = o.cacert;
    if (const char* env = std::getenv(platform::kTrustedCertificatesVariable); file.empty() && env)
        file = env;
    if (file.empty())
        return true;
    // A module reads it at its first request, after the viewer's Folder button may have moved
    // the working directory.
    std::error_code ec;
    if (const auto absolute = std::filesystem::absolute(file, ec); !ec)
        file = absolute.lexically_normal().string();
    std::ifstream in(file, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    if (!in.is_open() || in.bad()) {
        why = "cannot read the certificate file " + file;
        return false;
    }
    // The HTTP layer would only fail every request on it, later and less plainly.
    if (text.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
        why = file + " holds no PEM certificate (-----BEGIN CERTIFICATE-----)";
        return false;
    }
    ::setenv(platform::kTrustedCertificatesVariable, file.c_str(), 1);
    return true;
}

} // namespace host
