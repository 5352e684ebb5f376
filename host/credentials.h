#pragma once
// The credentials camhost answers a camera's login with: the user name from --user (or the URL)
// and the password from a file or the environment, never from the command line.

#include <string>

namespace host {

struct Options;

struct Credentials
{
    std::string user;
    std::string password; // in memory only; never printed
    bool Given() const { return !user.empty(); }
};

// The password from --password-file (its first line) or CAMCTL_PASSWORD. False with `why` when
// the file cannot be read or names a password without a user.
bool ReadPassword(const Options& o, Credentials& credentials, std::string& why);

} // namespace host
