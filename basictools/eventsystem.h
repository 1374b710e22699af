#pragma once

#include <set>

namespace Korvane
{
namespace UpdateManager
{

template <typename T> class IEventListener
{
  public:
    virtual ~IEventListener() = default;
    virtual void notify(const T& event) = 0;
};

// Calls its listeners synchronously, on the firing thread, in pointer order.
// Does not own them; adding and removing happen on the firing thread too.
template <typename T> class EventSource
{
  public:
    virtual ~EventSource() = default;

    void AddListener(IEventListener<T>* listener) { mListeners.insert(listener); }
    void RemoveListener(IEventListener<T>* listener) { mListeners.erase(listener); }

    void Notify(const T& event)
    {
        // A copy, so that a listener may add or remove listeners from notify.
        const std::set<IEventListener<T>*> listeners = mListeners;
        for (IEventListener<T>* listener : listeners)
        {
            if (listener != nullptr)
                listener->notify(event);
        }
    }

  private:
    std::set<IEventListener<T>*> mListeners;
};

} // namespace UpdateManager
} // namespace Korvane
