#include "platform/wait.h"

#include <thread>

namespace platform {
namespace {

class CBlockingWaiter final : public Waiter
{
public:
    bool WaitUntil(const std::function<bool()>& ready, std::chrono::milliseconds timeout,
                   bool) override
    {
        const auto start = std::chrono::steady_clock::now();
        while (!ready()) {
            // In milliseconds: kForever in the clock's own unit would overflow.
            if (std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - start) >= timeout)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    bool Cancelled() const override { return false; }
    bool Sleep(std::chrono::milliseconds duration) override
    {
        if (duration.count() > 0)
            std::this_thread::sleep_for(duration);
        return true;
    }
};

} // namespace

bool Waiter::Sleep(std::chrono::milliseconds duration)
{
    WaitUntil([] { return false; }, duration);
    return !Cancelled();
}

Waiter& BlockingWaiter()
{
    static CBlockingWaiter waiter;
    return waiter;
}

} // namespace platform
