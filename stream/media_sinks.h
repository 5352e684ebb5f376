#pragma once
// What a stream client needs of the painter and the audio player it feeds. The viewer's painter
// and audio player implement these; the client starts their threads and stops them.

#include "stream/stream_worker.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

// The largest picture a stream may declare; both parsers refuse anything else (and zero) as
// malformed. Cameras send up to 704x480; this is the size the viewer's MPEG-4 decoder is made for,
// so it refuses only what no camera sends and nothing here could show, and leaves the painters to
// skip what lies between.
inline constexpr int kMaxStreamWidth = 1024;
inline constexpr int kMaxStreamHeight = 768;

inline bool IsStreamPictureSize(int64_t width, int64_t height)
{
    return width > 0 && height > 0 && width <= kMaxStreamWidth && height <= kMaxStreamHeight;
}

class IMJpegPainter : public CStreamWorker
{
public:
    // Records the picture size for a new connection, prepares drawing, posts WM_VIDEO_READY.
    virtual void Prepare(int width, int height) = 0;
    // Set while audio plays: the painter then holds each picture until the panel clock passes it.
    void SetAvSync(bool on) { m_avSync = on; }
    bool AvSync() const { return m_avSync.load(); }

protected:
    std::atomic<bool> m_avSync{false};
};

class IMpeg4Painter : public CStreamWorker
{
public:
    // For a new connection: the picture size and the stream's MPEG-4 configuration headers, which
    // the painter copies; opens its decoder and posts WM_VIDEO_READY.
    virtual void Prepare(int width, int height, const uint8_t* config, size_t configLength) = 0;
    virtual bool DecoderOpen() const = 0;
    virtual void CloseDecoder() = 0;
    void SetAvSync(bool on) { m_avSync = on; }
    bool AvSync() const { return m_avSync.load(); }

protected:
    std::atomic<bool> m_avSync{false};
};

class IAudioPlayer : public CStreamWorker
{
public:
    // Opens the output for G.726 code words of `codeSize` bits in frames of `frameSize` bytes;
    // false leaves audio off for this connection.
    virtual bool StartAudio(int codeSize, int frameSize) = 0;
    virtual bool IsOpen() const = 0;
    virtual void Close() = 0;
};
