#pragma once
// camhost's headless tools: probe, snapshot, record, zones get and set, ptz. No window and no Qt:
// each asks the camera what the controls would ask, prints what it found as JSON on stdout, and
// says a failure on stderr with the exit codes of --help.

#include "host/options.h"

namespace host {

int RunTool(const Options& options);

} // namespace host
