#include "resources/BackgroundMD5.h"

#include "resources/MD5Digest.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace Korvane
{
namespace UpdateManager
{
namespace
{
// Hashes the first `bytes` bytes of `file`; false when they cannot all be read
// or the digest was abandoned meanwhile.
template <typename Abandoned>
bool HashFilePrefix(const boost::filesystem::path& file, int64_t bytes, MD5Digest& md5,
                    Abandoned abandoned)
{
    if (bytes <= 0)
        return bytes == 0;
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::unique_ptr<char[]> buffer(new char[BackgroundMD5::kBlockSize]);
    int64_t left = bytes;
    while (left > 0 && !abandoned())
    {
        const auto wanted =
            static_cast<std::size_t>(std::min<int64_t>(left, BackgroundMD5::kBlockSize));
        const ssize_t count = ::read(fd, buffer.get(), wanted);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        md5.Update(buffer.get(), static_cast<std::size_t>(count));
        left -= count;
    }
    ::close(fd);
    return left == 0;
}
} // namespace

BackgroundMD5::BackgroundMD5(const boost::filesystem::path& file, int64_t prefixBytes)
{
    for (std::size_t i = 0; i < kBlockCount; ++i)
    {
        // Value-initialised, so the pages are resident from the start: the
        // process's peak memory does not depend on how far a transfer gets.
        mBlocks.emplace_back(new char[kBlockSize]());
        mFree.push_back(mBlocks.back().get());
    }
    mThread = std::thread(&BackgroundMD5::Run, this, file, prefixBytes);
}

BackgroundMD5::~BackgroundMD5()
{
    Abandon();
    if (mThread.joinable())
        mThread.join();
}

char* BackgroundMD5::AcquireBlock()
{
    std::unique_lock<std::mutex> lock(mMutex);
    mChanged.wait(lock, [this] { return !mFree.empty(); });
    char* block = mFree.back();
    mFree.pop_back();
    return block;
}

void BackgroundMD5::Submit(char* block, std::size_t count)
{
    std::lock_guard<std::mutex> lock(mMutex);
    if (mDone)
        mFree.push_back(block);
    else
        mPending.push_back({block, count});
    mChanged.notify_all();
}

void BackgroundMD5::GiveBack(char* block)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mFree.push_back(block);
    mChanged.notify_all();
}

bool BackgroundMD5::IsAbandoned()
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mAbandoned;
}

void BackgroundMD5::Abandon()
{
    std::lock_guard<std::mutex> lock(mMutex);
    mAbandoned = true;
    mChanged.notify_all();
}

BackgroundMD5::Result BackgroundMD5::Finish()
{
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mFinishing = true;
        mChanged.notify_all();
    }
    if (mThread.joinable())
        mThread.join();
    return mResult;
}

bool BackgroundMD5::TakeNext(Pending& next)
{
    std::unique_lock<std::mutex> lock(mMutex);
    mChanged.wait(lock, [this] { return mAbandoned || mFinishing || !mPending.empty(); });
    if (mAbandoned || mPending.empty())
        return false;
    next = mPending.front();
    mPending.pop_front();
    return true;
}

void BackgroundMD5::Run(boost::filesystem::path file, int64_t prefixBytes)
{
    MD5Digest md5;
    const bool usable = HashFilePrefix(file, prefixBytes, md5, [this] { return IsAbandoned(); });
    int64_t hashed = prefixBytes;
    Pending next{nullptr, 0};
    while (TakeNext(next))
    {
        if (usable)
        {
            md5.Update(next.mBlock, next.mCount);
            hashed += static_cast<int64_t>(next.mCount);
        }
        GiveBack(next.mBlock);
    }

    std::lock_guard<std::mutex> lock(mMutex);
    // Blocks still queued after an abandon go back to the writer, and so do
    // any submitted from now on, so that AcquireBlock never waits forever.
    mDone = true;
    for (const Pending& pending : mPending)
        mFree.push_back(pending.mBlock);
    mPending.clear();
    mChanged.notify_all();
    if (usable && !mAbandoned)
    {
        mResult.mHex = md5.HexDigest();
        mResult.mBytes = hashed;
    }
}

} // namespace UpdateManager
} // namespace Korvane
