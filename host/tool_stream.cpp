#include "host/tool_stream.h"

#include "codec/image_holder.h"
#include "codec/mpeg4/picture_path.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "stream/asf_player.h"
#include "stream/frame_chain.h"
#include "stream/mjpeg_player.h"

#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <new>

namespace host {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string SecondsText(milliseconds ms)
{
    char text[32];
    std::snprintf(text, sizeof text, ms.count() % 1000 ? "%.1f s" : "%.0f s",
                  double(ms.count()) / 1000);
    return text;
}

// What both catchers tell the tool's thread; the picture only once their thread has ended.
class CatchState
{
public:
    explicit CatchState(CatchUntil until) : m_until(until) {}
    bool Caught() const { return m_caught.load(); }
    int Width() const { return m_width.load(); }
    int Height() const { return m_height.load(); }
    uint64_t Undecodable() const { return m_undecodable.load(); }
    std::unique_ptr<CImageHolder> TakePicture() { return std::move(m_picture); }

protected:
    void Sized(int width, int height)
    {
        m_width = width;
        m_height = height;
        if (m_until == CatchUntil::Size)
            m_caught = true;
    }
    bool WantsPicture() const { return m_until == CatchUntil::Picture && !m_caught; }
    void Keep(std::unique_ptr<CImageHolder> picture)
    {
        m_picture = std::move(picture);
        m_caught = true;
    }

    std::atomic<uint64_t> m_undecodable{0};

private:
    const CatchUntil m_until;
    std::atomic<bool> m_caught{false};
    std::atomic<int> m_width{0}, m_height{0};
    std::unique_ptr<CImageHolder> m_picture; // painter thread until it ends, then the tool's
};

// In the MPEG-4 painter's place: the stream's pictures through the viewer's picture path until
// one decodes.
class CMpeg4Catch final : public IMpeg4Painter, public CatchState
{
public:
    CMpeg4Catch(CFrameChain& video, CatchUntil until) : CatchState(until), m_video(video) {}
    ~CMpeg4Catch() override { Shutdown(); }

    void Prepare(int width, int height, const uint8_t* config, size_t length) override
    {
        Shutdown(); // the decoder is about to change under an earlier connection's thread
        Sized(width, height);
        if (WantsPicture())
            m_path.Open(config, length);
    }
    bool DecoderOpen() const override { return m_path.IsOpen(); }
    void CloseDecoder() override
    {
        Shutdown();
        m_path.Close();
    }
    void OnError(int) override {}

    int Run() override
    {
        if (!WantsPicture())
            return 0;
        try {
            Mpeg4PainterCounts counts;
            while (!m_stop) {
                uint32_t timestamp = 0;
                if (!DecodeQueuedFrame(m_video, m_path, counts, &timestamp)) {
                    m_undecodable = counts.decodeFailures + counts.skipped;
                    platform::SleepMs(1);
                    continue;
                }
                const int width = m_path.Width(), height = m_path.Height();
                auto picture = std::make_unique<CImageHolder>(FormatJpeg);
                if (!picture->Create(uint32_t(width), uint32_t(height), 24, FormatJpeg))
                    return kResultMemory;
                // Both are bottom-up; the holder's rows are padded to four bytes.
                for (int row = 0; row < height; ++row)
                    std::memcpy(picture->GetBits() + size_t(row) * picture->GetEffWidth(),
                                m_path.Rgb() + size_t(row) * size_t(width) * 3, size_t(width) * 3);
                Keep(std::move(picture));
                return 0;
            }
        } catch (const std::bad_alloc&) {
            return kResultMemory;
        } catch (...) {
            return kResultOther;
        }
        return 0;
    }

private:
    CFrameChain& m_video;
    CMpeg4PicturePath m_path{kViewerPictureProfile};
};

// In the Motion-JPEG painter's place: the stream's pictures through the image holder until one
// decodes.
class CJpegCatch final : public IMJpegPainter, public CatchState
{
public:
    CJpegCatch(CFrameChain& video, CatchUntil until) : CatchState(until), m_video(video) {}
    ~CJpegCatch() override { Shutdown(); }

    void Prepare(int width, int height) override { Sized(width, height); }
    void OnError(int) override {}

