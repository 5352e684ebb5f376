#pragma once
// Tells a real-time test whether the machine let its threads run on time. A sound or pacing
// check that fails while threads were held back for tens of milliseconds says nothing about the
// code, so such tests try again; one that fails on a machine that kept time has found a fault.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace testsupport {

class SchedulingWatch
{
public:
    SchedulingWatch()
        : m_thread([this] {
              using clock = std::chrono::steady_clock;
              while (!m_stop) {
                  const auto asked = clock::now() + kTick;
                  std::this_thread::sleep_until(asked);
                  const auto late = std::chrono::duration_cast<std::chrono::milliseconds>(
                      clock::now() - asked);
                  m_maxLate = std::max<long>(m_maxLate, long(late.count()));
              }
          })
    {
    }
    ~SchedulingWatch()
    {
        m_stop = true;
        m_thread.join();
    }
    SchedulingWatch(const SchedulingWatch&) = delete;
    SchedulingWatch& operator=(const SchedulingWatch&) = delete;

    // The longest a wake-up came late since the watch began, in milliseconds.
    long MaxLateMs() const { return m_maxLate; }

private:
    static constexpr std::chrono::milliseconds kTick{2};
    std::atomic<bool> m_stop{false};
    std::atomic<long> m_maxLate{0};
    std::thread m_thread;
};

} // namespace testsupport
