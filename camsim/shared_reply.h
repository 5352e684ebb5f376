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

// A live stream's real-time schedule: when each time stamp falls due.
class StreamPace
{
public:
    explicit StreamPace(int64_t startUnixMs = 0) : m_startUnixMs(startUnixMs) {}

    // Time 0 is now, or the date the header carries (`startUnixMs`), so each picture goes out
    // when it is taken.
    void Start()
    {
        m_start = Clock::now();
        if (m_startUnixMs > 0)
            m_start -=
                std::chrono::milliseconds(std::max<int64_t>(0, UnixNowMs() - m_startUnixMs));
    }
    // How long until `dueMs` falls due; zero once it has. A step more than a second late moves
    // the schedule on rather than being made up for with a burst.
    std::chrono::milliseconds Until(uint32_t dueMs)
    {
        const auto late = Clock::now() - (m_start + std::chrono::milliseconds(dueMs));
        if (late < Clock::duration::zero())
            return std::chrono::ceil<std::chrono::milliseconds>(-late);
        if (late > std::chrono::seconds(1))
            m_start += late;
        return std::chrono::milliseconds(0);
    }
    // After a stall: go on from `dueMs` now.
    void Resume(uint32_t dueMs) { m_start = Clock::now() - std::chrono::milliseconds(dueMs); }

private:
    using Clock = std::chrono::steady_clock;
    int64_t m_startUnixMs;
    Clock::time_point m_start{};
};

template <class Source>
class SharedSource final : public SharedStream
{
public:
    template <class Options>
    SharedSource(Camera& camera, const Options& options)
        : SharedStream(camera), m_source(Joinable(options))
    {
        if constexpr (requires { options.startUnixMs; })
            m_pace = StreamPace(options.startUnixMs);
        if constexpr (requires { m_source.Header(); })
            SetHeader(m_source.Header());
    }
    ~SharedSource() override { Finish(); }

private:
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
            m_pace.Start();
        }
        const bool alone = m_source.AudioGoesAlone();
        const uint32_t due = alone ? m_source.NextAudioTimeMs() : m_source.NextTimeMs();
        for (auto wait = m_pace.Until(due); wait.count() > 0; wait = m_pace.Until(due))
            if (WaitClosing(int(wait.count())))
                return false;
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
    StreamPace m_pace;
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
