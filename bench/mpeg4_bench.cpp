// This decoder against libavcodec's and libxvidcore's MPEG-4 decoders on the same narrow-layout
// streams: one thread, from memory, no output conversion (libxvidcore hands out its own planes),
// rounds interleaved in one run and the ratios printed.
//
//   mpeg4_bench [seconds per stream, default 6]
//   mpeg4_bench --only ours|motion|lavc|xvid STREAM [passes]   one decoder alone, for profilers
//   mpeg4_bench --sums   checksums of this decoder's output on every conformance stream
// CAMCTL_MPEG4_DSP=c|sse2|avx2 chooses this decoder's kernels.
//
// Streams come from scripts/make-mpeg4-streams.sh (made here when missing).
#include "codec/mpeg4/decoder.h"
#include "codec/mpeg4/dsp.h"
#include "tests/codec/mpeg4_narrow.h"
#include "tests/codec/mpeg4_reference.h"

#include <xvid.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr int kRounds = 7;

struct Stream {
    std::string name;
    std::vector<uint8_t> bytes;
    std::vector<size_t> calls;
    size_t pictures() const { return calls.size() - 1; }
    const uint8_t* call(size_t i) const { return bytes.data() + calls[i]; }
    size_t length(size_t i) const { return calls[i + 1] - calls[i]; }
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

std::vector<uint8_t> g_out(6 * 1024 * 768);

// One pass over the stream with a fresh decoder each; false when a picture is missing.
bool ours_pass(const Stream& s, int profile)
{
    DECODER* d = decoder_create_profile(profile);
    if (!d)
        return false;
    bool good = true;
    for (size_t i = 0; i < s.pictures() && good; ++i) {
        int used;
        good = decoder_decode_sized(d, g_out.data(), s.call(i), s.length(i), &used) == 0;
        d->postfilter_on = 0; // as the painters do
    }
    decoder_destroy(d);
    return good;
}

bool lavc_pass(const Stream& s)
{
    mpeg4test::ReferenceDecoder ref;
    int frames = 0;
    for (size_t i = 0; i < s.pictures(); ++i)
        if (!ref.decode(s.call(i), s.length(i), nullptr, &frames))
            return false;
    return ref.flush(nullptr, &frames) && frames == static_cast<int>(s.pictures());
}

bool xvid_pass(const Stream& s)
{
    xvid_dec_create_t create;
    std::memset(&create, 0, sizeof create);
    create.version = XVID_VERSION;
    create.num_threads = 1;
    if (xvid_decore(nullptr, XVID_DEC_CREATE, &create, nullptr) < 0)
        return false;
    size_t frames = 0;
    for (size_t i = 0; i < s.pictures(); ++i) {
        // A call holds at most the headers and one picture; the headers come back on their own.
        const uint8_t* p = s.call(i);
        int left = static_cast<int>(s.length(i));
        while (left > 0) {
            xvid_dec_frame_t frame;
            std::memset(&frame, 0, sizeof frame);
            frame.version = XVID_VERSION;
            frame.general = XVID_LOWDELAY;
            frame.bitstream = const_cast<uint8_t*>(p);
            frame.length = left;
            frame.output.csp = XVID_CSP_INTERNAL;
            xvid_dec_stats_t stats;
            std::memset(&stats, 0, sizeof stats);
            stats.version = XVID_VERSION;
            int used = xvid_decore(create.handle, XVID_DEC_DECODE, &frame, &stats);
            if (used <= 0)
                break;
            if (stats.type > 0)
                ++frames;
            p += used;
            left -= used;
            if (stats.type > 0)
                break;
        }
    }
    xvid_decore(create.handle, XVID_DEC_DESTROY, nullptr, nullptr);
    return frames == s.pictures();
}

// This thread's CPU time: time slices lost to other processes on a shared machine do not count.
double cpu_seconds()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// CPU seconds per pass: the best of rounds, each at least its share of `secs`, the contenders
// taking turns so that what a neighbour does to the caches lands on all of them alike.
std::vector<double> race(const std::vector<std::function<bool()>>& contenders, double secs)
{
    std::vector<double> best(contenders.size(), 1e30);
    for (auto& c : contenders)
        if (!c())
            return {};
    for (int r = 0; r < kRounds; ++r)
        for (size_t i = 0; i < contenders.size(); ++i) {
            int passes = 0;
            const double start = cpu_seconds();
            double elapsed = 0;
            do {
                contenders[i]();
                ++passes;
                elapsed = cpu_seconds() - start;
            } while (elapsed < secs / kRounds / static_cast<double>(contenders.size()));
            best[i] = std::min(best[i], elapsed / passes);
        }
    return best;
}

int only(const char* who, const char* name, int passes)
{
    Stream s{name, {}, {}};
    if (!load(s))
        return 1;
    const std::string w = who;
    for (int i = 0; i < passes; ++i) {
        bool ok = w == "ours"     ? ours_pass(s, DECODER_PROFILE_VIEWER)
                  : w == "motion" ? ours_pass(s, DECODER_PROFILE_MOTION)
                  : w == "lavc"   ? lavc_pass(s)
                  : w == "xvid"   ? xvid_pass(s)
                                  : false;
        if (!ok)
            return 1;
    }
    return 0;
}

// A 64-bit FNV-1a of every output picture, both profiles, the first picture filtered as the
// painters do: the same before and after a change that must not alter the output.
int sums()
{
    const char* names[] = {"s160_q0_g25",      "s160_q1_mv4_g250", "s320_q0_mv4_g25", "s320_q1_g250",
                           "l160_q0_g25",      "l160_q1_mv4_g25",  "l160_q0_mv4_g250", "l160_q1_g250",
                           "l160_q0_g25_ntsc", "l168_q0_mv4_g25",  "l168_edge_mv4",   "l320_aq_g25",
                           "l320_q1_mv4_aq",   "l320_q0_g250",     "l640_q0_mv4_g25", "l640_q1_g250",
                           "l640_q0_g250",     "l704_q0_mv4_g250", "l704_q1_g25"};
    for (const char* name : names) {
        Stream s{name, {}, {}};
        if (!load(s))
            return 1;
        for (int profile : {DECODER_PROFILE_VIEWER, DECODER_PROFILE_MOTION}) {
            DECODER* d = decoder_create_profile(profile);
            uint64_t h = 1469598103934665603ull;
            int failed = 0;
            for (size_t i = 0; i < s.pictures(); ++i) {
                int used;
                if (decoder_decode_sized(d, g_out.data(), s.call(i), s.length(i), &used) != 0) {
                    ++failed;
                } else {
                    const size_t n = 3 * static_cast<size_t>(d->width) * d->height / 2;
                    for (size_t k = 0; k < n; ++k)
                        h = (h ^ g_out[k]) * 1099511628211ull;
                }
                d->postfilter_on = 0;
            }
            decoder_destroy(d);
            std::printf("%-18s %-6s %016llx%s\n", name, profile == DECODER_PROFILE_VIEWER ? "viewer" : "motion",
                        static_cast<unsigned long long>(h), failed ? " (refused)" : "");
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    xvid_gbl_init_t init;
    std::memset(&init, 0, sizeof init);
    init.version = XVID_VERSION;
    xvid_global(nullptr, XVID_GBL_INIT, &init, nullptr);

    // CAMCTL_MPEG4_DSP=c|sse2|avx2 picks the kernels (the fastest the CPU has by default).
    if (const char* level = std::getenv("CAMCTL_MPEG4_DSP")) {
        for (auto l : {mpeg4::DspLevel::C, mpeg4::DspLevel::Sse2, mpeg4::DspLevel::Avx2})
            if (std::strcmp(level, mpeg4::DspLevelName(l)) == 0 && !mpeg4::DspForce(l))
                return 1;
    }
    if (argc >= 2 && std::strcmp(argv[1], "--sums") == 0)
        return sums();
    if (argc >= 4 && std::strcmp(argv[1], "--only") == 0)
        return only(argv[2], argv[3], argc > 4 ? std::atoi(argv[4]) : 1);
    char* end = nullptr;
    const double secs = argc > 1 ? std::strtod(argv[1], &end) : 6.0;
    if (argc > 2 || (argc > 1 && (end == argv[1] || *end || !(secs > 0)))) {
        std::fprintf(stderr, "usage: mpeg4_bench [seconds per stream] | --only ours|motion|lavc|xvid STREAM "
                             "[passes] | --sums\n");
        return 2;
    }
    const char* names[] = {"l320_q0_g250", "l640_q0_mv4_g25", "l704_q0_mv4_g250"};
    bool ok = true;
    std::printf("%-18s %8s %9s %9s %9s %9s %8s %8s\n", "stream", "pictures", "ours fps", "motion", "lavc fps",
                "xvid fps", "/lavc", "/xvid");
    for (const char* name : names) {
        Stream s{name, {}, {}};
        if (!load(s)) {
            std::printf("%-18s cannot be made\n", name);
            ok = false;
            continue;
        }
        const bool motion_fits = s.name.rfind("l704", 0) != 0;
        std::vector<std::function<bool()>> contenders = {
            [&] { return ours_pass(s, DECODER_PROFILE_VIEWER); },
            [&] { return lavc_pass(s); },
            [&] { return xvid_pass(s); },
        };
        if (motion_fits)
            contenders.push_back([&] { return ours_pass(s, DECODER_PROFILE_MOTION); });
        std::vector<double> t = race(contenders, secs);
        if (!motion_fits && !t.empty())
            t.push_back(1e30);
        if (t.empty()) {
            std::printf("%-18s a decoder failed\n", name);
            ok = false;
            continue;
        }
        const double n = static_cast<double>(s.pictures());
        std::printf("%-18s %8zu %9.0f %9.0f %9.0f %9.0f %8.2f %8.2f\n", name, s.pictures(), n / t[0],
                    motion_fits ? n / t[3] : 0.0, n / t[1], n / t[2], t[1] / t[0], t[2] / t[0]);
    }
    std::printf("fps are pictures per second; /lavc and /xvid = this decoder's rate (viewer profile) over the "
                "peer's; motion is 0 where the stream exceeds 640x480\n");
    return ok ? 0 : 1;
}
