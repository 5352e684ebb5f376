#pragma once
// How a thread waits for what other threads do. The default blocks the calling thread. A
// window's thread passes one that keeps its window alive meanwhile and gives up once the window
// is asked to close; code below the windows (no Qt there) only ever sees this interface.

#include <chrono>
#include <functional>

namespace platform {

class Waiter
{
public:
    static constexpr std::chrono::milliseconds kForever = std::chrono::milliseconds::max();

    virtual ~Waiter() = default;

    // Waits until `ready` holds (true), `timeout` has passed or, when `cancellable`, the caller
    // has given up (false). `ready` is polled on the calling thread, so it reads only what other
    // threads publish through atomics.
    virtual bool WaitUntil(const std::function<bool()>& ready, std::chrono::milliseconds timeout,
                           bool cancellable = true) = 0;
    // True once the caller has given up: cancellable waits then return false at once.
    virtual bool Cancelled() const = 0;
    // A fixed pause; false when it was cut short.
    virtual bool Sleep(std::chrono::milliseconds duration);
};

// Blocks the calling thread; never gives up.
Waiter& BlockingWaiter();

} // namespace platform
