#pragma once
// What the motion-zone control's tests share: timings short enough for tests (the waits that
// only bound a failure stay long), and a zone as the simulated camera stores it.

#include "camsim/zones.h"
#include "motion/zone_panel.h"

#include <QRect>

#include <ostream>

// Readable failures for the values the zone tests compare.
inline void PrintTo(const QRect& r, std::ostream* os)
{
    *os << "(" << r.x() << ", " << r.y() << ") " << r.width() << "x" << r.height();
}

namespace camsim {
inline void PrintTo(const Zone& z, std::ostream* os)
{
    *os << "{en " << z.enable << " thd " << z.threshold << " sens " << z.sensitivity << " (" << z.x1
        << ", " << z.y1 << ")-(" << z.x2 << ", " << z.y2 << ")}";
}
} // namespace camsim

namespace testsupport {

inline ZoneTimings FastZoneTimings()
{
    using std::chrono::milliseconds;
    ZoneTimings t;
    t.haltWait = milliseconds(5);
    t.stopTimeoutMs = 10000;
    t.restartWait = milliseconds(5);
    t.cancelWait = milliseconds(0);
    t.meterPeriod = milliseconds(30);
    t.asf.openSettle = milliseconds(10);
    t.asf.openWait = milliseconds(5000);
    t.asf.afterStart = milliseconds(5);
    t.asf.readWait = milliseconds(5000);
    t.asf.workerStop = milliseconds(5000);
    t.asf.stopSleep = milliseconds(5);
    t.poster.settle = milliseconds(5);
    t.poster.sendWait = milliseconds(5000);
    return t;
}

inline camsim::Zone MakeZone(int enable, int x1, int y1, int x2, int y2, int threshold)
{
    camsim::Zone z;
    z.enable = enable;
    z.threshold = threshold;
    z.x1 = x1;
    z.y1 = y1;
    z.x2 = x2;
    z.y2 = y2;
    return z;
}

} // namespace testsupport
