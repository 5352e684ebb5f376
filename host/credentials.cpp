#include "host/credentials.h"

#include "host/options.h"

#include <cstdlib>
#include <fstream>

namespace host {

bool ReadPassword(const Options& o, Credentials& credentials, std::string& why)
{
    if (!o.passwordFile.empty()) {
        std::ifstream in(o.passwordFile);
        if (!in) {
            why = "cannot read the password file " + o.passwordFile;
            return false;
        }
        std::getline(in, credentials.password);
        if (!credentials.password.empty() && credentials.password.back() == '\r')
            credentials.password.pop_back();
    } else if (const char* env = std::getenv("CAMCTL_PASSWORD")) {
        credentials.password = env;
    }
    if (!o.passwordFile.empty() && credentials.user.empty()) {
        why = "--password-file needs --user";
        return false;
    }
    return true;
}

} // namespace host
