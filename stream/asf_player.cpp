#include "stream/asf_player.h"

#include "platform/clock.h"
#include "platform/http.h"
#include "stream/frame_chain.h"
#include "stream/stream_open.h"

#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr auto kPollSlice = std::chrono::milliseconds(50);

// A failure of the record file; ends the run with 500.
struct RecordFileError
{
};

// The record file, emptied for a new recording: a new file, or an earlier recording. The path
// comes from the page, so a symbolic link is not followed, and anything else (a file that does
// not begin with the ASF header object, a device, a pipe) is left alone: null.
std::FILE* OpenRecordFile(const std::string& name)
{
    // Non-blocking so that a pipe or a device cannot hold the open; the flag is dropped at once.
    const int fd = ::open(name.c_str(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0)
        return nullptr;
    struct stat st;
    bool ours = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ours && st.st_size > 0) {
        uint8_t start[sizeof kAsfHeaderObject];
        ours = ::pread(fd, start, sizeof start, 0) == ssize_t(sizeof start) &&
               std::memcmp(start, kAsfHeaderObject, sizeof start) == 0;
    }
    if (ours)
        ours = ::fcntl(fd, F_SETFL, 0) == 0 && ::ftruncate(fd, 0) == 0;
    std::FILE* file = ours ? ::fdopen(fd, "wb") : nullptr;
    if (!file)
        ::close(fd);
    return file;
}

} // namespace

CAsfPlayer::CAsfPlayer(const AsfProfile& profile, CFrameChain& video, CFrameChain* audio,
                       IMpeg4Painter& painter, IAudioPlayer* audioPlayer,
                       platform::MessageTarget* panel, const std::atomic<int>* videoCap,
                       const AsfPlayerTimings& timings)
    : CStreamClient(panel), m_profile(profile), m_video(video), m_audio(audio), m_painter(painter),
      m_audioPlayer(audioPlayer), m_videoCap(videoCap), m_timings(timings),
      m_parser(profile, video, profile.audio ? audio : nullptr, *this)
{
}

CAsfPlayer::~CAsfPlayer()
{
    Shutdown();
}

void CAsfPlayer::SetRecord(bool record, const std::string& fileName)
{
    // The motion-zone module never records.
    m_record = record && m_profile.audio;
    m_recordName = fileName;
}

std::array<uint8_t, 4> CAsfPlayer::ZoneLevels() const
{
    std::lock_guard lock(m_levelsLock);
    return m_levels;
}

int CAsfPlayer::VideoCap() const
{
    return m_videoCap ? m_videoCap->load() : kInitialVideoCap;
}

int CAsfPlayer::Run()
{
    m_lastMessage.clear();
    try {
        if (!Connect())
            return ConnectFailed();
        return ParseStream();
    } catch (const CPlayerException& e) {
        return Fail(e.Code(), e.Message());
    } catch (const std::bad_alloc&) {
        return Fail(kResultMemory, "Out of memory");
    } catch (const RecordFileError&) {
        return Fail(kResultFile, "Record file error");
    } catch (...) {
        return Fail(kResultOther, "Stream failure");
    }
}

bool CAsfPlayer::Connect()
{
    m_parser.Reset();
    m_streamStart = 0;
    m_video.Clear();
    if (m_audio)
        m_audio->Clear();
    m_readerStop = false;
    m_readerError = nullptr;
    if (!OpenStream())
        return false;
    if (m_record) {
        m_recordFile = OpenRecordFile(m_recordName);
        if (!m_recordFile)
            throw RecordFileError{};
    }
    m_readRequest.Reset();
    m_readDone.Reset();
    m_mode = ReadMode::Direct;
    m_reader = std::thread(&CAsfPlayer::ReaderLoop, this);
    platform::SleepMs(static_cast<uint32_t>(m_timings.afterStart.count()));
    return true;
}

bool CAsfPlayer::OpenStream()
{
    // Any URL is tried: the HTTP layer refuses what it cannot open.
    m_stream = OpenStreamWithin(m_url, m_user, m_password,
                                m_timings.openSettle + m_timings.openWait, m_stop);
    return m_stream != nullptr;
}

void CAsfPlayer::ReaderLoop()
{
    NameThisThread("asf-reader");
    try {
        for (;;) {
            m_readRequest.Wait();
            if (m_readerStop) {
                m_count = 0;
                return;
            }
            uint8_t* into = m_mode == ReadMode::Direct ? m_target : m_prefetch;
            const size_t want = m_mode == ReadMode::Direct ? m_requested : m_prefetchLength;
            // The parser asks for exact lengths; the HTTP layer hands out what has arrived.
            size_t got = 0;
            while (got < want) {
                size_t n = m_stream->Read(into + got, want - got);
                if (n == 0)
                    break;
                got += n;
            }
            m_count = got;
            m_readDone.Set();
        }
    } catch (...) {
        // The worker ends the stream with the failure's code; nothing leaves this thread.
        m_readerError = std::current_exception();
        m_count = 0;
        m_readDone.Set();
    }
}

