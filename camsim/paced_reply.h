#pragma once
// A live stream reply paced by real time: the source's pictures and audio go out when their time
// stamps fall due, the camera's aim and zones (or fixed zone levels) reach the source before each
// picture and the levels it measured go back to the camera, and a stream defect or the fuzzer
// cuts, stalls or ends the reply where the source says. Both streams use it; only the server
// thread that sends the reply touches it.

#include "camsim/camera.h"
#include "camsim/mjpeg_stream.h"
#include "camsim/shared_reply.h"

#include <httplib.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <memory>
#include <string>

namespace camsim {

// Appends the source's next step: audio alone, or a picture (with the audio due by it) of where
// the camera's head points now, carrying the camera's zone levels or measuring its zones.
template <class Source>
void MakeStep(Camera& camera, Source& source, bool alone, std::string& out)
{
    if (alone) {
        source.NextAudio(out);
        return;
    }
    const auto [aimX, aimY] = camera.Aim();
    source.SetAim(aimX, aimY);
    if constexpr (requires(Source& s) { s.MeasureZones(ZoneConfig{}); }) {
        const auto fixed = camera.FixedZoneLevels();
        if (fixed)
            source.SetZoneLevels(*fixed);
        else
            source.MeasureZones(camera.Zones());
        source.Next(out);
        if (!fixed)
            camera.ReportZoneLevels(source.ZoneLevels());
    } else {
        source.Next(out);
    }
}

template <class Source>
class PacedReply
{
public:
    template <class Options>
    PacedReply(Camera& camera, Camera::StreamSlot slot, std::string endpoint,
               const Options& options, StreamFault fault)
        : m_camera(camera), m_slot(std::move(slot)), m_endpoint(std::move(endpoint)),
          m_source(options, fault)
    {
        if constexpr (requires { options.startUnixMs; })
            m_pace = StreamPace(options.startUnixMs);
    }

    // One step of the stream: false ends the reply (and drops the connection).
    bool Step(httplib::DataSink& sink)
    {
        if (!m_started) {
            m_started = true;
            m_pace.Start();
            if constexpr (requires { m_source.Header(); }) {
                m_buffer = m_source.Header();
                return SendStep(sink, m_source.HeaderStop(), 0);
            }
        }
        const bool alone = m_source.AudioGoesAlone();
        const uint32_t due = alone ? m_source.NextAudioDueMs() : m_source.NextTimeMs();
        if (!WaitUntil(due))
            return false;
        m_buffer.clear();
        MakeStep(m_camera, m_source, alone, m_buffer);
        return SendStep(sink, m_source.Stop(), due);
    }

private:
    bool WaitUntil(uint32_t dueMs)
    {
        for (;;) {
            if (m_camera.Stopping())
                return false;
            const auto wait = m_pace.Until(dueMs);
            if (wait.count() == 0)
                return true;
            if (m_camera.WaitStopping(int(wait.count())))
                return false;
        }
    }

    // The buffer, interrupted where `stop` says; `due` is the step's time.
    bool SendStep(httplib::DataSink& sink, const StreamStop& stop, uint32_t due)
    {
        if (stop.at == StreamStop::kNone)
            return Send(sink, 0, m_buffer.size());
        const size_t at = std::min(stop.at, m_buffer.size());
        if (!Send(sink, 0, at))
            return false;
        switch (stop.kind) {
        case StopKind::Close:
            return false;
        case StopKind::End:
            sink.done();
            return true;
        case StopKind::Stall:
            if (m_camera.WaitStopping(stop.stallMs))
                return false;
            break;
        case StopKind::StallWhileFault:
            while (m_camera.FaultFor(m_endpoint).stream == "stall")
                if (m_camera.WaitStopping(20))
                    return false;
            break;
        }
        // Go on from here rather than sending the pictures missed while stalled in one burst.
        m_pace.Resume(due);
        return Send(sink, at, m_buffer.size() - at);
    }

