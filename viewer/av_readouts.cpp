#include "viewer/av_readouts.h"

#include <chrono>
#include <cstdlib>

void CPaintRecord::Note(uint32_t timestamp, bool paced)
{
    const int64_t now = UnixNowMs();
    const std::lock_guard lock(m_lock);
    m_last = {true, timestamp, now, paced, m_last.serial + 1};
}

void CPaintRecord::Forget()
{
    const std::lock_guard lock(m_lock);
    m_last.valid = false;
}

PaintedPicture CPaintRecord::Last() const
{
    const std::lock_guard lock(m_lock);
    return m_last;
}

void ReadoutSeries::Add(int64_t value)
{
    ++count;
    recent.push_back(value);
    if (recent.size() > kRecent)
        recent.pop_front();
}

void AvReadoutSampler::Sample(const AvReadoutInputs& in)
{
    const PaintedPicture& p = in.picture;
    if (!p.valid)
        return;
    // Stamps are 32-bit milliseconds that may wrap; the difference is small either way.
    if (in.avSync && p.paced)
        m_drift.Add(int32_t(in.clock - p.timestamp));
    if (in.streamStartUnixMs > 0 && p.serial != m_latencySerial) {
        m_latencySerial = p.serial;
        const int64_t latency = p.atUnixMs - (in.streamStartUnixMs + int64_t(p.timestamp));
        if (std::llabs(latency) <= 3600000)
            m_latency.Add(latency);
    }
}

int64_t UnixNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}
