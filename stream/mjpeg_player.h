#pragma once
// The Motion-JPEG stream client: opens the camera's Motion-JPEG stream, reads it on a reader
// thread in blocks of at most 2,048 bytes (one block read ahead while the previous one is
// parsed), parses it, and feeds the video and audio queues, the painter and the audio player.
// Runs as a worker; its result reaches the panel as WM_PLAYER_RESULT.

#include "platform/event.h"
#include "stream/media_sinks.h"
#include "stream/mjpeg_parser.h"
#include "stream/stream_client.h"
#include "stream/stream_worker.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class CFrameChain;
namespace platform {
class HttpStream;
}

struct MJpegPlayerTimings
{
    using ms = std::chrono::milliseconds;
    ms openSettle{300};   // the open's wait is openSettle + openWait
    ms openWait{30000};
    ms afterStart{300};   // pause after the reader has started
    ms readWait{60000};   // a block that takes longer ends the connection (400)
    ms workerStop{8000};  // painter and audio player stop time-out
    ms stopSleep{1000};   // before the queues are drained
};

class CMJpegPlayer : public CStreamClient, private IMJpegParserEvents
{
public:
    static constexpr size_t kBlockSize = 2048;

    // Without an audio player the stream's audio stays off.
    CMJpegPlayer(CFrameChain& video, CFrameChain& audio, IMJpegPainter& painter,
                 IAudioPlayer* audioPlayer, platform::MessageTarget* panel,
                 const MJpegPlayerTimings& timings = {});
    ~CMJpegPlayer() override;


    int Run() override;


private:
    bool Connect();
    bool OpenStream();
    // False when the stop flag ended the wait; else `count` holds the block's size (0: failed).
    // Rethrows what ended the reader thread.
    bool GetNextBlock(size_t& count);
    void ReaderLoop();
    void StopProcedure() override;

    void StartPainter(int width, int height) override;
    bool StartAudio(int codeSize, int frameSize) override;

    CFrameChain& m_video;
    CFrameChain& m_audio;
    IMJpegPainter& m_painter;
    IAudioPlayer* m_audioPlayer;
    MJpegPlayerTimings m_timings;
    CMJpegParser m_parser;


    std::unique_ptr<platform::HttpStream> m_stream;
    std::vector<uint8_t> m_readBuffer;  // written by the reader between the two events
    std::vector<uint8_t> m_parseBuffer; // the worker's copy
    size_t m_readCount = 0;             // handed over through the events
    std::exception_ptr m_readerError;   // the same: set by the reader before its last signal
    platform::AutoResetEvent m_dataReady;
    platform::AutoResetEvent m_readRequest;
    std::atomic<bool> m_readerStop{false};
    std::thread m_reader;
};
