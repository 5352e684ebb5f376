// The motion-zone painter on its own thread, fed from the video queue as the stream client feeds
// it: repaint pacing, the video cap, the picture handed to the panel while the next is decoded.

#include "motion/zone_painter.h"

#include "platform/messages.h"
#include "stream/frame_chain.h"

#include "tests/support/m4v_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

using Stream = testsupport::M4vStream;

Stream Load(const std::string& name)
{
    return testsupport::SplitM4vFile(std::string(MPEG4_DATA_DIR) + "/" + name);
}

void Queue(CFrameChain& chain, const Bytes& frame)
{
    uint8_t* data = AllocFrameData(frame.size());
    ASSERT_NE(data, nullptr);
    std::memcpy(data, frame.data(), frame.size());
    chain.AddOrFree(data, int32_t(frame.size()), 0);
}

bool WaitFor(const std::function<bool()>& done)
{
    for (int i = 0; i < 5000 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return done();
}

} // namespace

TEST(ZonePainter, RepaintsOnePictureInThreeAndSetsTheCapFromTheFirst)
{
    const Stream s = Load("s320_q0_mv4_g25.m4v");
    ASSERT_GE(s.frames.size(), 10u);
    CFrameChain video;
    std::atomic<int> cap{kInitialVideoCap};
    platform::MessageQueue panel;
    CZonePainter painter(video, cap, &panel);

    EXPECT_FALSE(painter.HavePicture());
    painter.Prepare(320, 240, s.config.data(), s.config.size());
    ASSERT_TRUE(painter.DecoderOpen());
    ASSERT_TRUE(painter.Start());
    for (size_t k = 0; k < 10; ++k)
        Queue(video, s.frames[k]);
    ASSERT_TRUE(WaitFor([&] { return painter.Decoded() == 10; }));
    EXPECT_EQ(cap.load(), 18);
    // Pictures 1, 4, 7 and 10 reach the screen.
    EXPECT_EQ(painter.Repaints(), 4u);
    size_t posted = 0;
    for (const auto& m : panel.Pending())
        posted += m.message == WM_ZONE_PICTURE;
    EXPECT_EQ(posted, 4u);
    EXPECT_TRUE(painter.HavePicture());
    EXPECT_EQ(painter.FirstInputLength(), s.config.size() + s.frames[0].size());
    ASSERT_TRUE(painter.Stop(5000));

    // Closed and prepared again: the pacing goes on where it was; the picture outlived the stop.
    painter.CloseDecoder();
    EXPECT_FALSE(painter.DecoderOpen());
    int width = 0;
    painter.WithPicture([&](const uint8_t*, int w, int) { width = w; });
    EXPECT_EQ(width, 320);
    painter.Prepare(320, 240, s.config.data(), s.config.size());
    ASSERT_TRUE(painter.Start());
    for (size_t k = 0; k < 3; ++k)
        Queue(video, s.frames[k]);
    ASSERT_TRUE(WaitFor([&] { return painter.Decoded() == 13; }));
    EXPECT_EQ(painter.Repaints(), 5u); // picture 13
    painter.Shutdown();
}

TEST(ZonePainter, ThePanelReadsWholePicturesWhileThePainterDecodes)
{
    const Stream s = Load("s160_q0_g25.m4v");
    ASSERT_GE(s.frames.size(), 20u);
    CFrameChain video;
    std::atomic<int> cap{kInitialVideoCap};
    CZonePainter painter(video, cap, nullptr);
    painter.Prepare(160, 120, s.config.data(), s.config.size());
    ASSERT_TRUE(painter.Start());

    std::atomic<bool> done{false};
    std::atomic<int> reads{0}, torn{0};
    std::thread panel([&] {
        while (!done) {
            painter.WithPicture([&](const uint8_t* rgb, int w, int h) {
                ++reads;
                // A whole picture of the stream's size, readable to its last byte.
                unsigned sum = 0;
                for (size_t i = 0; i < size_t(w) * h * 3; ++i)
                    sum += rgb[i];
                if (w != 160 || h != 120 || sum == 0)
                    ++torn;
            });
            std::this_thread::yield();
        }
    });
    for (const Bytes& frame : s.frames)
        Queue(video, frame);
    ASSERT_TRUE(WaitFor([&] { return painter.Decoded() == s.frames.size(); }));
    ASSERT_TRUE(WaitFor([&] { return reads.load() > 0; }));
    done = true;
    panel.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(cap.load(), 18);
    painter.Shutdown();
}

TEST(ZonePainter, AFrameThatDoesNotDecodeIsDroppedAndTheNextIsTried)
{
    const Stream s = Load("s320_q0_mv4_g25.m4v");
    ASSERT_GE(s.frames.size(), 3u);
    CFrameChain video;
    std::atomic<int> cap{kInitialVideoCap};
    platform::MessageQueue panel;
    CZonePainter painter(video, cap, &panel);
    painter.Prepare(320, 240, s.config.data(), s.config.size());
    // The broken frame takes the configuration in front of it; the good ones after it go alone.
    const Bytes junk(100, 0x5A);
    Queue(video, junk);
    for (size_t k = 0; k < 3; ++k)
        Queue(video, s.frames[k]);
    ASSERT_TRUE(painter.Start());
    ASSERT_TRUE(WaitFor([&] { return painter.Decoded() == 3; }));
    EXPECT_EQ(painter.DecodeFailures(), 1u);
    EXPECT_EQ(painter.FirstInputLength(), s.config.size() + junk.size());
    EXPECT_EQ(painter.LastInputLength(), s.frames[2].size());
    EXPECT_TRUE(painter.HavePicture());
    EXPECT_FALSE(painter.Finished());
    EXPECT_FALSE(panel.TakeMessage(WM_PLAYER_RESULT, std::chrono::milliseconds(0)));
    painter.Shutdown();
}
