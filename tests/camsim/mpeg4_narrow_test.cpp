#include "camsim/mpeg4_narrow.h"
#include "camsim/scene.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

using namespace camsim;

namespace {

// Written and read here independently of the code under test, field by field.
struct Bits
{
    std::vector<uint8_t> bytes;
    int used = 8;
    void Put(int n, uint32_t v)
    {
        for (int i = n - 1; i >= 0; --i) {
            if (used == 8) {
                bytes.push_back(0);
                used = 0;
            }
            bytes.back() |= uint8_t(((v >> i) & 1) << (7 - used));
            ++used;
        }
    }
    void Stuff()
    {
        Put(1, 0);
        while (used != 8)
            Put(1, 1);
    }
};

struct Reader
{
    const std::vector<uint8_t>& bytes;
    size_t pos = 0; // in bits
    uint32_t Get(int n)
    {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++pos)
            v = (v << 1) | ((bytes.at(pos / 8) >> (7 - pos % 8)) & 1);
        return v;
    }
};

std::vector<uint8_t> Code(uint8_t value)
{
    return {0, 0, 1, value};
}

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The layer header fields that reach the output, and the decorations the rewrite drops or
// refuses, as ISO/IEC 14496-2 lays them out.
struct Vol
{
    unsigned type = 1, aspect = 1, resolution = 30, width = 320, height = 240, quantType = 0;
    int verid = 0; // 0: no object layer identifier
    bool control = false, vbv = false;
    unsigned chroma = 1, lowDelay = 1;
    bool fixedRate = false;
    unsigned shape = 0, interlaced = 0, obmcDisable = 1, sprite = 0, not8Bit = 0;
    unsigned loadMatrix = 0, quarterSample = 0, complexityDisable = 1, resyncDisable = 1;
    unsigned partitioned = 0, newpred = 0, scalability = 0;

    std::vector<uint8_t> Bytes() const
    {
        Bits b;
        b.Put(1, 0);
        b.Put(8, type);
        b.Put(1, verid != 0);
        if (verid) {
            b.Put(4, unsigned(verid));
            b.Put(3, 3);
        }
        b.Put(4, aspect);
        if (aspect == 15)
            b.Put(16, 0x0101);
        b.Put(1, control);
        if (control) {
            b.Put(2, chroma);
            b.Put(1, lowDelay);
            b.Put(1, vbv);
            if (vbv)
                for (int n : {15, 1, 15, 1, 15, 1, 3, 11, 1, 15, 1})
                    b.Put(n, n == 1 ? 1 : 0x155);
        }
        b.Put(2, shape);
        b.Put(1, 1);
        b.Put(16, resolution);
        b.Put(1, 1);
        b.Put(1, fixedRate);
        if (fixedRate)
            b.Put(5, 1); // 5 bits for a resolution of 30
        b.Put(1, 1);
        b.Put(13, width);
        b.Put(1, 1);
        b.Put(13, height);
        b.Put(1, 1);
        b.Put(1, interlaced);
        b.Put(1, obmcDisable);
        b.Put(verid > 1 ? 2 : 1, sprite);
        b.Put(1, not8Bit);
        b.Put(1, quantType);
        if (quantType) {
            b.Put(1, loadMatrix);
            if (loadMatrix)
                b.Put(24, 0x123456); // a token of a matrix
            b.Put(1, 0);
        }
        if (verid > 1)
            b.Put(1, quarterSample);
        b.Put(1, complexityDisable);
        b.Put(1, resyncDisable);
        b.Put(1, partitioned);
        if (verid > 1) {
            b.Put(1, newpred);
            b.Put(1, 0);
        }
        b.Put(1, scalability);
        b.Stuff();
        return Cat({Code(0x00), Code(0x20), b.bytes});
    }
};

std::vector<uint8_t> Config(const Vol& vol, std::vector<uint8_t> extra = {})
{
    return Cat({Code(0xB0), {0x03}, Code(0xB5), {0x09}, vol.Bytes(), extra});
}

std::optional<std::vector<uint8_t>> Narrow(const std::vector<uint8_t>& in)
{
    return NarrowConfigHeaders(in.data(), in.size());
}

// Checks the narrow layout of a rewritten configuration and returns its layer header fields
// (after the start code) as read at the layout's fixed bit positions.
struct NarrowLayer
{
    uint32_t type = 0, aspect = 0, resolution = 0, width = 0, height = 0, quantType = 0;
};

