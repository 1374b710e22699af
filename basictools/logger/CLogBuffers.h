#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <string>

// Per-thread lock-free rings drained to standard output by a writer thread.
//
// Each logging thread claims one of kSlotCount rings on its first line and
// keeps it for the life of the object; it is the only producer of that ring
// and the writer thread the only consumer. The writer drains every 200 ms and
// once more when asked to stop.
class CLogBuffers
{
  public:
    static constexpr int kSlotCount = 20;
    static constexpr int64_t kRingSize = 10000;

    CLogBuffers();
    virtual ~CLogBuffers();

    // Puts `length` bytes (at most kRingSize - 1) into the calling thread's ring,
    // starting the writer thread first when none runs.
    void WriteDataInBuffer(const char* data, int length);

    void StartWorkingThread();
    // Final drain, then waits for the writer thread. Does nothing when none runs.
    void StopWorkingThread();

  protected:
    const std::string mModulePath;

  private:
    struct LogSlot
    {
        pthread_t mOwner{};
        std::atomic<bool> mInUse{false};
        std::atomic<int64_t> mReadPos{0};
        std::atomic<int64_t> mWritePos{0};
    };

    LogSlot* FindOrClaimSlot();
    void WriterLoop();
    void DrainPass();

    std::mutex mThreadMutex;
    std::atomic<bool> mStopThread{true};
    std::future<void> mWorker;
    // Mirrors mWorker.valid() so that the lock-free check in StartWorkingThread
    // never reads the future while another thread replaces it.
    std::atomic<bool> mWorkerRunning{false};
    std::unique_ptr<char[]> mBufferBlock;
    LogSlot mSlots[kSlotCount];
    // Claiming a slot publishes mOwner before mInUse; this lock-free guard
    // keeps two new threads from taking the same free slot.
    std::atomic_flag mClaimLock = ATOMIC_FLAG_INIT;
};
