#include "tests/codec/mpeg4_reference.h"

#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace mpeg4test {

struct ReferenceDecoder::Impl {
    AVCodecContext* ctx = nullptr;
    AVPacket* pkt = nullptr;
    AVFrame* frame = nullptr;

    bool drain(std::vector<Picture>* keep, int* frames)
    {
        for (;;) {
            int r = avcodec_receive_frame(ctx, frame);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                return true;
            if (r < 0)
                return false;
            ++*frames;
            if (keep) {
                Picture p;
                p.width = frame->width;
                p.height = frame->height;
                int cw = p.width / 2, ch = p.height / 2;
                p.yuv.resize(static_cast<size_t>(p.width) * p.height + 2 * static_cast<size_t>(cw) * ch);
                uint8_t* o = p.yuv.data();
                for (int y = 0; y < p.height; ++y, o += p.width)
                    std::memcpy(o, frame->data[0] + y * frame->linesize[0], p.width);
                for (int pl = 1; pl < 3; ++pl)
                    for (int y = 0; y < ch; ++y, o += cw)
                        std::memcpy(o, frame->data[pl] + y * frame->linesize[pl], cw);
                keep->push_back(std::move(p));
            }
            av_frame_unref(frame);
        }
    }
};

ReferenceDecoder::ReferenceDecoder() : impl_(new Impl)
{
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
    if (!codec)
        return;
    impl_->ctx = avcodec_alloc_context3(codec);
    impl_->pkt = av_packet_alloc();
    impl_->frame = av_frame_alloc();
    if (!impl_->ctx || !impl_->pkt || !impl_->frame)
        return;
    impl_->ctx->thread_count = 1;
    if (avcodec_open2(impl_->ctx, codec, nullptr) < 0)
        avcodec_free_context(&impl_->ctx);
}

ReferenceDecoder::~ReferenceDecoder()
{
    av_frame_free(&impl_->frame);
    av_packet_free(&impl_->pkt);
    avcodec_free_context(&impl_->ctx);
}

bool ReferenceDecoder::ok() const { return impl_->ctx && impl_->pkt && impl_->frame; }

bool ReferenceDecoder::decode(const uint8_t* data, size_t size, std::vector<Picture>* keep, int* frames)
{
    // The packet borrows the caller's bytes; libavcodec wants padding, so copy.
    if (av_new_packet(impl_->pkt, static_cast<int>(size)) < 0)
        return false;
    std::memcpy(impl_->pkt->data, data, size);
    int r = avcodec_send_packet(impl_->ctx, impl_->pkt);
    av_packet_unref(impl_->pkt);
    if (r < 0)
        return false;
    return impl_->drain(keep, frames);
}

bool ReferenceDecoder::decode(const uint8_t* data, size_t size, const Visit& visit)
{
    if (av_new_packet(impl_->pkt, static_cast<int>(size)) < 0)
        return false;
    std::memcpy(impl_->pkt->data, data, size);
    int r = avcodec_send_packet(impl_->ctx, impl_->pkt);
    av_packet_unref(impl_->pkt);
    if (r < 0)
        return false;
    AVFrame* f = impl_->frame;
    while ((r = avcodec_receive_frame(impl_->ctx, f)) == 0) {
        const uint8_t* planes[3] = {f->data[0], f->data[1], f->data[2]};
        visit(planes, f->linesize, f->width, f->height);
        av_frame_unref(f);
    }
    return r == AVERROR(EAGAIN) || r == AVERROR_EOF;
}

bool ReferenceDecoder::flush(std::vector<Picture>* keep, int* frames)
{
    if (avcodec_send_packet(impl_->ctx, nullptr) < 0)
        return false;
    return impl_->drain(keep, frames);
}

double psnr(const uint8_t* a, const uint8_t* b, size_t n)
{
    double se = 0;
    for (size_t i = 0; i < n; ++i) {
        double d = static_cast<double>(a[i]) - b[i];
        se += d * d;
    }
    if (se == 0)
        return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(n) / se);
}

} // namespace mpeg4test
