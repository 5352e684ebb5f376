#include "platform/clock.h"
#include "platform/event.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;
using platform::AutoResetEvent;
using platform::WaitResult;

TEST(AutoResetEvent, TellsSignalledFromTimedOutAndResetsItself)
{
    AutoResetEvent ev;
    EXPECT_EQ(ev.Wait(1ms), WaitResult::TimedOut);
    ev.Set();
    EXPECT_EQ(ev.Wait(0ms), WaitResult::Signalled);
    // One Set, one release: the second wait must not see it again.
    EXPECT_EQ(ev.Wait(1ms), WaitResult::TimedOut);
    ev.Set();
    ev.Set();
    EXPECT_EQ(ev.Wait(0ms), WaitResult::Signalled);
    EXPECT_EQ(ev.Wait(1ms), WaitResult::TimedOut);
    ev.Set();
    ev.Reset();
    EXPECT_EQ(ev.Wait(1ms), WaitResult::TimedOut);
}

TEST(AutoResetEvent, OneSetReleasesOneOfTwoWaiters)
{
    AutoResetEvent ev;
    std::atomic<int> released{0};
    auto waiter = [&] {
        if (ev.Wait(5s) == WaitResult::Signalled)
            ++released;
    };
    std::thread a(waiter), b(waiter);
    ev.Set();
    while (released.load() == 0)
        platform::SleepMs(1);
    platform::SleepMs(20);
    EXPECT_EQ(released.load(), 1);
    ev.Set();
    a.join();
    b.join();
    EXPECT_EQ(released.load(), 2);
}

TEST(AutoResetEvent, HandsBlocksBackAndForthLikeReaderAndParser)
{
    AutoResetEvent request, done;
    int block = 0; // written by one side before it signals, read by the other after its wait
    std::thread reader([&] {
        for (int i = 1; i <= 1000; ++i) {
            request.Wait();
            block = i;
            done.Set();
        }
    });
    int sum = 0;
    for (int i = 1; i <= 1000; ++i) {
        request.Set();
        ASSERT_EQ(done.Wait(10s), WaitResult::Signalled);
        sum += block;
    }
    reader.join();
    EXPECT_EQ(sum, 1000 * 1001 / 2);
}

TEST(Clock, ElapsedIsCorrectAcrossTheWrap)
{
    uint32_t start = platform::TickMs();
    platform::SleepMs(5);
    EXPECT_GE(platform::ElapsedMs(start), 5u);
    EXPECT_EQ(uint32_t(5) - uint32_t(0xFFFFFFFB), 10u);
}

TEST(MessageQueue, KeepsOrderAndPicksByNumber)
{
    platform::MessageQueue q;
    std::thread poster([&] {
        q.Post(0x1B01, 0, 0);
        q.Post(0x1B00, 400, 0);
        q.Post(0x1B02, 0, 7);
    });
    poster.join();
    auto result = q.TakeMessage(0x1B00, 1s);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, 400u);
    auto first = q.Take(1s);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->message, 0x1B01u);
    EXPECT_EQ(q.Size(), 1u);
    EXPECT_FALSE(q.TakeMessage(0x1B00, 1ms));
    EXPECT_EQ(q.Take(1ms)->lParam, 7);
}
