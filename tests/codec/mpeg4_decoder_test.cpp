// The exported call contract on hand-made and recorded streams.
#include "codec/mpeg4/decoder.h"
#include "tests/codec/mpeg4_craft.h"
#include "tests/codec/mpeg4_narrow.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

extern "C" int mpeg4_c_api_check(void);

namespace {

using mpeg4test::BitWriter;

TEST(Mpeg4Decoder, the_interface_works_from_c)
{
    EXPECT_EQ(mpeg4_c_api_check(), 1);
}

struct Dec {
    explicit Dec(int profile) : d(decoder_create_profile(profile)) {}
    ~Dec() { decoder_destroy(d); }
    DECODER* d;
};

constexpr uint8_t kSentinel = 0xEE;

// Decodes from an exact-size heap copy so any over-read is caught by ASan.
int decode(DECODER* d, std::vector<uint8_t>& out, const std::vector<uint8_t>& data, int* used)
{
    std::unique_ptr<uint8_t[]> copy(new uint8_t[data.size()]);
    std::copy(data.begin(), data.end(), copy.get());
    return decoder_decode_sized(d, out.data(), copy.get(), data.size(), used);
}

std::vector<uint8_t> flat_intra_picture(int mbs, int time_bits, int modulo_ones = 0)
{
    BitWriter w;
    mpeg4test::put_vop(w, 0, 4, time_bits, modulo_ones);
    for (int i = 0; i < mbs; ++i)
        mpeg4test::put_flat_intra_mb(w);
    w.stuff();
    return w.bytes;
}

std::vector<uint8_t> config(int width, int height, int quant_type = 0)
{
    BitWriter w;
    mpeg4test::put_config(w, width, height, 25, quant_type);
    return w.bytes;
}

std::vector<uint8_t> join(std::vector<uint8_t> a, const std::vector<uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

bool uniform(const uint8_t* p, size_t n, uint8_t v)
{
    for (size_t i = 0; i < n; ++i)
        if (p[i] != v)
            return false;
    return true;
}

TEST(Mpeg4Decoder, without_headers_the_picture_is_decoded_at_creation_size_and_doubled)
{
    struct {
        int profile, w, h;
        uint8_t grey; // flat DC 1024 through each transform's gain
    } cases[] = {{DECODER_PROFILE_VIEWER, 1024, 768, 128}, {DECODER_PROFILE_MOTION, 640, 480, 129}};
    for (const auto& c : cases) {
        Dec dec(c.profile);
        ASSERT_NE(dec.d, nullptr);
        EXPECT_EQ(dec.d->postfilter_on, c.profile == DECODER_PROFILE_VIEWER ? 1 : 0);
        const size_t doubled = 6 * static_cast<size_t>(c.w) * c.h;
        std::vector<uint8_t> out(doubled + 64, kSentinel);
        int used = -1;
        auto pic = flat_intra_picture((c.w / 16) * (c.h / 16), 1);
        ASSERT_EQ(decode(dec.d, out, pic, &used), 0);
        EXPECT_EQ(used, static_cast<int>(pic.size()));
        EXPECT_EQ(dec.d->upscaled, 1);
        EXPECT_EQ(dec.d->first_call, 0);
        EXPECT_EQ(dec.d->width, c.w);
        EXPECT_EQ(dec.d->postfilter_on, 1); // the motion module sets it in the header pass
        EXPECT_TRUE(uniform(out.data(), 4 * static_cast<size_t>(c.w) * c.h, c.grey));
        EXPECT_TRUE(uniform(out.data() + 4 * static_cast<size_t>(c.w) * c.h, 2 * static_cast<size_t>(c.w) * c.h,
                            c.grey));
        EXPECT_TRUE(uniform(out.data() + doubled, 64, kSentinel));
    }
}

TEST(Mpeg4Decoder, a_layer_header_sets_the_size_and_ends_doubling)
{
    Dec dec(DECODER_PROFILE_VIEWER);
    std::vector<uint8_t> out(6 * 1024 * 768, kSentinel);
    auto data = join(config(320, 240), flat_intra_picture(20 * 15, 5));
    int used = -1;
    ASSERT_EQ(decode(dec.d, out, data, &used), 0);
    EXPECT_EQ(used, static_cast<int>(data.size()));
    EXPECT_EQ(dec.d->width, 320);
    EXPECT_EQ(dec.d->height, 240);
    EXPECT_EQ(dec.d->upscaled, 0);
    EXPECT_TRUE(uniform(out.data(), 115200, 128));
    EXPECT_EQ(out[115200], kSentinel);
}

TEST(Mpeg4Decoder, header_failures_keep_the_first_call_state)
{
    Dec dec(DECODER_PROFILE_VIEWER);
    std::vector<uint8_t> out(6 * 1024 * 768, kSentinel);
    int used = -1;
    // A group-of-VOP header is outside the layout.
    std::vector<uint8_t> gov = {0, 0, 1, 0xB3, 0x00, 0x10, 0x07};
    auto bad = join(join(gov, config(320, 240)), flat_intra_picture(300, 5));
    EXPECT_EQ(decode(dec.d, out, bad, &used), 1);
    EXPECT_EQ(used, 4);
    EXPECT_EQ(dec.d->first_call, 1);
    EXPECT_EQ(out[0], kSentinel);
    // A missing prefix, then a truncated layer header, fail the same way.
    EXPECT_EQ(decode(dec.d, out, {0, 1, 0xB6, 0}, &used), 1);
    auto cut = config(320, 240);
    cut.resize(cut.size() - 3);
    EXPECT_EQ(decode(dec.d, out, cut, &used), 1);
    EXPECT_EQ(dec.d->first_call, 1);
    // User data with no start code after it runs off the end.
    EXPECT_EQ(decode(dec.d, out, {0, 0, 1, 0xB2, 'x', 'y', 0, 0}, &used), 1);
    // The next call parses headers again.
    auto good = join(config(320, 240), flat_intra_picture(300, 5));
    EXPECT_EQ(decode(dec.d, out, good, &used), 0);
    EXPECT_EQ(dec.d->width, 320);
}

// Bit `at` of the layer header (counted after its start code) of config(), flipped.
std::vector<uint8_t> layer_with_bit_flipped(int at, int quant_type = 0)
{
    auto c = config(320, 240, quant_type);
    const size_t bit = 19 * 8 + static_cast<size_t>(at); // after four headers' 19 bytes
    c[bit / 8] ^= static_cast<uint8_t>(0x80 >> (bit % 8));
    return c;
}

TEST(Mpeg4Decoder, headers_outside_the_layout_are_refused_with_the_reason)
{
    const auto pic = flat_intra_picture(300, 5);
    const std::vector<uint8_t> gov = {0, 0, 1, 0xB3, 0x00, 0x10, 0x07};
    const struct {
        std::vector<uint8_t> data;
        const char* why;
    } cases[] = {
        {join(layer_with_bit_flipped(16), pic), "layer shape is not rectangular"},
        {join(layer_with_bit_flipped(65), pic), "interlaced layer"},
        {join(layer_with_bit_flipped(67), pic), "layer with sprites"},
        {join(layer_with_bit_flipped(68), pic), "layer samples are not 8 bits"},
        {join(layer_with_bit_flipped(70), pic), "layer with complexity estimation"},
        {join(layer_with_bit_flipped(72), pic), "data-partitioned layer"},
        {join(layer_with_bit_flipped(73), pic), "scalable layer"},
        {join(gov, join(config(320, 240), pic)), "group of pictures header"},
        {join(config(320, 240), {0, 0, 1, 0xB7, 0, 0, 1, 0xB6}), "start code outside the configuration headers"},
        {join(config(1024, 784), pic), "layer larger than the decoder's creation size"},
        {{0, 0, 2, 0xB6, 0, 0}, "no start code where a header must begin"},
        {flat_intra_picture(300, 1), "picture data does not decode"}, // 300 macroblocks are not 1024x768
    };
    for (const auto& c : cases) {
        Dec dec(DECODER_PROFILE_VIEWER);
        std::vector<uint8_t> out(6 * 1024 * 768);
        int used = -1;
        EXPECT_EQ(decode(dec.d, out, c.data, &used), 1) << c.why;
        ASSERT_NE(decoder_refusal(dec.d), nullptr) << c.why;
        EXPECT_STREQ(decoder_refusal(dec.d), c.why);
    }
    // The narrow layout itself decodes, and a picture clears the reason.
    Dec dec(DECODER_PROFILE_VIEWER);
    std::vector<uint8_t> out(6 * 1024 * 768);
    int used = -1;
    EXPECT_EQ(decode(dec.d, out, join(layer_with_bit_flipped(73), pic), &used), 1);
    EXPECT_EQ(decode(dec.d, out, join(config(320, 240), pic), &used), 0);
    EXPECT_EQ(decoder_refusal(dec.d), nullptr);
}

TEST(Mpeg4Decoder, streams_larger_than_the_creation_size_are_refused)
{
    for (auto [profile, w, h] : {std::tuple{DECODER_PROFILE_VIEWER, 1040, 16}, std::tuple{DECODER_PROFILE_VIEWER, 16, 784},
                                 std::tuple{DECODER_PROFILE_MOTION, 704, 480}, std::tuple{DECODER_PROFILE_VIEWER, 0, 16}}) {
        Dec dec(profile);
        std::vector<uint8_t> out(6 * 1024 * 768, kSentinel);
        int used = -1;
        auto data = join(config(w, h), flat_intra_picture(((w + 15) / 16) * ((h + 15) / 16), 5));
        EXPECT_EQ(decode(dec.d, out, data, &used), 1) << w << "x" << h;
        EXPECT_EQ(used, 4);
        EXPECT_EQ(out[0], kSentinel);
    }
}

TEST(Mpeg4Decoder, odd_sizes_decode_with_partial_macroblocks)
{
    Dec dec(DECODER_PROFILE_MOTION);
    std::vector<uint8_t> out(6 * 640 * 480, kSentinel);
    int used = -1;
    // 40 x 20: three macroblock columns and two rows, the last ones partial.
    auto data = join(config(40, 20), flat_intra_picture(3 * 2, 5));
    ASSERT_EQ(decode(dec.d, out, data, &used), 0);
    const size_t n = 40 * 20 + 2 * 20 * 10;
    EXPECT_TRUE(uniform(out.data(), n, 129));
    EXPECT_EQ(out[n], kSentinel);
}

TEST(Mpeg4Decoder, used_counts_the_stuffing_byte_after_a_byte_aligned_end)
{
    for (int ones = 0; ones < 8; ++ones) {
        Dec dec(DECODER_PROFILE_VIEWER);
        std::vector<uint8_t> out(6 * 1024 * 768);
        BitWriter w;
        mpeg4test::put_config(w, 16, 16);
        mpeg4test::put_vop(w, 0, 4, 5, ones);
        mpeg4test::put_flat_intra_mb(w);
        const bool aligned = w.bits() % 8 == 0;
        const size_t end = (w.bits() + 7) / 8;
        w.stuff();
        EXPECT_EQ(w.bytes.size(), aligned ? end + 1 : end);
        int used = -1;
        ASSERT_EQ(decode(dec.d, out, w.bytes, &used), 0);
        EXPECT_EQ(used, static_cast<int>(w.bytes.size())) << ones;
        // Steady state: a picture whose data is followed by more bytes stops at its stuffing.
        auto next = flat_intra_picture(1, 5, ones);
        auto padded = join(next, {0, 0, 1, 0xB6});
        ASSERT_EQ(decode(dec.d, out, padded, &used), 0);
        EXPECT_EQ(used, static_cast<int>(next.size()));
    }
}

struct Recorded {
    std::vector<uint8_t> bytes;
    std::vector<size_t> calls;
    std::vector<uint8_t> call(size_t i) const
    {
        size_t e = i + 1 < calls.size() ? calls[i + 1] : bytes.size();
        return {bytes.begin() + static_cast<ptrdiff_t>(calls[i]), bytes.begin() + static_cast<ptrdiff_t>(e)};
    }
};

Recorded recorded(const char* name)
{
    Recorded r;
    EXPECT_TRUE(mpeg4test::read_file(std::string(MPEG4_DATA_DIR) + "/" + name, r.bytes));
    r.calls = mpeg4test::split_calls(r.bytes);
    return r;
}

TEST(Mpeg4Decoder, repeated_pictures_and_failed_pictures_leave_the_reference_alone)
{
    Recorded rec = recorded("s160_q0_g25.m4v");
    ASSERT_GT(rec.calls.size(), 3u);
    const size_t frame = 160 * 120 * 3 / 2;
    Dec clean(DECODER_PROFILE_VIEWER), dec(DECODER_PROFILE_VIEWER);
    std::vector<uint8_t> want1(6 * 1024 * 768), want2(6 * 1024 * 768), out(6 * 1024 * 768), prev;
    int used = -1;
    for (DECODER* d : {clean.d, dec.d}) {
        ASSERT_EQ(decode(d, out, rec.call(0), &used), 0);
        d->postfilter_on = 0;
    }
    prev.assign(out.begin(), out.begin() + frame);
    ASSERT_EQ(decode(clean.d, want1, rec.call(1), &used), 0);
    ASSERT_EQ(decode(clean.d, want2, rec.call(2), &used), 0);

    // A P-picture of only not-coded macroblocks, and one with vop_coded 0.
    BitWriter skip;
    mpeg4test::put_vop(skip, 1, 5, 5);
    skip.ones(10 * 8);
    skip.stuff();
    BitWriter uncoded;
    mpeg4test::put_vop(uncoded, 1, 5, 5, 0, 1, 0, 0);
    uncoded.stuff();
    for (const auto& repeat : {skip.bytes, uncoded.bytes}) {
        ASSERT_EQ(decode(dec.d, out, repeat, &used), 0);
        EXPECT_EQ(used, static_cast<int>(repeat.size()));
        EXPECT_TRUE(std::equal(prev.begin(), prev.end(), out.begin()));
    }
    // A repeat that is filtered, then a plain one: the second shows the filtered picture.
    {
        Dec zones(DECODER_PROFILE_MOTION);
        std::vector<uint8_t> filtered(6 * 640 * 480);
        ASSERT_EQ(decode(zones.d, out, rec.call(0), &used), 0);
        std::vector<uint8_t> first(out.begin(), out.begin() + frame);
        ASSERT_EQ(decode(zones.d, filtered, skip.bytes, &used), 0);
        zones.d->postfilter_on = 0;
        ASSERT_EQ(decode(zones.d, out, skip.bytes, &used), 0);
        EXPECT_FALSE(std::equal(first.begin(), first.end(), filtered.begin()));
        EXPECT_TRUE(std::equal(filtered.begin(), filtered.begin() + frame, out.begin()));
    }

    // Every truncation of picture 1 fails cleanly, or decodes when only
    // the stuffing is cut; then the whole picture decodes as if nothing happened.
    auto p1 = rec.call(1);
    for (size_t n = 0; n + 1 < p1.size(); n += 1 + n / 8) {
        std::vector<uint8_t> cut(p1.begin(), p1.begin() + static_cast<ptrdiff_t>(n));
        std::fill(out.begin(), out.begin() + 16, kSentinel);
        EXPECT_EQ(decode(dec.d, out, cut, &used), 1) << n;
        EXPECT_EQ(used, 4);
        EXPECT_EQ(out[0], kSentinel);
    }
    // A steady-state call must begin with the picture start code.
    auto wrong = p1;
    wrong[3] = 0xB5;
    EXPECT_EQ(decode(dec.d, out, wrong, &used), 1);
    EXPECT_EQ(decode(dec.d, out, join(config(160, 120), p1), &used), 1);
    ASSERT_EQ(decode(dec.d, out, p1, &used), 0);
    EXPECT_TRUE(std::equal(want1.begin(), want1.begin() + frame, out.begin()));
    ASSERT_EQ(decode(dec.d, out, rec.call(2), &used), 0);
    EXPECT_TRUE(std::equal(want2.begin(), want2.begin() + frame, out.begin()));
}

TEST(Mpeg4Decoder, a_picture_that_predicts_from_no_decoded_picture_fails)
{
    Recorded rec = recorded("s160_q0_g25.m4v");
    const std::vector<uint8_t> gov = {0, 0, 1, 0xB3, 0x00, 0x10, 0x07};
    const auto first = rec.call(0), p1 = rec.call(1);
    BitWriter uncoded;
    mpeg4test::put_vop(uncoded, 1, 5, 5, 0, 1, 0, 0);
    uncoded.stuff();
    // Another encoder's group-of-VOP header fails the first call; what follows it
    // until a decoded I-picture has nothing to predict from.
    const struct {
        std::vector<uint8_t> before, then;
    } cases[] = {{join(gov, first), p1}, {{}, p1}, {{}, uncoded.bytes}};
    for (const auto& c : cases) {
        Dec dec(DECODER_PROFILE_VIEWER);
        std::vector<uint8_t> out(6 * 1024 * 768, kSentinel);
        int used = -1;
        if (!c.before.empty()) {
            EXPECT_EQ(decode(dec.d, out, c.before, &used), 1);
        }
        EXPECT_EQ(decode(dec.d, out, c.then, &used), 1);
        EXPECT_EQ(used, 4);
        EXPECT_EQ(dec.d->first_call, 1);
        EXPECT_EQ(out[0], kSentinel);
        // The next I-picture starts the stream as usual.
        ASSERT_EQ(decode(dec.d, out, first, &used), 0);
        EXPECT_EQ(decode(dec.d, out, p1, &used), 0);
    }
}

// A 16x16 stream whose first picture is flat, then `tail` as the next picture.
int decode_after_flat(BitWriter& tail, bool intra_tail)
{
    Dec dec(DECODER_PROFILE_VIEWER);
    std::vector<uint8_t> out(6 * 1024 * 768);
    int used = -1;
    auto first = join(config(16, 16), flat_intra_picture(1, 5));
    EXPECT_EQ(decode(dec.d, out, first, &used), 0);
    if (intra_tail)
        return decode(dec.d, out, tail.bytes, &used);
    int r = decode(dec.d, out, tail.bytes, &used);
    if (r) {
        EXPECT_EQ(used, 4);
    }
    return r;
}

void put_escape3(BitWriter& w, int last, int run, int level)
{
    w.put(0x3, 7);
    w.put(0x3, 2);
    w.put(last, 1);
    w.put(run, 6);
    w.put(1, 1);
    w.put(static_cast<uint32_t>(level) & 0xFFF, 12);
    w.put(1, 1);
}

TEST(Mpeg4Decoder, coefficient_overruns_and_unknown_codes_fail_the_picture)
{
    // Intra: a coefficient at position 63, then one more.
    {
        BitWriter w;
        mpeg4test::put_vop(w, 0, 4, 5);
        w.put(1, 1);
        w.put(0, 1);
        w.put(0x2, 5); // cbpy 1000: Y0 coded
        w.put(0x3, 3);
        put_escape3(w, 0, 62, 1);
        w.put(0x2, 2); // (0, 0, 1)
        w.put(0, 1);
        for (int b = 0; b < 3; ++b)
            w.put(0x3, 3);
        w.put(0xF, 4);
        w.stuff();
        EXPECT_EQ(decode_after_flat(w, true), 1);
    }
    // The same block ending at position 63 is fine.
    {
        BitWriter w;
        mpeg4test::put_vop(w, 0, 4, 5);
        w.put(1, 1);
        w.put(0, 1);
        w.put(0x2, 5);
        w.put(0x3, 3);
        put_escape3(w, 1, 62, 1);
        for (int b = 0; b < 3; ++b)
            w.put(0x3, 3);
        w.put(0xF, 4);
        w.stuff();
        EXPECT_EQ(decode_after_flat(w, true), 0);
    }
    // Inter: a run past 63.
    auto inter_mb_y0 = [](BitWriter& w) {
        mpeg4test::put_vop(w, 1, 4, 5);
        w.put(0, 1);   // coded
        w.put(1, 1);   // mcbpc: inter, no chroma
        w.put(0xB, 4); // cbpy code of 7: Y0 coded after inversion
        w.put(1, 1);   // vector (0, 0)
        w.put(1, 1);
    };
    {
        BitWriter w;
        inter_mb_y0(w);
        put_escape3(w, 0, 63, 1);
        w.put(0x7, 4); // (1, 0, 1)
        w.put(0, 1);
        w.stuff();
        EXPECT_EQ(decode_after_flat(w, false), 1);
    }
    // Inter: a pattern that matches no code.
    {
        BitWriter w;
        inter_mb_y0(w);
        w.put(0, 12);
        w.put(0xFFF, 12);
        w.stuff();
        EXPECT_EQ(decode_after_flat(w, false), 1);
    }
    // A macroblock type that matches no code.
    {
        BitWriter w;
        mpeg4test::put_vop(w, 1, 4, 5);
        w.put(0, 1);
        w.put(0, 9);
        w.put(0xFF, 8);
        w.stuff();
        EXPECT_EQ(decode_after_flat(w, false), 1);
    }
}

TEST(Mpeg4Decoder, destroy_rejects_null_and_decode_rejects_missing_arguments)
{
    EXPECT_EQ(decoder_destroy(nullptr), -1);
    EXPECT_EQ(decoder_create_profile(7), nullptr);
    Dec dec(DECODER_PROFILE_MOTION);
    std::vector<uint8_t> out(16);
    int used = -1;
    uint8_t byte = 0;
    EXPECT_EQ(decoder_decode_sized(nullptr, out.data(), &byte, 1, &used), 1);
    EXPECT_EQ(used, 4);
    EXPECT_EQ(decoder_decode_sized(dec.d, out.data(), &byte, 0, &used), 1);
    EXPECT_EQ(decoder_decode(dec.d, nullptr, &byte, &used), 1);
}

TEST(Mpeg4Decoder, the_unsized_call_decodes_a_padded_buffer)
{
    Dec dec(DECODER_PROFILE_VIEWER);
    std::vector<uint8_t> out(6 * 1024 * 768);
    auto data = join(config(32, 32), flat_intra_picture(4, 5));
    data.resize(data.size() + 8, 0);
    int used = -1;
    ASSERT_EQ(decoder_decode(dec.d, out.data(), data.data(), &used), 0);
    EXPECT_EQ(used, static_cast<int>(data.size() - 8));
}

} // namespace
