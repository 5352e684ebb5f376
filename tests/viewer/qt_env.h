#pragma once
// One QApplication for a test program, on the offscreen platform so no display is needed.

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <chrono>
#include <cstdlib>
#include <functional>

namespace testsupport {

inline QApplication& TestApp()
{
    static int argc = 1;
    static char name[] = "tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("CAMCTL_SOUND", "virtual"); // no speaker in tests
        // The viewer reads and creates the user's settings and pictures folders: keep a test's
        // own, away from the real home.
        char home[] = "/tmp/camctl-viewer-test-XXXXXX";
        if (::mkdtemp(home)) {
            qputenv("HOME", home);
            qputenv("XDG_CONFIG_HOME", QByteArray(home) + "/.config");
        }
        return new QApplication(argc, argv);
    }();
    return *app;
}

// Runs the event loop until `done` holds or `limit` passes; the result of `done`.
inline bool PumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(30))
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limit.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

} // namespace testsupport
