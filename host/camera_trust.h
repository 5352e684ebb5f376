#pragma once
// What camhost trusts of an https camera besides the system's certificate authorities: the file
// of --cacert, handed to the HTTP layer of camhost and of every module it loads.

#include <string>

namespace host {

struct Options;

// Checks the file of --cacert, else of CAMCTL_CACERT (readable, holds a PEM certificate), and
// names it, absolute, to the HTTP layer through that variable; nothing to do without one. Before
// the first request and before any thread starts. False with `why`.
bool TrustCameraCertificates(const Options& o, std::string& why);

} // namespace host
