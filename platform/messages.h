#pragma once
// Messages from workers to the window that owns them. Workers only post; the owner's thread does
// the work. The UI implements MessageTarget with its event loop; MessageQueue keeps what was posted
// for whoever drains it (headless runs, tests).

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace platform {

struct PostedMessage
{
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

class MessageTarget
{
public:
    virtual ~MessageTarget() = default;
    // Must be callable from any thread and must not block on the receiver.
    virtual void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

class MessageQueue final : public MessageTarget
{
public:
    void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

    // Oldest message, waiting up to `timeout` for one.
    std::optional<PostedMessage> Take(std::chrono::milliseconds timeout);
    // Oldest message with this number, waiting up to `timeout`; others stay queued.
    std::optional<PostedMessage> TakeMessage(uint32_t message, std::chrono::milliseconds timeout);
    std::vector<PostedMessage> Pending() const;
    size_t Size() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<PostedMessage> m_messages; // guarded by m_mutex
};

} // namespace platform
