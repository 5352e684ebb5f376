#pragma once
// The ASF stream client: opens the camera's ASF stream, reads it on a reader thread with
// exact-length reads (straight into the caller's buffer for the header, one packet read ahead
// for the data packets), parses it, optionally records the bytes it consumed, and feeds the
// video and audio queues, the MPEG-4 painter and the audio player.

#include "platform/event.h"
#include "stream/asf_parser.h"
#include "stream/media_sinks.h"
#include "stream/stream_client.h"
#include "stream/stream_worker.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CFrameChain;
namespace platform {
class HttpStream;
}

struct AsfPlayerTimings
{
    using ms = std::chrono::milliseconds;
    ms openSettle{300};
    ms openWait{30000};
    ms afterStart{300};
    ms readWait{60000};
    ms workerStop{8000};
    ms stopSleep{1000};
};

class CAsfPlayer : public CStreamClient, private IAsfParserEvents
{
public:
    // The motion-zone module's client has no audio queue and no audio player (both null).
    CAsfPlayer(const AsfProfile& profile, CFrameChain& video, CFrameChain* audio,
               IMpeg4Painter& painter, IAudioPlayer* audioPlayer, platform::MessageTarget* panel,
               const std::atomic<int>* videoCap, const AsfPlayerTimings& timings = {});
    ~CAsfPlayer() override;

    void SetRecord(bool record, const std::string& fileName);
    // Only while the client is idle, like SetUrl.
    void SetTimings(const AsfPlayerTimings& timings) { m_timings = timings; }

    int Run() override;

    std::array<uint8_t, 4> ZoneLevels() const;
    // Any thread: the wall time of this connection's time stamp 0 (CAsfParser), 0 when unknown.
    int64_t StreamStartUnixMs() const { return m_streamStart.load(); }

private:
    enum class ReadMode { Direct, Prefetch };

    bool Connect();
    bool OpenStream();
    void ReaderLoop();
    // Exactly `length` bytes into `target`; false on a short read, a failure, a stop or the wait.
    bool ReadExact(uint8_t* target, size_t length);
    // Rethrows what ended the reader thread.
    bool WaitReadDone();
    void Record(const uint8_t* data, size_t length);
    void StopProcedure() override;
    int ParseStream();

    void PrepareVideo(int width, int height, const uint8_t* config, size_t length) override;
    bool StartAudio(int codeSize, int frameSize) override;
    int VideoCap() const override;

    AsfProfile m_profile;
    CFrameChain& m_video;
    CFrameChain* m_audio;
    IMpeg4Painter& m_painter;
    IAudioPlayer* m_audioPlayer;
    const std::atomic<int>* m_videoCap;
    AsfPlayerTimings m_timings;
    CAsfParser m_parser;

    bool m_record = false;
    std::string m_recordName;
    std::FILE* m_recordFile = nullptr;

    std::unique_ptr<platform::HttpStream> m_stream;
    std::thread m_reader;
    platform::AutoResetEvent m_readRequest;
    platform::AutoResetEvent m_readDone;
    std::atomic<bool> m_readerStop{false};
    // The pending read, handed over through the two events.
    ReadMode m_mode = ReadMode::Direct;
    uint8_t* m_target = nullptr;
    size_t m_requested = 0;
    size_t m_prefetchLength = 0;
    size_t m_count = 0;
    std::exception_ptr m_readerError; // set by the reader before its last signal
    uint8_t m_prefetch[kAsfMaxPacketSize];

    std::atomic<int64_t> m_streamStart{0};
    mutable std::mutex m_levelsLock;
    std::array<uint8_t, 4> m_levels{}; // guarded by m_levelsLock
};