    int Run() override
    {
        if (!WantsPicture())
            return 0;
        try {
            auto picture = std::make_unique<CImageHolder>(FormatJpeg);
            // A picture no stream may declare is refused before anything is allocated for it.
            picture->SetSizeLimit(kMaxStreamWidth, kMaxStreamHeight);
            while (!m_stop) {
                uint8_t* data = nullptr;
                int32_t size = 0;
                uint32_t timestamp = 0;
                std::unique_ptr<FrameChainNode, void (*)(FrameChainNode*) noexcept> node(
                    m_video.Remove(&data, &size, &timestamp), &FreeFrame);
                if (!node) {
                    platform::SleepMs(1);
                    continue;
                }
                if (data && size > 0 && picture->Decode(data, uint32_t(size), FormatJpeg)) {
                    Keep(std::move(picture));
                    return 0;
                }
                picture->FreeDib();
                ++m_undecodable;
            }
        } catch (const std::bad_alloc&) {
            return kResultMemory;
        } catch (...) {
            return kResultOther;
        }
        return 0;
    }

private:
    CFrameChain& m_video;
};

// In the MPEG-4 painter's place while recording: the pictures are not looked at.
class CDiscardPainter final : public IMpeg4Painter
{
public:
    explicit CDiscardPainter(CFrameChain& video) : m_video(video) {}
    ~CDiscardPainter() override { Shutdown(); }

    void Prepare(int, int, const uint8_t*, size_t) override { Shutdown(); }
    bool DecoderOpen() const override { return false; }
    void CloseDecoder() override { Shutdown(); }
    void OnError(int) override {}
    int Run() override
    {
        while (!m_stop) {
            uint8_t* data = nullptr;
            int32_t size = 0;
            uint32_t timestamp = 0;
            if (FrameChainNode* node = m_video.Remove(&data, &size, &timestamp))
                FreeFrame(node);
            else
                platform::SleepMs(5);
        }
        return 0;
    }

private:
    CFrameChain& m_video;
};

// The clients' waits are the tool's time-out; nothing of ours needs the pause before the queues
// are drained, since the catchers have ended by then.
AsfPlayerTimings AsfTimings(const CameraSession& session)
{
    AsfPlayerTimings t;
    t.openWait = session.Timeout();
    t.readWait = session.Timeout();
    t.stopSleep = milliseconds(0);
    return t;
}

MJpegPlayerTimings MJpegTimings(const CameraSession& session)
{
    MJpegPlayerTimings t;
    t.openWait = session.Timeout();
    t.readWait = session.Timeout();
    t.stopSleep = milliseconds(0);
    return t;
}

std::optional<int> ResultOf(platform::MessageQueue& results)
{
    if (auto posted = results.TakeMessage(WM_PLAYER_RESULT, milliseconds(0)))
        return int(posted->wParam);
    return std::nullopt;
}

ToolOutcome Await(CameraSession& session, CStreamClient& client, CStreamWorker& painter,
                  CatchState& state, platform::MessageQueue& results, const std::string& url,
                  milliseconds within, StreamCatch& out)
{
    client.SetUrl(url, session.User(), session.Password());
    session.Mark();
    client.Start();
    const auto until = Clock::now() + within;
    bool stopped = false;
    while (!state.Caught() && !client.Finished() && Clock::now() < until) {
        if ((stopped = session.StopAsked()))
            break;
        platform::SleepMs(10);
    }
    // The client's stop procedure stops the catcher; its thread is joined before its picture
    // is taken.
    client.Shutdown();
    painter.Shutdown();
    out.width = state.Width();
    out.height = state.Height();
    out.undecodable = state.Undecodable();
    if (state.Caught()) {
        out.picture = state.TakePicture();
        return ToolOutcome::Ok();
    }
    if (stopped)
        return ToolOutcome::Error(kExitError, "stopped");
    if (const auto result = ResultOf(results))
        return session.StreamFailed(url, *result, client.LastMessage());
    if (out.width == 0) {
        // The open's reply may tell more than the time.
        if (ToolOutcome said = session.StreamFailed(url, kResultOk, {}); said.Failed())
            return said;
        return ToolOutcome::Of(Failure::NoAnswer, session.Shown(),
                               "no stream in " + SecondsText(within));
    }
    std::string detail = "no whole picture in " + SecondsText(within);
    if (out.undecodable)
        detail += "; " + std::to_string(out.undecodable) + " did not decode";
    return ToolOutcome::Of(Failure::NoAnswer, session.Shown(), detail);
}

uint64_t FileSize(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
}

// The recording holds the ASF header, the data object's header and at least one data packet
// (the client records whole packets only).
bool HoldsDataPacket(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    uint8_t preamble[kAsfPreambleSize];
    if (!in.read(reinterpret_cast<char*>(preamble), sizeof preamble) ||
        std::memcmp(preamble, kAsfHeaderObject, sizeof kAsfHeaderObject) != 0)
        return false;
    uint64_t headerSize = 0;
    for (int i = 7; i >= 0; --i)
        headerSize = headerSize << 8 | preamble[16 + i];
    return FileSize(path) > headerSize + kAsfDataHeaderSize;
}

} // namespace