    bool Send(httplib::DataSink& sink, size_t from, size_t count)
    {
        // A zero-length write would end httplib's chunked reply.
        return count == 0 || sink.write(m_buffer.data() + from, count);
    }

    Camera& m_camera;
    Camera::StreamSlot m_slot; // held until the reply is gone
    std::string m_endpoint;
    Source m_source;
    std::string m_buffer;
    bool m_started = false;
    StreamPace m_pace;
};

// The bytes a source sends for `pictures` pictures, in the order a paced reply sends them, cut
// where a defect cuts the stream. Appended to `out`.
template <class Source>
void RecordSource(Source& source, int pictures, std::string& out)
{
    while (source.Pictures() < uint64_t(std::max(0, pictures))) {
        const size_t before = out.size();
        if (source.AudioGoesAlone())
            source.NextAudio(out);
        else
            source.Next(out);
        // A stall only delays the rest; every other stop ends the stream.
        const StreamStop& stop = source.Stop();
        if (stop.at != StreamStop::kNone && stop.kind != StopKind::Stall) {
            out.resize(before + std::min(stop.at, out.size() - before));
            break;
        }
    }
}

// Answers a stream request: the busy page at the user limit, else a paced reply of `Source` with
// the request's "Speed=" (1 to 30, else 30), the simulator's "size=WxH" (else `configuredSize`)
// and the endpoint's stream fault filled into `options`; a fuzzed stream takes the connection's
// own seed.
template <class Source, class Options>
void ServePacedStream(Camera& camera, const httplib::Request& req, httplib::Response& res,
                      const std::string& endpoint, const char* contentType, Options options,
                      const std::string& configuredSize)
{
    constexpr int kFastest = 30;
    Camera::StreamSlot slot = camera.AcquireStreamSlot();
    if (!slot) {
        res.status = 503;
        res.set_content(kPage503, "text/html");
        return;
    }
    const std::string speed = req.get_param_value("Speed");
    int fps = 0;
    auto [end, ec] = std::from_chars(speed.data(), speed.data() + speed.size(), fps);
    const bool whole = ec == std::errc() && end == speed.data() + speed.size() && !speed.empty();
    options.fps = whole && fps >= 1 && fps <= kFastest ? fps : camera.GetConfig().fps;
    if (!ParseMJpegSize(req.get_param_value("size"), options.width, options.height))
        ParseMJpegSize(configuredSize, options.width, options.height);

    if constexpr (requires { options.startUnixMs; })
        if (camera.GetConfig().streamDate)
            options.startUnixMs = UnixNowMs();

    const Fault fault = camera.FaultFor(endpoint);
    StreamFault streamFault;
    streamFault.afterPictures = fault.afterPictures;
    streamFault.audioDelayMs = fault.audioDelayMs;
    if (!ParseStreamDefect(fault.stream, streamFault.defect))
        streamFault.defect = StreamDefect::None;
    if (streamFault.defect == StreamDefect::Fuzz)
        streamFault.seed = camera.NextFuzzSeed(endpoint);

    // The source (and an encoder) opens here, so a failure is the server's error page rather
    // than a cut stream. A client without a fault of its own shares the configuration's encoder.
    if (streamFault.defect == StreamDefect::None && streamFault.audioDelayMs == 0) {
        const std::string key = endpoint + " " + std::to_string(options.width) + "x" +
                                std::to_string(options.height) + "@" + std::to_string(options.fps);
        auto client = camera.Streams().Join(
            key, [&] { return std::make_unique<SharedSource<Source>>(camera, options); });
        auto shared = std::make_shared<SharedReply>(std::move(slot), std::move(client));
        res.set_chunked_content_provider(
            contentType, [shared](size_t, httplib::DataSink& sink) { return shared->Step(sink); });
        return;
    }
    auto reply = std::make_shared<PacedReply<Source>>(camera, std::move(slot), endpoint, options,
                                                      streamFault);
    res.set_chunked_content_provider(
        contentType, [reply](size_t, httplib::DataSink& sink) { return reply->Step(sink); });
}

} // namespace camsim
