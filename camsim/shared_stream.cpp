#include "camsim/shared_stream.h"

#include "camsim/camera.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>

namespace camsim {

SharedStream::~SharedStream()
{
    Finish();
}

void SharedStream::Finish()
{
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

void SharedStream::SetHeader(std::string header)
{
    m_header = std::make_shared<const std::string>(std::move(header));
}

bool SharedStream::WaitClosing(int ms)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(ms),
                              [this] { return m_closing || m_camera.Stopping(); });
}

void SharedStream::Run()
{
    try {
        std::string out;
        for (;;) {
            out.clear();
            bool entry = false;
            if (!Produce(out, entry))
                break;
            Publish(std::make_shared<const std::string>(std::move(out)), entry);
            out = std::string();
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "camsim: shared stream ended: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "camsim: shared stream ended\n");
    }
    {
        std::lock_guard lock(m_mutex);
        m_ended = true;
    }
    m_changed.notify_all();
}

void SharedStream::Publish(SharedBytes step, bool entry)
{
    bool waiting = false;
    {
        std::lock_guard lock(m_mutex);
        for (Queue* q : m_queues) {
            if (q->cutOff)
                continue;
            if (!q->joined && !entry) {
                waiting = true;
                continue;
            }
            q->joined = true;
            if (q->steps.size() >= kMaxQueuedSteps || q->bytes + step->size() > kMaxQueuedBytes) {
                q->cutOff = true;
                q->steps.clear();
                q->bytes = 0;
                continue;
            }
            q->bytes += step->size();
            q->steps.push_back(step);
        }
    }
    m_changed.notify_all();
    if (waiting)
        WantEntry();
}

SharedClient::SharedClient(SharedStreams& owner, std::string key,
                           std::shared_ptr<SharedStream> stream)
    : m_owner(owner), m_key(std::move(key)), m_stream(std::move(stream))
{
}

SharedClient::~SharedClient()
{
    m_owner.Leave(*this);
}

bool SharedClient::CutOff() const
{
    std::lock_guard lock(m_stream->m_mutex);
    return m_queue.cutOff;
}

bool SharedClient::Next(SharedBytes& out)
{
    SharedStream& s = *m_stream;
    std::unique_lock lock(s.m_mutex);
    for (;;) {
        if (m_queue.cutOff || s.m_camera.Stopping() || s.m_closing)
            return false;
        if (!m_headerSent) {
            m_headerSent = true;
            if (s.m_header && !s.m_header->empty()) {
                out = s.m_header;
                return true;
            }
        }
        if (!m_queue.steps.empty()) {
            out = std::move(m_queue.steps.front());
            m_queue.steps.pop_front();
            m_queue.bytes -= out->size();
            return true;
        }
        if (s.m_ended)
            return false;
        // Timed, so a camera stopping from elsewhere is seen even without a wake-up.
        s.m_changed.wait_for(lock, std::chrono::milliseconds(100));
    }
}

SharedStreams::~SharedStreams()
{
    Stop();
}

std::unique_ptr<SharedClient> SharedStreams::Join(const std::string& key, const Maker& make)
{
    std::lock_guard lock(m_mutex);
    auto it = m_streams.find(key);
    std::shared_ptr<SharedStream> stream;
    bool fresh = false;
    if (it != m_streams.end()) {
        stream = it->second;
    } else {
        stream = std::shared_ptr<SharedStream>(make());
        fresh = true;
    }
    std::unique_ptr<SharedClient> client(new SharedClient(*this, key, stream));
    {
        std::lock_guard streamLock(stream->m_mutex);
        stream->m_queues.push_back(&client->m_queue);
    }
    if (fresh) {
        stream->m_thread = std::thread([s = stream.get()] { s->Run(); });
        m_streams.emplace(key, stream);
        m_started.fetch_add(1);
    } else {
        stream->WantEntry();
    }
    return client;
}

void SharedStreams::Leave(SharedClient& client)
{
    std::shared_ptr<SharedStream> last;
    {
        std::lock_guard lock(m_mutex);
        SharedStream& s = *client.m_stream;
        std::lock_guard streamLock(s.m_mutex);
        std::erase(s.m_queues, &client.m_queue);
        if (s.m_queues.empty()) {
            s.m_closing = true;
            if (auto it = m_streams.find(client.m_key); it != m_streams.end() && it->second.get() == &s)
                m_streams.erase(it);
            last = client.m_stream;
        }
    }
    if (last)
        last->Finish();
}

void SharedStreams::Stop()
{
    std::vector<std::shared_ptr<SharedStream>> streams;
    {
        std::lock_guard lock(m_mutex);
        for (auto& [key, stream] : m_streams)
            streams.push_back(stream);
    }
    for (auto& s : streams) {
        {
            std::lock_guard lock(s->m_mutex);
            s->m_closing = true;
        }
        s->m_changed.notify_all();
    }
}

int SharedStreams::Running() const
{
    std::lock_guard lock(m_mutex);
    return int(m_streams.size());
}

} // namespace camsim
