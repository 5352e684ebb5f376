#include "host/readouts.h"

#include <algorithm>
#include <cstdlib>

namespace host {

ReadoutCounters ReadReadout(std::string_view json, std::string_view name)
{
    ReadoutCounters c;
    const std::string list = "\"" + std::string(name) + "\":[";
    const std::string count = "\"" + std::string(name) + "Count\":";
    if (const size_t at = json.find(count); at != std::string_view::npos)
        c.count = std::strtoull(std::string(json.substr(at + count.size(), 24)).c_str(), nullptr, 10);
    const size_t at = json.find(list);
    if (at == std::string_view::npos)
        return c;
    const size_t end = json.find(']', at);
    if (end == std::string_view::npos)
        return c;
    const std::string items(json.substr(at + list.size(), end - at - list.size()));
    const char* p = items.c_str();
    while (*p) {
        char* next = nullptr;
        const long long value = std::strtoll(p, &next, 10);
        if (next == p)
            break;
        c.recent.push_back(value);
        p = *next == ',' ? next + 1 : next;
    }
    return c;
}

void ReadoutLog::Take(const ReadoutCounters& c)
{
    if (c.count < m_seen)
        m_seen = 0; // a control the window did not announce
    const uint64_t fresh = std::min<uint64_t>(c.count - m_seen, c.recent.size());
    m_samples.insert(m_samples.end(), c.recent.end() - std::ptrdiff_t(fresh), c.recent.end());
    m_seen = c.count;
}

std::optional<int64_t> ReadoutLog::Last() const
{
    if (m_samples.empty())
        return std::nullopt;
    return m_samples.back();
}

std::optional<ReadoutSummary> ReadoutLog::Summary() const
{
    if (m_samples.empty())
        return std::nullopt;
    std::vector<int64_t> sorted = m_samples;
    std::sort(sorted.begin(), sorted.end());
    const size_t n = sorted.size();
    auto rank = [&](size_t percent) { return sorted[(percent * n + 99) / 100 - 1]; };
    return ReadoutSummary{n, rank(50), rank(95), sorted.back()};
}

std::string ReadoutLine(const std::string& what, const std::optional<ReadoutSummary>& s)
{
    if (!s)
        return what + ": no samples";
    return what + ": median " + std::to_string(s->median) + " ms, 95th percentile " +
           std::to_string(s->p95) + " ms, max " + std::to_string(s->max) + " ms (" +
           std::to_string(s->samples) + " samples)";
}

std::string OverlayText(std::optional<int64_t> drift, std::optional<int64_t> latency)
{
    auto ms = [](std::optional<int64_t> v) {
        return v ? std::to_string(*v) + " ms" : std::string("\u2013");
    };
    return "A/V " + ms(drift) + " \u00b7 latency " + ms(latency);
}

} // namespace host
