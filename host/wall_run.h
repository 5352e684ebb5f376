#pragma once
// `camhost wall`: the command line's cameras in one window, run as the single viewer's window is.

namespace host {

struct Options;

int RunWall(Options& options, int argc, char** argv);

} // namespace host
