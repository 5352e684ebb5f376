#include "host/camera_trust.h"

#include "host/options.h"
#include "platform/http.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace host {

bool TrustCameraCertificates(const Options& o, std::string& why)
{
    if (o.cacert.empty())
        return true;
    std::ifstream in(o.cacert, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    if (!in.is_open() || in.bad()) {
        why = "cannot read the certificate file " + o.cacert;
        return false;
    }
    // The HTTP layer would only fail every request on it, later and less plainly.
    if (text.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
        why = o.cacert + " holds no PEM certificate (-----BEGIN CERTIFICATE-----)";
        return false;
    }
    ::setenv(platform::kTrustedCertificatesVariable, o.cacert.c_str(), 1);
    return true;
}

} // namespace host
