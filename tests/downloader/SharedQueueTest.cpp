#include "resources/SharedQueue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

using Korvane::UpdateManager::SharedQueue;

TEST(SharedQueueTest, TryPopOnEmptyQueueReturnsFalseAtOnce)
{
    SharedQueue<int> queue;
    int out = 42;
    EXPECT_TRUE(queue.Empty());
    EXPECT_FALSE(queue.TryPop(out));
    EXPECT_EQ(out, 42);
}

TEST(SharedQueueTest, ItemsComeOutInPushOrder)
{
    SharedQueue<int> queue;
    for (int i = 0; i < 5; ++i)
        queue.Push(i);
    EXPECT_FALSE(queue.Empty());
    for (int i = 0; i < 5; ++i)
    {
        int out = -1;
        ASSERT_TRUE(queue.TryPop(out));
        EXPECT_EQ(out, i);
    }
    EXPECT_TRUE(queue.Empty());
}

TEST(SharedQueueTest, WaitAndPopBlocksUntilPush)
{
    SharedQueue<int> queue;
    std::promise<void> waiting;
    auto popped = std::async(std::launch::async,
                             [&]
                             {
                                 waiting.set_value();
                                 int out = 0;
                                 queue.WaitAndPop(out);
                                 return out;
                             });
    waiting.get_future().wait();
    // The consumer is (or is about to be) blocked: nothing is in the queue yet.
    EXPECT_NE(popped.wait_for(std::chrono::milliseconds(0)), std::future_status::ready);
    queue.Push(7);
    ASSERT_EQ(popped.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(popped.get(), 7);
    EXPECT_TRUE(queue.Empty());
}

TEST(SharedQueueTest, MoveOnlyItemsAreMovedOut)
{
    SharedQueue<std::unique_ptr<int>> queue;
    queue.Push(std::make_unique<int>(3));
    std::unique_ptr<int> out;
    queue.WaitAndPop(out);
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, 3);
}
