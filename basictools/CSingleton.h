#pragma once

#include <atomic>
#include <memory>
#include <mutex>

// Holder of the one process-wide instance of T. T derives from CSingleton<T>.
//
// getInstance() may be called from any thread: the first call creates the
// instance under a mutex, later calls only read an atomic pointer.
// destroyInstance() obtains the instance (creating it when none exists) and
// deletes it; a later getInstance() creates a new one.
template <typename T> class CSingleton
{
  public:
    virtual ~CSingleton() = default;

    static T* getInstance()
    {
        if (T* instance = sInstance.load(std::memory_order_acquire))
            return instance;

        std::lock_guard<std::mutex> lock(mMutex);
        if (!m_pSingleton)
        {
            m_pSingleton.reset(new T);
            sInstance.store(m_pSingleton.get(), std::memory_order_release);
        }
        return m_pSingleton.get();
    }

    static void destroyInstance()
    {
        getInstance();
        std::unique_ptr<T> doomed;
        {
            std::lock_guard<std::mutex> lock(mMutex);
            sInstance.store(nullptr, std::memory_order_release);
            doomed = std::move(m_pSingleton);
            // The holder is empty before the object goes, so that code run by
            // T's destructor never sees a half-destroyed instance through it.
            doomed.reset();
        }
    }

  protected:
    CSingleton() = default;

  private:
    CSingleton(const CSingleton&) = delete;
    CSingleton& operator=(const CSingleton&) = delete;

    static inline std::unique_ptr<T> m_pSingleton;
    static inline std::atomic<T*> sInstance{nullptr};
    static inline std::mutex mMutex;
};
