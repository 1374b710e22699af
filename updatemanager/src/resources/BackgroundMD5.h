#pragma once

#include <boost/filesystem/path.hpp>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Korvane
{
namespace UpdateManager
{

// MD5 of a file computed on a thread of its own while the file is being
// written, so that the digest is ready shortly after the last byte instead of
// costing a second pass over the file.
//
// The writer (one thread) takes an empty block with AcquireBlock, fills it,
// writes it to the file and hands it over with Submit, in file order. Blocks
// come from a fixed pool, allocated and touched at construction: AcquireBlock
// waits while the digest thread still holds them all, which bounds the memory
// whatever the file's size.
class BackgroundMD5
{
  public:
    static constexpr std::size_t kBlockSize = 256 * 1024;
    static constexpr std::size_t kBlockCount = 4;

    struct Result
    {
        std::string mHex;    // 32 lower-case hex characters; "" when not available
        int64_t mBytes = -1; // bytes the digest covers
    };

    // Starts the digest thread. It first hashes the first `prefixBytes` bytes
    // of `file` (the part written before), then the submitted blocks.
    BackgroundMD5(const boost::filesystem::path& file, int64_t prefixBytes);
    // Abandons the digest and ends the thread.
    ~BackgroundMD5();

    BackgroundMD5(const BackgroundMD5&) = delete;
    BackgroundMD5& operator=(const BackgroundMD5&) = delete;

    // An empty block of kBlockSize bytes; waits for the digest thread to hand
    // one back when all are in use.
    char* AcquireBlock();
    // Queues the first `count` bytes of `block` (from AcquireBlock) to be
    // hashed after everything submitted before.
    void Submit(char* block, std::size_t count);
    // The digest will not be asked for: the thread stops hashing.
    void Abandon();
    // Waits until every submitted byte is hashed and ends the thread. The hex
    // string is empty when the part already on disk could not be read whole or
    // the digest was abandoned. Call once, after the last Submit.
    Result Finish();

  private:
    struct Pending
    {
        char* mBlock;
        std::size_t mCount;
    };

    void Run(boost::filesystem::path file, int64_t prefixBytes);
    bool IsAbandoned();
    bool TakeNext(Pending& next);
    void GiveBack(char* block);

    std::vector<std::unique_ptr<char[]>> mBlocks;
    std::mutex mMutex;
    std::condition_variable mChanged;
    std::vector<char*> mFree;
    std::deque<Pending> mPending;
    bool mFinishing = false;
    bool mAbandoned = false;
    bool mDone = false; // the digest thread takes no more blocks
    Result mResult;     // written by the digest thread, read after joining it
    std::thread mThread;
};

} // namespace UpdateManager
} // namespace Korvane
