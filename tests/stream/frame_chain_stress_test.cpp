// One producer and one consumer per chain, as the stream clients and painters use them, plus a
// watcher reading counts; run under TSan in CI.

#include "stream/frame_chain.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

TEST(FrameChainStress, ProducerAndConsumerLoseNothingAndKeepOrder)
{
    constexpr uint32_t kFrames = 100000;
    constexpr int kLimit = 10; // the producer drops beyond this, like the Motion-JPEG client
    CFrameChain chain;
    std::atomic<bool> producerDone{false};
    std::atomic<uint32_t> dropped{0};

    std::thread producer([&] {
        for (uint32_t i = 0; i < kFrames; ++i) {
            int32_t size = int32_t(8 + i % 64);
            uint8_t* data = AllocFrameData(size_t(size));
            std::memcpy(data, &i, sizeof i);
            std::memset(data + sizeof i, uint8_t(i), size_t(size) - sizeof i);
            if (chain.GetCount() >= kLimit) {
                FreeFrameData(data);
                ++dropped;
                std::this_thread::yield();
                continue;
            }
            chain.Add(data, size, i);
        }
        producerDone = true;
    });

    std::atomic<bool> stopWatcher{false};
    std::thread watcher([&] {
        while (!stopWatcher.load()) {
            int n = chain.GetCount();
            // Producer tests and adds in two steps, so one frame may slip past the limit.
            EXPECT_LE(n, kLimit + 1);
            EXPECT_GE(n, 0);
        }
    });

    uint32_t received = 0;
    int64_t last = -1;
    for (;;) {
        uint8_t* data;
        int32_t size;
        uint32_t ts;
        FrameChainNode* node = chain.Remove(&data, &size, &ts);
        if (!node) {
            if (producerDone.load() && chain.GetCount() == 0)
                break;
            std::this_thread::yield();
            continue;
        }
        uint32_t stamped;
        std::memcpy(&stamped, data, sizeof stamped);
        ASSERT_EQ(stamped, ts);
        ASSERT_EQ(size, int32_t(8 + ts % 64));
        ASSERT_EQ(data[size - 1], uint8_t(ts));
        ASSERT_GT(int64_t(ts), last);
        last = ts;
        ++received;
        FreeFrame(node);
    }
    stopWatcher = true;
    producer.join();
    watcher.join();
    EXPECT_EQ(received + dropped.load(), kFrames);
    EXPECT_GT(received, 0u);
}

TEST(FrameChainStress, ClearAndDrainRaceWithAProducerSafely)
{
    CFrameChain chain;
    std::atomic<bool> stop{false};
    std::thread producer([&] {
        uint32_t i = 0;
        while (!stop.load())
            chain.Add(AllocFrameData(32), 32, i++);
    });
    for (int i = 0; i < 2000; ++i) {
        if (i % 2)
            chain.Clear();
        else
            DrainFrameChain(chain);
    }
    stop = true;
    producer.join();
    chain.Clear();
    EXPECT_EQ(chain.GetCount(), 0);
}