bool CAsfPlayer::WaitReadDone()
{
    // In slices, so that a stop is seen at once rather than after the whole wait.
    for (auto waited = std::chrono::milliseconds(0); waited < m_timings.readWait;
         waited += kPollSlice) {
        if (m_stop)
            return false;
        auto slice = std::min(kPollSlice, m_timings.readWait - waited);
        if (m_readDone.Wait(slice) == platform::WaitResult::Signalled) {
            if (m_readerError)
                std::rethrow_exception(m_readerError);
            return true;
        }
    }
    return false;
}

void CAsfPlayer::Record(const uint8_t* data, size_t length)
{
    if (m_recordFile && std::fwrite(data, 1, length, m_recordFile) != length)
        throw RecordFileError{};
}

bool CAsfPlayer::ReadExact(uint8_t* target, size_t length)
{
    if (m_mode == ReadMode::Direct) {
        m_target = target;
        m_requested = length;
        m_readRequest.Set();
        if (!WaitReadDone())
            return false;
        Record(target, m_count);
        return m_count == length;
    }
    if (!WaitReadDone())
        return false;
    if (m_count == 0 || m_count != length)
        return false;
    std::memcpy(target, m_prefetch, length);
    Record(target, length);
    m_readRequest.Set(); // the next packet is read while this one is parsed
    return true;
}

int CAsfPlayer::ParseStream()
{
    const char* headerError = "data reading error.";
    uint8_t preamble[kAsfPreambleSize];
    if (!ReadExact(preamble, sizeof preamble))
        return m_stop ? Fail(kResultOk, {}) : Fail(kResultRead, headerError);
    const size_t headerSize = m_parser.CheckPreamble(preamble);
    std::vector<uint8_t> header(headerSize);
    if (!ReadExact(header.data(), headerSize))
        return m_stop ? Fail(kResultOk, {}) : Fail(kResultRead, headerError);
    m_parser.ParseHeader(header.data(), headerSize);
    m_streamStart = m_parser.StreamStartUnixMs();
    uint8_t dataHeader[kAsfDataHeaderSize];
    if (!ReadExact(dataHeader, sizeof dataHeader))
        return m_stop ? Fail(kResultOk, {}) : Fail(kResultRead, headerError);

    const size_t packetSize = m_parser.PacketSize();
    std::vector<uint8_t> packet(packetSize);
    m_prefetchLength = packetSize;
    m_mode = ReadMode::Prefetch;
    m_readRequest.Set();
    while (!m_stop) {
        if (!ReadExact(packet.data(), packetSize)) {
            if (m_stop)
                break;
            return Fail(kResultRead, m_profile.packetReadError);
        }
        m_parser.ParsePacket(packet.data());
        if (m_profile.zoneLevels) {
            std::lock_guard lock(m_levelsLock);
            m_levels = m_parser.ZoneLevels();
        }
    }
    return Fail(kResultOk, {});
}

void CAsfPlayer::StopProcedure()
{
    m_painter.SetAvSync(false);

    m_readerStop = true;
    m_readRequest.Set();
    // The reader must be done with the stream before the stream goes: wake it and join it.
    if (m_stream)
        m_stream->Cancel();
    if (m_reader.joinable())
        m_reader.join();
    m_stream.reset();
    if (m_recordFile) {
        std::fclose(m_recordFile);
        m_recordFile = nullptr;
    }

    m_painter.Stop(static_cast<uint32_t>(m_timings.workerStop.count()));
    if (m_audioPlayer)
        m_audioPlayer->Stop(static_cast<uint32_t>(m_timings.workerStop.count()));
    platform::SleepMs(static_cast<uint32_t>(m_timings.stopSleep.count()));

    if (m_audio)
        DrainFrameChain(*m_audio);
    DrainFrameChain(m_video);
    if (m_painter.DecoderOpen())
        m_painter.CloseDecoder();
    if (m_audioPlayer && m_audioPlayer->IsOpen())
        m_audioPlayer->Close();
    if (m_audio)
        m_audio->Clear();
    m_video.Clear();
    m_parser.FreeObjects();
}

void CAsfPlayer::PrepareVideo(int width, int height, const uint8_t* config, size_t length)
{
    m_painter.Prepare(width, height, config, length);
    m_painter.Start();
}

bool CAsfPlayer::StartAudio(int codeSize, int frameSize)
{
    if (!m_audioPlayer || !m_audioPlayer->StartAudio(codeSize, frameSize))
        return false;
    m_painter.SetAvSync(true);
    m_audioPlayer->Start();
    return true;
}