NarrowLayer CheckNarrow(const std::vector<uint8_t>& out, const std::vector<uint8_t>& userData)
{
    NarrowLayer l;
    // Sequence and its profile byte, visual object and exactly two bytes, video object, layer.
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 4), Code(0xB0));
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 5, out.begin() + 9), Code(0xB5));
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 11, out.begin() + 15), Code(0x00));
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 15, out.begin() + 19), Code(0x20));
    // The visual object header: identifier, verid 1, priority 1, video, no signal type, stuffing.
    EXPECT_EQ(out[9], 0x89);
    EXPECT_EQ(out[10], 0x13);
    const size_t layerEnd = 19 + size_t(kNarrowLayerHeaderBits) / 8;
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + long(layerEnd), out.end()), userData);

    std::vector<uint8_t> layer(out.begin() + 19, out.begin() + long(layerEnd));
    Reader r{layer};
    EXPECT_EQ(r.Get(1), 0u); // random_accessible_vol as written
    l.type = r.Get(8);
    EXPECT_EQ(r.Get(1), 0u) << "is_object_layer_identifier";
    l.aspect = r.Get(4);
    EXPECT_EQ(r.Get(1), 0u) << "vol_control_parameters";
    EXPECT_EQ(r.Get(2), 0u) << "shape";
    EXPECT_EQ(r.Get(1), 1u) << "marker";
    l.resolution = r.Get(16);
    EXPECT_EQ(r.Get(1), 1u) << "marker";
    EXPECT_EQ(r.Get(1), 0u) << "fixed_vop_rate";
    EXPECT_EQ(r.Get(1), 1u) << "marker";
    l.width = r.Get(13);
    EXPECT_EQ(r.Get(1), 1u) << "marker";
    l.height = r.Get(13);
    EXPECT_EQ(r.Get(1), 1u) << "marker";
    EXPECT_EQ(r.Get(4), 0b0100u) << "interlaced, obmc_disable, sprite_enable, not_8_bit";
    l.quantType = r.Get(1);
    // The rest: matrix flags when quant_type is 1, the four tool flags, the stuffing.
    EXPECT_EQ(r.Get(10), l.quantType ? 0b0011000111u : 0b1100011111u);
    EXPECT_EQ(r.pos, size_t(kNarrowLayerHeaderBits));
    return l;
}

struct Encoded
{
    std::vector<uint8_t> extradata;
    std::vector<std::vector<uint8_t>> frames;
};

