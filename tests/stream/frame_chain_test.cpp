#include "stream/frame_chain.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

uint8_t* Block(uint8_t fill, size_t size = 4)
{
    uint8_t* p = AllocFrameData(size);
    std::memset(p, fill, size);
    return p;
}

} // namespace

TEST(FrameChain, RemovesInArrivalOrderAndHandsOwnershipOut)
{
    CFrameChain chain;
    uint8_t* a = Block(1, 10);
    uint8_t* b = Block(2, 20);
    FrameChainNode* na = chain.Add(a, 10, 1000);
    chain.Add(b, 20, 0xFFFFFFFFu);
    EXPECT_EQ(na->data, a);
    EXPECT_EQ(chain.GetCount(), 2);

    uint8_t* data;
    int32_t size;
    uint32_t ts;
    FrameChainNode* n = chain.Remove(&data, &size, &ts);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(data, a);
    EXPECT_EQ(size, 10);
    EXPECT_EQ(ts, 1000u);
    EXPECT_EQ(chain.GetCount(), 1);
    FreeFrame(n);

    n = chain.Remove(&data, &size, &ts);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(data, b);
    EXPECT_EQ(size, 20);
    EXPECT_EQ(ts, 0xFFFFFFFFu); // carried unchanged, full 32 bits
    FreeFrame(n);
    EXPECT_EQ(chain.GetCount(), 0);
}

TEST(FrameChain, RemoveOnEmptyLeavesOutArgumentsUntouched)
{
    CFrameChain chain;
    uint8_t sentinel = 0;
    uint8_t* data = &sentinel;
    int32_t size = -7;
    uint32_t ts = 42;
    EXPECT_EQ(chain.Remove(&data, &size, &ts), nullptr);
    EXPECT_EQ(data, &sentinel);
    EXPECT_EQ(size, -7);
    EXPECT_EQ(ts, 42u);

    // Also after the chain has been used and emptied.
    chain.Add(Block(1), 4, 1);
    FreeFrame(chain.Remove(&data, &size, &ts));
    data = &sentinel;
    EXPECT_EQ(chain.Remove(&data, &size, &ts), nullptr);
    EXPECT_EQ(data, &sentinel);
}

TEST(FrameChain, ClearFreesEverythingAndAnEmptyClearIsHarmless)
{
    CFrameChain chain;
    chain.Clear();
    EXPECT_EQ(chain.GetCount(), 0);
    for (int i = 0; i < 25; ++i)
        chain.Add(Block(uint8_t(i), 1000), 1000, uint32_t(i));
    EXPECT_EQ(chain.GetCount(), 25);
    chain.Clear();
    EXPECT_EQ(chain.GetCount(), 0);
    chain.Clear();
    // The chain is usable after a clear.
    chain.Add(Block(9), 4, 77);
    uint8_t* d;
    int32_t s;
    uint32_t t;
    FrameChainNode* n = chain.Remove(&d, &s, &t);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(t, 77u);
    EXPECT_EQ(d[0], 9);
    FreeFrame(n);
}

TEST(FrameChain, DestroyingAChainFreesLeftoverFrames)
{
    // Under ASan/LSan a leak here fails the run.
    auto* chain = new CFrameChain;
    for (int i = 0; i < 5; ++i)
        chain->Add(Block(1, 64), 64, 0);
    delete chain;
}

TEST(FrameChain, DrainEmptiesTheChainWhateverItHeld)
{
    CFrameChain chain;
    DrainFrameChain(chain);
    for (int i = 0; i < 73; ++i)
        chain.Add(Block(1, 100), 100, uint32_t(i));
    DrainFrameChain(chain);
    EXPECT_EQ(chain.GetCount(), 0);
}

TEST(FrameChain, FrameSizesThatCannotBeHadGiveNullNotACrash)
{
    EXPECT_EQ(AllocFrameData(size_t(1) << 62), nullptr);
    uint8_t* zero = AllocFrameData(0);
    EXPECT_NE(zero, nullptr);
    FreeFrameData(zero);
    FreeFrame(nullptr);
}

TEST(PanelClock, StartsAtZeroAndKeepsTheLastValue)
{
    CPanelClock clock;
    EXPECT_EQ(clock.Get(), 0u);
    clock.Set(0xFFFFFFF0u);
    clock.Set(123456);
    EXPECT_EQ(clock.Get(), 123456u);
}

TEST(VideoCap, NarrowPicturesGetTheLargerCap)
{
    EXPECT_EQ(kInitialVideoCap, 18);
    EXPECT_EQ(VideoCapForPictureWidth(320), 36);
    EXPECT_EQ(VideoCapForPictureWidth(400), 36);
    EXPECT_EQ(VideoCapForPictureWidth(401), 12);
    EXPECT_EQ(VideoCapForPictureWidth(704), 12);
}
