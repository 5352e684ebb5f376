#pragma once
// The server's handler threads, started as connections need them up to a maximum rather than
// all at once: every stream client holds one for as long as it watches, so the maximum is large,
// while a test camera with a few clients should not reserve the stacks of a hundred.

#include <httplib.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace camsim {

class GrowingTaskPool final : public httplib::TaskQueue
{
public:
    explicit GrowingTaskPool(size_t maxThreads) : m_max(maxThreads) {}
    ~GrowingTaskPool() override { shutdown(); }

    void enqueue(std::function<void()> fn) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_jobs.push_back(std::move(fn));
            // A connection beyond the maximum waits for a thread, as with a fixed pool.
            if (m_idle < m_jobs.size() && m_threads.size() < m_max)
                m_threads.emplace_back([this] { Work(); });
        }
        m_changed.notify_one();
    }

    void shutdown() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_shutdown = true;
        }
        m_changed.notify_all();
        for (std::thread& t : m_threads)
            if (t.joinable())
                t.join();
    }

private:
    void Work()
    {
        for (;;) {
            std::function<void()> fn;
            {
                std::unique_lock lock(m_mutex);
                ++m_idle;
                m_changed.wait(lock, [this] { return !m_jobs.empty() || m_shutdown; });
                --m_idle;
                if (m_jobs.empty())
                    return; // shutting down, nothing left
                fn = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
            fn();
        }
    }

    const size_t m_max;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_jobs; // guarded by m_mutex, as are the two below
    size_t m_idle = 0;
    bool m_shutdown = false;
    std::vector<std::thread> m_threads; // only under m_mutex while growing; joined at shutdown
};

} // namespace camsim
