#include "basictools/eventsystem.h"

#include <gtest/gtest.h>

using namespace Korvane::UpdateManager;

namespace
{
struct Ping
{
    int value = 0;
};

struct Recorder : IEventListener<Ping>
{
    void notify(const Ping& event) override { received.push_back(event.value); }
    std::vector<int> received;
};
} // namespace

TEST(EventSystemTest, ListenerAddedTwiceIsNotifiedOnce)
{
    EventSource<Ping> source;
    Recorder recorder;
    source.AddListener(&recorder);
    source.AddListener(&recorder);
    source.Notify(Ping{7});
    EXPECT_EQ(recorder.received, std::vector<int>{7});
}

TEST(EventSystemTest, RemovingUnknownListenerChangesNothing)
{
    EventSource<Ping> source;
    Recorder added;
    Recorder stranger;
    source.AddListener(&added);
    source.RemoveListener(&stranger);
    source.AddListener(nullptr);
    source.Notify(Ping{1});
    source.RemoveListener(&added);
    source.Notify(Ping{2});
    EXPECT_EQ(added.received, std::vector<int>{1});
    EXPECT_TRUE(stranger.received.empty());
}
