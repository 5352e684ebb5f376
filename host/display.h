#pragma once
// Whether a window can be shown at all, asked before Qt would abort on a display that does not
// open.

#include <string>

namespace host {

// Empty when the display Qt will use opens (or cannot be checked here); else why not.
std::string DisplayProblem();

} // namespace host
