#include "basictools/logger/CLogBuffers.h"

#include "basictools/sharedobject.h"

#include <chrono>
#include <cstring>
#include <iostream>
#include <thread>

namespace
{
constexpr int64_t kScratchOffset = CLogBuffers::kSlotCount * CLogBuffers::kRingSize;
constexpr auto kDrainPeriod = std::chrono::milliseconds(200);

void PrintConsoleLine(const std::string& text)
{
    std::cout << text << std::endl;
}
} // namespace

CLogBuffers::CLogBuffers()
    : mModulePath(Korvane::GetDyLibFullPath()), mBufferBlock(new char[kScratchOffset + kRingSize]())
{
}

CLogBuffers::~CLogBuffers()
{
    StopWorkingThread();
}

void CLogBuffers::StartWorkingThread()
{
    if (mWorkerRunning.load(std::memory_order_acquire))
        return;

    std::lock_guard<std::mutex> lock(mThreadMutex);
    if (mWorker.valid())
        return;

    PrintConsoleLine("LOG - START THREAD " + mModulePath);
    mStopThread.store(false);
    mWorker = std::async(std::launch::async, [this] { WriterLoop(); });
    mWorkerRunning.store(true, std::memory_order_release);
}

void CLogBuffers::StopWorkingThread()
{
    {
        std::lock_guard<std::mutex> lock(mThreadMutex);
        if (!mWorker.valid())
            return;

        PrintConsoleLine("LOG - STOP THREAD asked " + mModulePath);
        mStopThread.store(true);
        mWorker.get();
        mWorkerRunning.store(false, std::memory_order_release);
    }
    PrintConsoleLine("LOG FLUSH DONE " + mModulePath);
}

void CLogBuffers::WriteDataInBuffer(const char* data, int length)
{
    StartWorkingThread();

    LogSlot* slot = FindOrClaimSlot();
    if (slot == nullptr)
    {
        std::cout << "WARNING : TOO MANY THREADS ARE WORKING TOGETHER- LOG CAN BE CORRUPTED."
                  << std::endl;
        std::cout.write(data, length);
        std::cout << std::endl;
        return;
    }

    const int64_t w = slot->mWritePos.load(std::memory_order_relaxed);
    const int64_t r = slot->mReadPos.load(std::memory_order_acquire);
    const int64_t e = w + length;
    if ((w < r && e > r) || (r < w && e > r + kRingSize))
    {
        std::cout << " [WRITE] Writing too fast, no time to read ! Msg: ";
        std::cout.write(data, length);
        std::cout << std::endl;
    }

    char* ring = mBufferBlock.get() + (slot - mSlots) * kRingSize;
    if (e <= kRingSize)
    {
        std::memcpy(ring + w, data, static_cast<size_t>(length));
        slot->mWritePos.store(e, std::memory_order_release);
    }
    else
    {
        const int64_t head = kRingSize - w;
        std::memcpy(ring + w, data, static_cast<size_t>(head));
        std::memcpy(ring, data + head, static_cast<size_t>(length - head));
        slot->mWritePos.store(length - head, std::memory_order_release);
    }
}

CLogBuffers::LogSlot* CLogBuffers::FindOrClaimSlot()
{
    const pthread_t self = pthread_self();
    for (LogSlot& slot : mSlots)
    {
        if (slot.mInUse.load(std::memory_order_acquire) && pthread_equal(slot.mOwner, self))
            return &slot;
    }

    while (mClaimLock.test_and_set(std::memory_order_acquire))
        std::this_thread::yield();
    LogSlot* claimed = nullptr;
    for (LogSlot& slot : mSlots)
    {
        if (!slot.mInUse.load(std::memory_order_relaxed))
        {
            slot.mOwner = self;
            slot.mInUse.store(true, std::memory_order_release);
            claimed = &slot;
            break;
        }
    }
    mClaimLock.clear(std::memory_order_release);
    return claimed;
}

void CLogBuffers::WriterLoop()
{
    bool stop = mStopThread.load();
    DrainPass();
    while (!stop)
    {
        std::this_thread::sleep_for(kDrainPeriod);
        stop = mStopThread.load();
        DrainPass();
    }
}

void CLogBuffers::DrainPass()
{
    char* scratch = mBufferBlock.get() + kScratchOffset;
    for (int index = 0; index < kSlotCount; ++index)
    {
        LogSlot& slot = mSlots[index];
        if (!slot.mInUse.load(std::memory_order_acquire))
            continue;

        const int64_t w = slot.mWritePos.load(std::memory_order_acquire);
        const int64_t r = slot.mReadPos.load(std::memory_order_relaxed);
        if (w == r)
            continue;

        const char* ring = mBufferBlock.get() + index * kRingSize;
        std::memset(scratch, 0, kRingSize);
        int64_t count = 0;
        if (w > r)
        {
            count = w - r;
            std::memcpy(scratch, ring + r, static_cast<size_t>(count));
        }
        else
        {
            const int64_t tail = kRingSize - r;
            std::memcpy(scratch, ring + r, static_cast<size_t>(tail));
            std::memcpy(scratch + tail, ring, static_cast<size_t>(w));
            count = tail + w;
        }
        slot.mReadPos.store(w, std::memory_order_release);
        std::cout.write(scratch, count);
        std::cout.flush();
    }
}
