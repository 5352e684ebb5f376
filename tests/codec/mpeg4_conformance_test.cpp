// Pictures of FFmpeg-encoded streams in the narrow layout, decoded by this
// decoder as the painters call it and by libavcodec, compared by PSNR.
#include "codec/mpeg4/decoder.h"
#include "codec/mpeg4/internal.h"
#include "codec/mpeg4/postfilter.h"
#include "tests/codec/mpeg4_narrow.h"
#include "tests/codec/mpeg4_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace {

using mpeg4test::Picture;

struct StreamCase {
    const char* name;
    bool committed;
};

// Names as in scripts/make-mpeg4-streams.sh; "s" streams are committed.
const StreamCase kStreams[] = {
    {"s160_q0_g25", true},       {"s160_q1_mv4_g250", true}, {"s320_q0_mv4_g25", true},
    {"s320_q1_g250", true},      {"l160_q0_g25", false},     {"l160_q1_mv4_g25", false},
    {"l160_q0_mv4_g250", false}, {"l160_q1_g250", false},    {"l160_q0_g25_ntsc", false},
    {"l168_q0_mv4_g25", false},  {"l168_edge_mv4", false},   {"l320_aq_g25", false},
    {"l320_q1_mv4_aq", false},   {"l320_q0_g250", false},    {"l640_q0_mv4_g25", false},
    {"l640_q1_g250", false},     {"l640_q0_g250", false},    {"l704_q0_mv4_g250", false},
    {"l704_q1_g25", false},
};

bool exists(const std::string& p)
{
    struct stat st;
    return ::stat(p.c_str(), &st) == 0;
}

// The committed copy, or one made now with the script.
std::string stream_path(const StreamCase& c)
{
    if (c.committed)
        return std::string(MPEG4_DATA_DIR) + "/" + c.name + ".m4v";
    std::string p = std::string(MPEG4_GEN_DIR) + "/" + c.name + ".m4v";
    if (!exists(p)) {
        std::string cmd = std::string("sh '") + MPEG4_SCRIPT + "' '" + MPEG4_GEN_DIR + "' '" + MPEG4_NARROW_TOOL +
                          "' " + c.name + " >/dev/null";
        if (std::system(cmd.c_str()) != 0)
            return {};
    }
    return p;
}

struct PlaneStats {
    double sum = 0, min = 99;
    void add(double v)
    {
        sum += v;
        min = std::min(min, v);
    }
};

class Conformance : public ::testing::TestWithParam<std::tuple<StreamCase, int>> {};

TEST_P(Conformance, matches_libavcodec_within_the_profile_bound)
{
    const StreamCase& sc = std::get<0>(GetParam());
    const int profile = std::get<1>(GetParam());
    std::string path = stream_path(sc);
    ASSERT_FALSE(path.empty()) << "could not make " << sc.name;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(mpeg4test::read_file(path, bytes)) << path;
    std::vector<size_t> calls = mpeg4test::split_calls(bytes);
    ASSERT_GT(calls.size(), 1u);
    calls.push_back(bytes.size());

    mpeg4test::ReferenceDecoder ref;
    ASSERT_TRUE(ref.ok());
    std::vector<Picture> expected;
    int frames = 0;
    for (size_t i = 0; i + 1 < calls.size(); ++i)
        ASSERT_TRUE(ref.decode(bytes.data() + calls[i], calls[i + 1] - calls[i], &expected, &frames));
    ASSERT_TRUE(ref.flush(&expected, &frames));
    ASSERT_EQ(expected.size(), calls.size() - 1);

    // The painters' view: the filter runs on the first picture only, and
    // the viewer's smoothed strength starts from its process start value.
    mpeg4::set_smoothed_strength(0);
    DECODER* d = decoder_create_profile(profile);
    ASSERT_NE(d, nullptr);
    const int w = expected[0].width, h = expected[0].height;
    std::vector<uint8_t> out(6 * static_cast<size_t>(d->width) * d->height);
    const bool fits = w <= d->width && h <= d->height;

    PlaneStats st[3];
    for (size_t i = 0; i + 1 < calls.size(); ++i) {
        int used = -1;
        size_t len = calls[i + 1] - calls[i];
        int r = decoder_decode_sized(d, out.data(), bytes.data() + calls[i], len, &used);
        d->postfilter_on = 0;
        if (!fits) {
            // A layer header larger than the creation size is refused.
            EXPECT_EQ(r, 1);
            EXPECT_EQ(used, 4);
            EXPECT_EQ(d->first_call, 1);
            break;
        }
        ASSERT_EQ(r, 0) << sc.name << " picture " << i;
        ASSERT_EQ(used, static_cast<int>(len)) << "picture " << i;
        ASSERT_EQ(d->upscaled, 0);
        ASSERT_EQ(d->width, w);
        const size_t ysz = static_cast<size_t>(w) * h, csz = static_cast<size_t>(w / 2) * (h / 2);
        const uint8_t* e = expected[i].yuv.data();
        st[0].add(mpeg4test::psnr(out.data(), e, ysz));
        st[1].add(mpeg4test::psnr(out.data() + ysz, e + ysz, csz));
        st[2].add(mpeg4test::psnr(out.data() + ysz + csz, e + ysz + csz, csz));
    }
    decoder_destroy(d);
    if (!fits)
        return;

    const double n = static_cast<double>(calls.size() - 1);
    std::printf("[ psnr ] %-18s %-6s %3dx%-3d %4zu pictures  Y mean %6.2f min %6.2f  U mean %6.2f min %6.2f  "
                "V mean %6.2f min %6.2f\n",
                sc.name, profile == DECODER_PROFILE_VIEWER ? "viewer" : "motion", w, h, calls.size() - 1,
                st[0].sum / n, st[0].min, st[1].sum / n, st[1].min, st[2].sum / n, st[2].min);
    // Every picture, not the mean: a drifting reference shows in the worst ones.
    for (int p = 0; p < 3; ++p) {
        const double bound = profile == DECODER_PROFILE_VIEWER ? (p == 0 ? 48.0 : 45.0) : 40.0;
        EXPECT_GE(st[p].min, bound) << "plane " << p;
    }
}