Encoded EncodeScene(int width, int height, int pictures, int gop, bool mpegQuant)
{
    Encoded e;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->width = width;
    ctx->height = height;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->time_base = {1, 25};
    ctx->gop_size = gop;
    ctx->max_b_frames = 0;
    ctx->thread_count = 1;
    ctx->bit_rate = 300000;
    ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set_int(ctx->priv_data, "mpeg_quant", mpegQuant, 0);
    EXPECT_EQ(avcodec_open2(ctx, codec, nullptr), 0);
    e.extradata.assign(ctx->extradata, ctx->extradata + ctx->extradata_size);
    AVFrame* frame = av_frame_alloc();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    av_frame_get_buffer(frame, 0);
    AVPacket* packet = av_packet_alloc();
    Scene scene(width, height);
    for (int k = 0; k < pictures; ++k) {
        av_frame_make_writable(frame);
        RgbToYuv420(scene.Render(uint32_t(k * 40), uint64_t(k)), width, height,
                    {frame->data[0], frame->linesize[0]}, {frame->data[1], frame->linesize[1]},
                    {frame->data[2], frame->linesize[2]});
        frame->pts = k;
        EXPECT_EQ(avcodec_send_frame(ctx, frame), 0);
        EXPECT_EQ(avcodec_receive_packet(ctx, packet), 0);
        e.frames.emplace_back(packet->data, packet->data + packet->size);
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    return e;
}

// Each picture's planes, as libavcodec decodes the stream.
std::vector<std::vector<uint8_t>> Decode(const std::vector<uint8_t>& config,
                                         const std::vector<std::vector<uint8_t>>& frames)
{
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->extradata =
        static_cast<uint8_t*>(av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::copy(config.begin(), config.end(), ctx->extradata);
    ctx->extradata_size = int(config.size());
    ctx->thread_count = 1;
    EXPECT_EQ(avcodec_open2(ctx, codec, nullptr), 0);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<std::vector<uint8_t>> pictures;
    auto drain = [&] {
        while (avcodec_receive_frame(ctx, frame) == 0) {
            std::vector<uint8_t> planes;
            for (int p = 0; p < 3; ++p) {
                const int w = p ? frame->width / 2 : frame->width;
                const int h = p ? frame->height / 2 : frame->height;
                for (int y = 0; y < h; ++y)
                    planes.insert(planes.end(), frame->data[p] + y * frame->linesize[p],
                                  frame->data[p] + y * frame->linesize[p] + w);
            }
            pictures.push_back(std::move(planes));
        }
    };
    for (const auto& f : frames) {
        av_new_packet(packet, int(f.size()));
        std::copy(f.begin(), f.end(), packet->data);
        EXPECT_EQ(avcodec_send_packet(ctx, packet), 0);
        av_packet_unref(packet);
        drain();
    }
    avcodec_send_packet(ctx, nullptr);
    drain();
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
    return pictures;
}

bool HasStartCode(const std::vector<uint8_t>& data, uint8_t value)
{
    for (size_t i = 0; i + 3 < data.size(); ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == value)
            return true;
    return false;
}

} // namespace

TEST(Mpeg4Narrow, LibavcodecHeadersBecomeTheNarrowLayoutAndDecodeToTheSamePictures)
{
    for (bool mpegQuant : {false, true}) {
        SCOPED_TRACE(mpegQuant ? "MPEG quantisation" : "H.263 quantisation");
        const Encoded e = EncodeScene(176, 144, 12, 5, mpegQuant);
        // What the rewrite is for: libavcodec writes an object layer identifier.
        const std::vector<uint8_t> layerCode = Code(0x20), userCode = Code(0xB2);
        const auto vol =
            std::search(e.extradata.begin(), e.extradata.end(), layerCode.begin(), layerCode.end());
        ASSERT_NE(vol, e.extradata.end());
        ASSERT_EQ((vol[5] >> 6) & 1, 1) << "is_object_layer_identifier";

        const auto narrow = Narrow(e.extradata);
        ASSERT_TRUE(narrow);
        // libavcodec's user data (its name and version) goes along unchanged.
        const auto user =
            std::search(e.extradata.begin(), e.extradata.end(), userCode.begin(), userCode.end());
        const NarrowLayer l = CheckNarrow(*narrow, std::vector<uint8_t>(user, e.extradata.end()));
        EXPECT_EQ(l.type, 1u); // Simple
        EXPECT_EQ(l.resolution, 25u);
        EXPECT_EQ(l.width, 176u);
        EXPECT_EQ(l.height, 144u);
        EXPECT_EQ(l.quantType, mpegQuant ? 1u : 0u);

        std::vector<std::vector<uint8_t>> stripped;
        for (size_t k = 0; k < e.frames.size(); ++k) {
            const auto& f = e.frames[k];
            stripped.push_back(StripGroupOfVop(f.data(), f.size()));
            const auto& s = stripped.back();
            EXPECT_FALSE(HasStartCode(s, 0xB3)) << k;
            ASSERT_GE(s.size(), 4u);
            EXPECT_EQ(std::vector<uint8_t>(s.begin(), s.begin() + 4), Code(0xB6)) << k;
            // The picture's own bytes stay as they were.
            EXPECT_TRUE(std::equal(s.rbegin(), s.rend(), f.rbegin())) << k;
            EXPECT_EQ(HasStartCode(f, 0xB3), k % 5 == 0) << k;
        }
        const auto want = Decode(e.extradata, e.frames);
        const auto got = Decode(*narrow, stripped);
        ASSERT_EQ(want.size(), e.frames.size());
        ASSERT_EQ(got.size(), want.size());
        for (size_t k = 0; k < want.size(); ++k)
            EXPECT_TRUE(got[k] == want[k]) << "picture " << k;
    }
}

TEST(Mpeg4Narrow, DescriptiveFieldsAreDroppedAndMissingHeadersSupplied)
{
    Vol plain;
    const auto base = Narrow(Config(plain));
    ASSERT_TRUE(base);
    const NarrowLayer l = CheckNarrow(*base, {});
    EXPECT_EQ(l.aspect, 1u);
    EXPECT_EQ(l.resolution, 30u);
    EXPECT_EQ(l.width * 10000 + l.height, 3200240u);
    EXPECT_EQ((*base)[4], 0x03); // the profile and level as given

    // Identifier, control parameters with VBV, a fixed picture rate: the same narrow header.
    Vol decorated;
    decorated.verid = 2;
    decorated.control = true;
    decorated.vbv = true;
    decorated.fixedRate = true;
    const auto same = Narrow(Config(decorated));
    ASSERT_TRUE(same);
    EXPECT_EQ(*same, *base);

    // A layer alone gets a sequence (Simple, level 1) and a visual object; group-of-VOP and
    // sequence end codes in the configuration go, user data stays, a picture ends the headers.
    const std::vector<uint8_t> user = Cat({Code(0xB2), {'h', 'i', 0}});
    const auto bare =
        Narrow(Cat({plain.Bytes(), Code(0xB3), {1, 2, 3}, user, Code(0xB1), Code(0xB6), {0x10}}));
    ASSERT_TRUE(bare);
    CheckNarrow(*bare, user);
    EXPECT_EQ((*bare)[4], 0x01);
}

TEST(Mpeg4Narrow, RefusesWhatThePictureBitsWouldDependOn)
{
    using Spoil = void (*)(Vol&);
    const std::pair<const char*, Spoil> cases[] = {
        {"interlaced", [](Vol& v) { v.interlaced = 1; }},
        {"rectangular shape", [](Vol& v) { v.shape = 2; }},
        {"obmc", [](Vol& v) { v.obmcDisable = 0; }},
        {"sprite", [](Vol& v) { v.sprite = 1; }},
        {"not 8 bit", [](Vol& v) { v.not8Bit = 1; }},
        {"loaded matrix", [](Vol& v) { v.quantType = 1, v.loadMatrix = 1; }},
        {"quarter sample", [](Vol& v) { v.verid = 2, v.quarterSample = 1; }},
        {"newpred", [](Vol& v) { v.verid = 2, v.newpred = 1; }},
        {"complexity estimation", [](Vol& v) { v.complexityDisable = 0; }},
        {"resync markers", [](Vol& v) { v.resyncDisable = 0; }},
        {"data partitioning", [](Vol& v) { v.partitioned = 1; }},
        {"scalability", [](Vol& v) { v.scalability = 1; }},
        {"extended aspect ratio", [](Vol& v) { v.aspect = 15; }},
        {"B-pictures", [](Vol& v) { v.control = true, v.lowDelay = 0; }},
        {"4:2:2", [](Vol& v) { v.control = true, v.chroma = 2; }},
        {"fine granularity", [](Vol& v) { v.type = 0x12; }},
        {"zero width", [](Vol& v) { v.width = 0; }},
        {"zero resolution", [](Vol& v) { v.resolution = 0; }},
    };
    for (const auto& [name, spoil] : cases) {
        Vol v;
        spoil(v);
        EXPECT_FALSE(Narrow(Config(v))) << name;
    }

    Vol v;
    const std::vector<uint8_t> good = Config(v);
    std::vector<uint8_t> cut = good;
    cut.resize(cut.size() - 3);
    EXPECT_FALSE(Narrow(cut)) << "layer header cut short";
    EXPECT_FALSE(Narrow(Config(v, v.Bytes()))) << "two layers";
    EXPECT_FALSE(Narrow(Cat({Code(0xB0), {1}, Code(0xB5), {0x09}}))) << "no layer";
    EXPECT_FALSE(Narrow(Cat({Code(0xB0), {1}, Code(0xB5), {0x11}, v.Bytes()})))
        << "still texture object";
    EXPECT_FALSE(Narrow(Config(v, Code(0xB4)))) << "unknown start code";
    EXPECT_FALSE(Narrow(Cat({{0x55}, good}))) << "bytes before the first start code";
    EXPECT_FALSE(NarrowConfigHeaders(nullptr, 0));
}

TEST(Mpeg4Narrow, StrippingRemovesOnlyGroupOfVopHeaders)
{
    const std::vector<uint8_t> vop = Cat({Code(0xB6), {0x12, 0x00, 0x00, 0x02, 0x34}});
    const std::vector<uint8_t> gov = Cat({Code(0xB3), {0x00, 0x10, 0x60}});
    auto strip = [](const std::vector<uint8_t>& f) { return StripGroupOfVop(f.data(), f.size()); };
    EXPECT_EQ(strip(Cat({gov, vop})), vop);
    EXPECT_EQ(strip(vop), vop);
    EXPECT_EQ(strip(Cat({vop, gov, vop})), Cat({vop, vop}));
    EXPECT_EQ(strip(Cat({vop, gov})), vop);
    EXPECT_EQ(strip(Cat({gov, gov})), std::vector<uint8_t>{});
    const std::vector<uint8_t> odd = {0x00, 0x00, 0x01};
    EXPECT_EQ(strip(odd), odd);
}
