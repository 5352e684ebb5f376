#include "stream/mjpeg_player.h"

#include "platform/clock.h"
#include "platform/http.h"
#include "stream/stream_open.h"
#include "stream/frame_chain.h"

#include <cctype>
#include <cstring>
#include <new>
#include <string_view>

namespace {

constexpr auto kPollSlice = std::chrono::milliseconds(50);

bool StartsWithNoCase(const std::string& url, std::string_view scheme)
{
    if (url.size() <= scheme.size())
        return false;
    for (size_t i = 0; i < scheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(url[i])) != scheme[i])
            return false;
    return true;
}

// The service types a camera's stream comes by; the HTTP layer would take others too.
bool IsHttpUrl(const std::string& url)
{
    return StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://");
}

} // namespace

CMJpegPlayer::CMJpegPlayer(CFrameChain& video, CFrameChain& audio, IMJpegPainter& painter,
                           IAudioPlayer* audioPlayer, platform::MessageTarget* panel,
                           const MJpegPlayerTimings& timings)
    : CStreamClient(panel), m_video(video), m_audio(audio), m_painter(painter),
      m_audioPlayer(audioPlayer), m_timings(timings), m_parser(video, audio, *this)
{
}

CMJpegPlayer::~CMJpegPlayer()
{
    Shutdown();
}

int CMJpegPlayer::Run()
{
    m_lastMessage.clear();
    try {
        if (!Connect())
            return ConnectFailed();
    } catch (const CPlayerException& e) {
        return Fail(e.Code(), e.Message());
    } catch (...) {
        return Fail(kResultOther, "Connect failure");
    }

    m_readRequest.Set();
    while (!m_stop) {
        // The code and text of a failure; the stop procedure runs outside the handlers.
        int code = kResultOk;
        std::string message;
        try {
            size_t count = 0;
            if (!GetNextBlock(count))
                break;
            if (count == 0) {
                m_parser.EndOfStream(); // a refusal page that came whole before the end
                code = kResultRead;
                message = "Data Reading Error";
            } else {
                m_parser.ParseBlock(m_parseBuffer.data(), count);
            }
        } catch (const CPlayerException& e) {
            code = e.Code();
            message = e.Message();
        } catch (const std::bad_alloc&) {
            code = kResultMemory;
            message = "Out of memory";
        } catch (...) {
            code = kResultOther;
            message = "Parse failure";
        }
        if (code != kResultOk)
            return Fail(code, std::move(message));
    }
    return Fail(kResultOk, {});
}

bool CMJpegPlayer::Connect()
{
    m_parser.Reset();
    if (m_readBuffer.empty()) {
        m_readBuffer.assign(kBlockSize, 0);
        m_parseBuffer.assign(kBlockSize, 0);
    }
    m_video.Clear();
    m_audio.Clear();
    m_readerStop = false;
    m_readerError = nullptr;
    if (!OpenStream())
        return false;
    m_dataReady.Reset();
    m_readRequest.Reset();
    m_reader = std::thread(&CMJpegPlayer::ReaderLoop, this);
    platform::SleepMs(static_cast<uint32_t>(m_timings.afterStart.count()));
    return true;
}

bool CMJpegPlayer::OpenStream()
{
    if (!IsHttpUrl(m_url))
        return false;
    m_stream = OpenStreamWithin(m_url, m_user, m_password,
                                m_timings.openSettle + m_timings.openWait, m_stop);
    return m_stream != nullptr;
}

void CMJpegPlayer::ReaderLoop()
{
    NameThisThread("mjpeg-reader");
    try {
        for (;;) {
            m_readRequest.Wait();
            if (m_readerStop) {
                m_readCount = 0;
                return;
            }
            m_readCount = m_stream->Read(m_readBuffer.data(), kBlockSize);
            m_dataReady.Set();
        }
    } catch (...) {
        // The worker ends the stream with the failure's code; nothing leaves this thread.
        m_readerError = std::current_exception();
        m_readCount = 0;
        m_dataReady.Set();
    }
}

bool CMJpegPlayer::GetNextBlock(size_t& count)
{
    // Waits in slices so that a stop is seen at once, not after the read's whole time-out.
    for (auto waited = std::chrono::milliseconds(0);; waited += kPollSlice) {
        if (m_stop)
            return false;
        if (waited >= m_timings.readWait) {
            count = 0;
            return true;
        }
        auto slice = std::min(kPollSlice, m_timings.readWait - waited);
        if (m_dataReady.Wait(slice) == platform::WaitResult::Signalled)
            break;
    }
    if (m_readerError)
        std::rethrow_exception(m_readerError);
    count = m_readCount;
    std::memcpy(m_parseBuffer.data(), m_readBuffer.data(), count);
    m_readRequest.Set(); // the next block is read while this one is parsed
    return true;
}

void CMJpegPlayer::StopProcedure()
{
    m_painter.SetAvSync(false);

    // The reader must be done with the stream before the stream goes: wake it out of a blocked
    // read and join it.
    m_readerStop = true;
    m_readRequest.Set();
    if (m_stream)
        m_stream->Cancel();
    if (m_reader.joinable())
        m_reader.join();
    m_stream.reset();

    m_painter.Stop(static_cast<uint32_t>(m_timings.workerStop.count()));
    if (m_audioPlayer)
        m_audioPlayer->Stop(static_cast<uint32_t>(m_timings.workerStop.count()));
    platform::SleepMs(static_cast<uint32_t>(m_timings.stopSleep.count()));

    DrainFrameChain(m_audio);
    DrainFrameChain(m_video);
    if (m_audioPlayer && m_audioPlayer->IsOpen())
        m_audioPlayer->Close();
    m_audio.Clear();
    m_video.Clear();
    m_parser.FreePartial();
}

void CMJpegPlayer::StartPainter(int width, int height)
{
    m_painter.Prepare(width, height);
    m_painter.Start();
}

bool CMJpegPlayer::StartAudio(int codeSize, int frameSize)
{
    if (!m_audioPlayer || !m_audioPlayer->StartAudio(codeSize, frameSize))
        return false;
    m_painter.SetAvSync(true);
    m_audioPlayer->Start();
    return true;
}
