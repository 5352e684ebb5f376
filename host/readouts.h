#pragma once
// The viewer's A/V readouts as the host keeps them: every sample of the run, across reloaded
// controls, taken from the control's statistics (the count and the last few of each), and what
// camhost prints and draws of them. No Qt.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// One readout in a control's statistics: `"name":[recent...],"nameCount":N`.
struct ReadoutCounters
{
    uint64_t count = 0;
    std::vector<int64_t> recent; // oldest first
};
ReadoutCounters ReadReadout(std::string_view json, std::string_view name);

struct ReadoutSummary
{
    size_t samples = 0;
    int64_t median = 0, p95 = 0, max = 0; // nearest rank
};

class ReadoutLog
{
public:
    // A new control: its count starts from zero.
    void NewControl() { m_seen = 0; }
    void Take(const ReadoutCounters& counters);
    std::optional<int64_t> Last() const;
    std::optional<ReadoutSummary> Summary() const;

private:
    uint64_t m_seen = 0;
    std::vector<int64_t> m_samples;
};

// "A/V drift: median 12 ms, 95th percentile 30 ms, max 41 ms (30 samples)", or "... no samples".
std::string ReadoutLine(const std::string& what, const std::optional<ReadoutSummary>& summary);
// The overlay's text: "A/V 12 ms · latency 180 ms", a dash for what is not known.
std::string OverlayText(std::optional<int64_t> drift, std::optional<int64_t> latency);

} // namespace host
