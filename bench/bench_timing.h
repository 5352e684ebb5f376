#pragma once
// Side-by-side timing: rounds alternate between the contenders and the fastest round of each is
// kept, so load elsewhere on the machine stays out of the ratios.

#include <algorithm>
#include <chrono>
#include <ctime>
#include <functional>
#include <vector>

namespace bench {

inline std::vector<double> FastestRounds(const std::vector<std::function<void()>>& contenders,
                                         int rounds)
{
    std::vector<double> best(contenders.size(), 1e30);
    for (int r = 0; r < rounds; ++r)
        for (size_t i = 0; i < contenders.size(); ++i) {
            const auto start = std::chrono::steady_clock::now();
            contenders[i]();
            const double s =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            best[i] = std::min(best[i], s);
        }
    return best;
}

// The same in this thread's CPU time, for single-threaded contenders: time slices that other
// processes take on a loaded machine do not count.
inline std::vector<double> FastestRoundsCpu(const std::vector<std::function<void()>>& contenders,
                                            int rounds)
{
    auto now = [] {
        timespec ts;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
    };
    std::vector<double> best(contenders.size(), 1e30);
    for (int r = 0; r < rounds; ++r)
        for (size_t i = 0; i < contenders.size(); ++i) {
            const double start = now();
            contenders[i]();
            best[i] = std::min(best[i], now() - start);
        }
    return best;
}

} // namespace bench