// FFmpeg's own layer header (object layer identifier, control parameters,
// loaded matrices) through the full layer syntax, compared with libavcodec
// on the same bytes; its group-of-VOP header fails the narrow header pass.
TEST(Mpeg4WideHeaders, another_encoders_layer_header_with_loaded_matrices_decodes)
{
    std::vector<uint8_t> raw;
    ASSERT_TRUE(mpeg4test::read_file(std::string(MPEG4_DATA_DIR) + "/raw160_q1_matrix.m4v", raw));
    std::vector<uint8_t> out(6 * 1024 * 768);
    int used = -1;
    {
        DECODER* d = decoder_create();
        std::vector<size_t> calls = mpeg4test::split_calls(raw);
        ASSERT_GT(calls.size(), 1u);
        EXPECT_EQ(decoder_decode_sized(d, out.data(), raw.data(), calls[1], &used), 1);
        decoder_destroy(d);
    }
    mpeg4test::NarrowStream ns;
    std::string why;
    ASSERT_TRUE(mpeg4test::to_narrow(raw, ns, why, true)) << why;
    ns.calls.push_back(ns.bytes.size());
    mpeg4test::ReferenceDecoder ref;
    std::vector<Picture> expected;
    int frames = 0;
    for (size_t i = 0; i + 1 < ns.calls.size(); ++i)
        ASSERT_TRUE(ref.decode(ns.bytes.data() + ns.calls[i], ns.calls[i + 1] - ns.calls[i], &expected, &frames));
    ASSERT_TRUE(ref.flush(&expected, &frames));
    ASSERT_EQ(expected.size(), ns.calls.size() - 1);
    DECODER* d = decoder_create();
    double worst = 99;
    for (size_t i = 0; i + 1 < ns.calls.size(); ++i) {
        size_t len = ns.calls[i + 1] - ns.calls[i];
        ASSERT_EQ(decoder_decode_sized(d, out.data(), ns.bytes.data() + ns.calls[i], len, &used), 0) << i;
        d->postfilter_on = 0;
        EXPECT_EQ(used, static_cast<int>(len));
        const size_t n = 160 * 120 * 3 / 2;
        worst = std::min(worst, mpeg4test::psnr(out.data(), expected[i].yuv.data(), n));
    }
    EXPECT_EQ(d->upscaled, 0);
    decoder_destroy(d);
    std::printf("[ psnr ] raw160_q1_matrix   viewer min (all planes) %.2f\n", worst);
    EXPECT_GE(worst, 40.0);
}

// The adaptive-quantisation streams are what they claim: quantisers change from macroblock to
// macroblock inside I- and P-pictures, so intra prediction meets neighbours of other quantisers.
TEST(Mpeg4AdaptiveQuant, streams_change_the_quantiser_inside_pictures)
{
    for (const char* name : {"l320_aq_g25", "l320_q1_mv4_aq"}) {
        std::string path = stream_path({name, false});
        ASSERT_FALSE(path.empty());
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(mpeg4test::read_file(path, bytes));
        std::vector<size_t> calls = mpeg4test::split_calls(bytes);
        calls.push_back(bytes.size());
        DECODER* d = decoder_create_profile(DECODER_PROFILE_VIEWER);
        std::vector<uint8_t> out(6 * 1024 * 768);
        int varied[2] = {0, 0};
        for (size_t i = 0; i + 1 < calls.size(); ++i) {
            int used;
            ASSERT_EQ(decoder_decode_sized(d, out.data(), bytes.data() + calls[i], calls[i + 1] - calls[i], &used), 0);
            const Mpeg4State& s = *d->state;
            const int n = s.mb_cols * s.mb_rows;
            const bool changes = std::any_of(s.mbs, s.mbs + n, [&](const mpeg4::MbInfo& m) { return m.quant != s.mbs[0].quant; });
            varied[s.vop.coding_type == 0] += changes;
        }
        decoder_destroy(d);
        EXPECT_GT(varied[1], 0) << name << ": no I-picture changes its quantiser";
        EXPECT_GT(varied[0], 0) << name << ": no P-picture changes its quantiser";
    }
}

std::string case_name(const ::testing::TestParamInfo<Conformance::ParamType>& info)
{
    return std::string(std::get<0>(info.param).name) +
           (std::get<1>(info.param) == DECODER_PROFILE_VIEWER ? "_viewer" : "_motion");
}

INSTANTIATE_TEST_SUITE_P(Streams, Conformance,
                         ::testing::Combine(::testing::ValuesIn(kStreams),
                                            ::testing::Values(DECODER_PROFILE_VIEWER, DECODER_PROFILE_MOTION)),
                         case_name);

} // namespace
