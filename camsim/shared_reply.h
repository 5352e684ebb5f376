#pragma once
// A live stream served from one shared encoder (shared_stream.h): the source's steps are made
// when they fall due, on the stream's own thread, and each client's reply sends what its queue
// holds.

#include "camsim/camera.h"
#include "camsim/shared_stream.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace camsim {

template <class Source>
void MakeStep(Camera& camera, Source& source, bool alone, std::string& out);

inline int64_t UnixNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

template <class Source>
class SharedSource final : public SharedStream
{
public:
    template <class Options>
    SharedSource(Camera& camera, const Options& options)
        : SharedStream(camera), m_source(Joinable(options))
    {
        if constexpr (requires { options.startUnixMs; })
            m_startUnixMs = options.startUnixMs;
        if constexpr (requires { m_source.Header(); })
            SetHeader(m_source.Header());
    }
    ~SharedSource() override { Finish(); }

private:
    using Clock = std::chrono::steady_clock;

    template <class Options>
    static Options Joinable(Options options)
    {
        if constexpr (requires { options.joinable; })
            options.joinable = true;
        return options;
    }

    bool Produce(std::string& out, bool& entry) override
    {
        if (!m_started) {
            m_started = true;
            m_start = Clock::now();
            // Time 0 is the date the header carries, so each picture goes out when it is taken.
            if (m_startUnixMs > 0)
                m_start -= std::chrono::milliseconds(
                    std::max<int64_t>(0, UnixNowMs() - m_startUnixMs));
        }
        const bool alone = m_source.AudioGoesAlone();
        const uint32_t due = alone ? m_source.NextAudioTimeMs() : m_source.NextTimeMs();
        for (;;) {
            const auto late = Clock::now() - (m_start + std::chrono::milliseconds(due));
            if (late >= Clock::duration::zero()) {
                // An encoder that fell behind goes on from now rather than in a burst.
                if (late > std::chrono::seconds(1))
                    m_start += std::chrono::duration_cast<Clock::duration>(late);
                break;
            }
            if (WaitClosing(int(std::chrono::ceil<std::chrono::milliseconds>(-late).count())))
                return false;
        }
        if constexpr (requires { m_source.RequestKeyFrame(); })
            if (m_wantKey.exchange(false))
                m_source.RequestKeyFrame();
        MakeStep(GetCamera(), m_source, alone, out);
        if constexpr (requires { m_source.LastPictureKey(); })
            entry = !alone && m_source.LastPictureKey();
        else
            entry = !alone;
        return true;
    }

    void WantEntry() override { m_wantKey = true; }

    Source m_source; // only the stream's thread, after construction
    std::atomic<bool> m_wantKey{false};
    bool m_started = false;
    Clock::time_point m_start{};
    int64_t m_startUnixMs = 0;
};

// Sends one client's share; holds its stream slot until the reply is gone.
class SharedReply
{
public:
    SharedReply(Camera::StreamSlot slot, std::unique_ptr<SharedClient> client)
        : m_slot(std::move(slot)), m_client(std::move(client))
    {
    }

    bool Step(httplib::DataSink& sink)
    {
        SharedBytes bytes;
        if (!m_client->Next(bytes))
            return false;
        // A zero-length write would end httplib's chunked reply.
        return bytes->empty() || sink.write(bytes->data(), bytes->size());
    }

private:
    Camera::StreamSlot m_slot;
    std::unique_ptr<SharedClient> m_client;
};

} // namespace camsim
