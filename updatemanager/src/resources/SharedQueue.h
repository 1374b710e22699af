#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

namespace Korvane
{
namespace UpdateManager
{

// Unbounded first-in first-out queue, safe for any number of producers and
// consumers. The mutex is held only for one push, pop or test, never while
// the caller works on an item.
template <typename T> class SharedQueue
{
  public:
    // Never blocks beyond the mutex; wakes one waiter.
    void Push(T value)
    {
        std::lock_guard<std::mutex> lock(mItemsMutex);
        mItems.push_back(std::move(value));
        mItemsAvailable.notify_one();
    }

    // Blocks until an item is there, then moves the oldest one into `out`.
    void WaitAndPop(T& out)
    {
        std::unique_lock<std::mutex> lock(mItemsMutex);
        mItemsAvailable.wait(lock, [this] { return !mItems.empty(); });
        out = std::move(mItems.front());
        mItems.pop_front();
    }

    bool Empty() const
    {
        std::lock_guard<std::mutex> lock(mItemsMutex);
        return mItems.empty();
    }

    // Never waits: false at once when the queue is empty.
    bool TryPop(T& out)
    {
        std::lock_guard<std::mutex> lock(mItemsMutex);
        if (mItems.empty())
            return false;
        out = std::move(mItems.front());
        mItems.pop_front();
        return true;
    }

  private:
    std::deque<T> mItems;
    mutable std::mutex mItemsMutex;
    std::condition_variable mItemsAvailable;
};

} // namespace UpdateManager
} // namespace Korvane
