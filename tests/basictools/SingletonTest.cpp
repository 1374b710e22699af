#include "basictools/CSingleton.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace
{
std::atomic<int> gConstructions{0};
std::atomic<int> gDestructions{0};

class Counted : public CSingleton<Counted>
{
  public:
    Counted()
    {
        // Widen the window in which a racing getInstance() could build twice.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ++gConstructions;
    }
    ~Counted() override { ++gDestructions; }
};

class Throwing : public CSingleton<Throwing>
{
  public:
    Throwing()
    {
        if (sShouldThrow)
            throw std::runtime_error("construction failed");
    }
    static inline bool sShouldThrow = true;
};
} // namespace

TEST(SingletonTest, ConcurrentFirstCallsShareOneInstance)
{
    std::vector<Counted*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t index = 0; index < seen.size(); ++index)
        threads.emplace_back([&seen, index] { seen[index] = Counted::getInstance(); });
    for (std::thread& thread : threads)
        thread.join();

    EXPECT_EQ(gConstructions.load(), 1);
    for (Counted* instance : seen)
        EXPECT_EQ(instance, seen.front());
    Counted::destroyInstance();
    EXPECT_EQ(gDestructions.load(), 1);
}

TEST(SingletonTest, DestroyWithoutInstanceCreatesAndDeletesOne)
{
    const int constructionsBefore = gConstructions.load();
    const int destructionsBefore = gDestructions.load();
    Counted::destroyInstance();
    EXPECT_EQ(gConstructions.load(), constructionsBefore + 1);
    EXPECT_EQ(gDestructions.load(), destructionsBefore + 1);

    Counted::getInstance();
    EXPECT_EQ(gConstructions.load(), constructionsBefore + 2);
    Counted::destroyInstance();
}

TEST(SingletonTest, ThrowingConstructorLeavesHolderEmpty)
{
    Throwing::sShouldThrow = true;
    EXPECT_THROW(Throwing::getInstance(), std::runtime_error);
    Throwing::sShouldThrow = false;
    EXPECT_NE(Throwing::getInstance(), nullptr);
    Throwing::destroyInstance();
}