ToolOutcome CatchStream(CameraSession& session, const std::string& url, const std::string& type,
                        CatchUntil until, milliseconds within, StreamCatch& out)
{
    CFrameChain video, audio;
    platform::MessageQueue results;
    if (type == "mpeg") {
        CMpeg4Catch painter(video, until);
        CAsfPlayer client(kViewerAsfProfile, video, &audio, painter, nullptr, &results, nullptr,
                          AsfTimings(session));
        return Await(session, client, painter, painter, results, url, within, out);
    }
    CJpegCatch painter(video, until);
    CMJpegPlayer client(video, audio, painter, nullptr, &results, MJpegTimings(session));
    return Await(session, client, painter, painter, results, url, within, out);
}

ToolOutcome RecordStream(CameraSession& session, const std::string& url, milliseconds length,
                         const std::string& file, bool progress, Recording& out)
{
    PendingFile pending(file);
    std::string why;
    if (!pending.Create(why))
        return ToolOutcome::Error(kExitError, why);

    CFrameChain video, audio;
    platform::MessageQueue results;
    CDiscardPainter painter(video);
    // No audio player: the audio stays off, and is recorded as it came all the same.
    CAsfPlayer client(kViewerAsfProfile, video, &audio, painter, nullptr, &results, nullptr,
                      AsfTimings(session));
    client.SetUrl(url, session.User(), session.Password());
    client.SetRecord(true, pending.Temporary());
    session.Mark();
    const auto started = Clock::now();
    client.Start();

    std::optional<Clock::time_point> first; // the time is counted from the first byte
    Clock::time_point shown{};
    bool stopped = false;
    auto show = [&](const char* end) {
        if (!first)
            std::fprintf(stderr, "\rwaiting for the stream...%s", end);
        else
            std::fprintf(stderr, "\rrecorded %.1f s of %s (%" PRIu64 " KiB)%s", out.seconds,
                         SecondsText(length).c_str(), out.bytes / 1024, end);
        std::fflush(stderr);
    };
    for (;;) {
        const auto now = Clock::now();
        out.bytes = FileSize(pending.Temporary());
        if (out.bytes > 0 && !first)
            first = now;
        out.seconds = first ? std::chrono::duration<double>(now - *first).count() : 0;
        if (first && now - *first >= length) {
            out.complete = true;
            break;
        }
        if (client.Finished() || (stopped = session.StopAsked()))
            break;
        if (progress && now - shown >= milliseconds(250)) {
            show("   ");
            shown = now;
        }
        platform::SleepMs(20);
    }
    client.Shutdown(); // closes the record file
    painter.Shutdown();
    out.bytes = FileSize(pending.Temporary());
    if (progress)
        show("\n");

    ToolOutcome outcome;
    if (!out.complete && !stopped) {
        const int result = ResultOf(results).value_or(kResultOk);
        if (result == kResultFile)
            outcome = ToolOutcome::Error(kExitError, "cannot write " + file);
        else if (out.bytes == 0 && result == kResultRead && Clock::now() - started >= session.Timeout())
            outcome = ToolOutcome::Of(Failure::NoAnswer, session.Shown(),
                                      "no stream data in " + SecondsText(session.Timeout()));
        else
            outcome = session.StreamFailed(url, result, client.LastMessage());
        if (!outcome.Failed())
            outcome = ToolOutcome::Of(Failure::Refused, session.Shown(), "the stream ended");
    }
    out.kept = HoldsDataPacket(pending.Temporary());
    if (out.kept && !pending.Commit(why))
        return ToolOutcome::Error(kExitError, why);
    if (stopped)
        return ToolOutcome::Error(kExitError, "stopped");
    return outcome;
}

} // namespace host
