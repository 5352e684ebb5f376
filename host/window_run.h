#pragma once
// What every windowed run of camhost does around its window: end the run (a login dialog that
// is up would otherwise hold it) and keep a screenshot of the window.

#include <string>

class QWidget;

namespace host {

// Window thread: rejects any dialog that is up and leaves the event loop with `code`.
void EndRun(int code);

// The window as the screen shows it (or, offscreen, as it paints itself) saved to `path`;
// false when the file could not be written.
bool SaveScreenshot(QWidget& window, bool offscreen, const std::string& path);

} // namespace host
