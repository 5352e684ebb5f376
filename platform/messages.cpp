#include "platform/messages.h"

#include <algorithm>

namespace platform {

void MessageQueue::Post(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back({message, wParam, lParam});
    }
    m_cv.notify_all();
}

std::optional<PostedMessage> MessageQueue::Take(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    if (!m_cv.wait_for(lock, timeout, [this] { return !m_messages.empty(); }))
        return std::nullopt;
    PostedMessage m = m_messages.front();
    m_messages.pop_front();
    return m;
}

std::optional<PostedMessage> MessageQueue::TakeMessage(uint32_t message,
                                                       std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    auto match = [message](const PostedMessage& m) { return m.message == message; };
    std::deque<PostedMessage>::iterator it;
    if (!m_cv.wait_for(lock, timeout, [&] {
            it = std::find_if(m_messages.begin(), m_messages.end(), match);
            return it != m_messages.end();
        }))
        return std::nullopt;
    PostedMessage m = *it;
    m_messages.erase(it);
    return m;
}

std::vector<PostedMessage> MessageQueue::Pending() const
{
    std::lock_guard lock(m_mutex);
    return {m_messages.begin(), m_messages.end()};
}

size_t MessageQueue::Size() const
{
    std::lock_guard lock(m_mutex);
    return m_messages.size();
}

} // namespace platform
