#include "model/event_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "fakes/fake_clock.h"
#include "model/act_ids.h"

namespace orv {
namespace {

TEST(EventQueue, EventsPostedDuringADrainGoToTheNextDrain) {
  fakes::FakeClock clock;
  EventQueue queue;
  constexpr int kThreads = 4;
  constexpr int kPerThread = 500;
  std::atomic<bool> go{false};
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      while (!go) std::this_thread::yield();
      for (int i = 0; i < kPerThread; ++i) queue.Post(AgentEvent(t * kPerThread + i, clock));
    });
  }
  std::vector<int> seen;
  go = true;
  while (seen.size() < kThreads * kPerThread) {
    queue.Drain([&seen](const AgentEvent& event) { seen.push_back(event.act_id); });
  }
  for (auto& poster : posters) poster.join();
  queue.Drain([&seen](const AgentEvent& event) { seen.push_back(event.act_id); });

  ASSERT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kPerThread)) << "none lost, none twice";
  // Each thread's events keep their posting order.
  std::vector<int> last(kThreads, -1);
  for (const int id : seen) {
    EXPECT_GT(id, last[static_cast<std::size_t>(id / kPerThread)]);
    last[static_cast<std::size_t>(id / kPerThread)] = id;
  }
  EXPECT_FALSE(queue.HasPending());
}

TEST(EventQueue, TheControllerDrainTakesCommonBeforeNas) {
  fakes::FakeClock clock;
  NasEventQueue().Post(AgentEvent(act_id::kCpuFan, clock));
  CommonEventQueue().Post(AgentEvent(act_id::kHostRenamed, clock));
  EXPECT_TRUE(EventsPending());
  std::vector<int> order;
  DrainEventQueues([&order](const AgentEvent& event) { order.push_back(event.act_id); });
  EXPECT_EQ(order, (std::vector<int>{act_id::kHostRenamed, act_id::kCpuFan}));
  EXPECT_FALSE(EventsPending());
  DrainEventQueues([&order](const AgentEvent&) { order.push_back(-1); });
  EXPECT_EQ(order.size(), 2U) << "an empty drain hands nothing over";

  // Either queue alone makes events pending.
  NasEventQueue().Post(AgentEvent(act_id::kCpuFan, clock));
  EXPECT_TRUE(EventsPending());
  DrainEventQueues([](const AgentEvent&) {});
  CommonEventQueue().Post(AgentEvent(act_id::kHostRenamed, clock));
  EXPECT_TRUE(EventsPending());
  DrainEventQueues([](const AgentEvent&) {});
}

}  // namespace
}  // namespace orv
