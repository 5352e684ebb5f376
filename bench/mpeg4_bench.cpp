// This decoder against libavcodec's mpeg4 decoder on the same narrow-layout
// streams, one thread, from memory, no output conversion, in one run.
//
//   mpeg4_bench [seconds per decoder and stream, default 5]
//
// Streams come from scripts/make-mpeg4-streams.sh (made here when missing).
#include "codec/mpeg4/decoder.h"
#include "tests/codec/mpeg4_narrow.h"
#include "tests/codec/mpeg4_reference.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 5;

struct Stream {
    const char* name;
    std::vector<uint8_t> bytes;
    std::vector<size_t> calls;
};

bool load(Stream& s)
{
    std::string path = std::string(MPEG4_BENCH_STREAMS) + "/" + s.name + ".m4v";
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        std::string cmd = std::string("sh '") + MPEG4_SCRIPT + "' '" + MPEG4_BENCH_STREAMS + "' '" +
                          MPEG4_NARROW_TOOL + "' " + s.name + " >/dev/null";
        if (std::system(cmd.c_str()) != 0)
            return false;
    }
    if (!mpeg4test::read_file(path, s.bytes))
        return false;
    s.calls = mpeg4test::split_calls(s.bytes);
    s.calls.push_back(s.bytes.size());
    return s.calls.size() > 1;
}

// Pictures per second over whole passes of the stream, for at least `secs`.
template <typename Pass>
double measure(double secs, size_t pictures, Pass&& pass)
{
    pass(); // warm up
    size_t done = 0;
    auto start = Clock::now();
    double elapsed = 0;
    do {
        if (!pass())
            return 0;
        done += pictures;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < secs);
    return static_cast<double>(done) / elapsed;
}

} // namespace

int main(int argc, char** argv)
{
    double secs = argc > 1 ? std::atof(argv[1]) : 5.0;
    Stream streams[] = {{"l320_q0_g250", {}, {}}, {"l640_q0_mv4_g25", {}, {}}, {"l704_q0_mv4_g250", {}, {}}};
    std::vector<uint8_t> out(6 * 1024 * 768);
    bool ok = true;
    std::printf("%-18s %9s %10s %10s %10s %8s\n", "stream", "pictures", "ours fps", "motion fps", "lavc fps",
                "ratio");
    for (Stream& s : streams) {
        if (!load(s)) {
            std::printf("%-18s cannot be made\n", s.name);
            ok = false;
            continue;
        }
        const size_t pictures = s.calls.size() - 1;
        auto ours = [&](int profile) {
            return [&, profile]() {
                DECODER* d = decoder_create_profile(profile);
                if (!d)
                    return false;
                bool good = true;
                for (size_t i = 0; i < pictures && good; ++i) {
                    int used;
                    good = decoder_decode_sized(d, out.data(), s.bytes.data() + s.calls[i], s.calls[i + 1] - s.calls[i],
                                                &used) == 0;
                    d->postfilter_on = 0; // as the painters do
                }
                decoder_destroy(d);
                return good;
            };
        };
        auto lavc_pass = [&]() {
            mpeg4test::ReferenceDecoder ref;
            int frames = 0;
            for (size_t i = 0; i < pictures; ++i)
                if (!ref.decode(s.bytes.data() + s.calls[i], s.calls[i + 1] - s.calls[i], nullptr, &frames))
                    return false;
            return ref.flush(nullptr, &frames) && frames == static_cast<int>(pictures);
        };
        // Interleaved rounds, best of each: the machine is shared, and a
        // neighbour's burst should not land on one decoder only.
        double viewer = 0, motion = 0, lavc = 0;
        for (int round = 0; round < kRounds; ++round) {
            viewer = std::max(viewer, measure(secs / kRounds, pictures, ours(DECODER_PROFILE_VIEWER)));
            // 0 where the stream exceeds the motion module's 640x480.
            motion = std::max(motion, measure(secs / kRounds, pictures, ours(DECODER_PROFILE_MOTION)));
            lavc = std::max(lavc, measure(secs / kRounds, pictures, lavc_pass));
        }
        std::printf("%-18s %9zu %10.0f %10.0f %10.0f %8.2f\n", s.name, pictures, viewer, motion, lavc,
                    lavc > 0 ? viewer / lavc : 0.0);
        if (viewer <= 0 || lavc <= 0)
            ok = false;
    }
    std::printf("ratio = this decoder (viewer profile) / libavcodec; motion fps is 0 where the stream exceeds 640x480\n");
    return ok ? 0 : 1;
}
