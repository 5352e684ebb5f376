#pragma once
// The A/V readouts: how far the picture on screen is behind the sound (the panel clock), and,
// when the stream says what wall time its time stamp 0 was taken at, how long ago the picture on
// screen was taken. The painters note each picture they paint; the panel samples once a second.
// No Qt.

#include <cstdint>
#include <deque>
#include <mutex>

struct PaintedPicture
{
    bool valid = false;
    uint32_t timestamp = 0;
    int64_t atUnixMs = 0; // when it was painted
    bool paced = false;   // held for the panel clock: sound was playing
    uint64_t serial = 0;  // paints so far
};

// Written by a painter thread, read by the UI thread.
class CPaintRecord
{
public:
    void Note(uint32_t timestamp, bool paced);
    // A new connection: its time stamps start afresh.
    void Forget();
    PaintedPicture Last() const;

private:
    mutable std::mutex m_lock;
    PaintedPicture m_last; // guarded by m_lock
};

struct AvReadoutInputs
{
    PaintedPicture picture;
    bool avSync = false; // the painter holds pictures for the panel clock now
    uint32_t clock = 0;
    int64_t streamStartUnixMs = 0; // 0: the stream does not say
};

// One readout's samples: how many were taken, and the last few (oldest first), so that a host
// polling less often than once per sample still sees each.
struct ReadoutSeries
{
    static constexpr size_t kRecent = 10;
    uint64_t count = 0;
    std::deque<int64_t> recent;
    void Add(int64_t value);
};

class AvReadoutSampler
{
public:
    // Drift (ms, positive when the picture is behind the sound): only while sound plays and the
    // picture on screen was held for it. Latency (ms from capture to paint): once per picture,
    // when the stream gives its start; a reading over an hour either way means the camera's
    // clock is not ours, and is dropped.
    void Sample(const AvReadoutInputs& in);
    const ReadoutSeries& Drift() const { return m_drift; }
    const ReadoutSeries& Latency() const { return m_latency; }

private:
    ReadoutSeries m_drift, m_latency;
    uint64_t m_latencySerial = 0;
};

int64_t UnixNowMs();
