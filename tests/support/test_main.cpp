// The host tests' entry: GoogleTest, with the agent's process-wide state (the pending-event
// queues and the service object pointer) emptied around every test, so that nothing one test
// leaves behind reaches the next.
#include <gtest/gtest.h>

#include "model/event_queue.h"
#include "service/service_instance.h"

namespace {

class ProcessStateReset final : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override { Reset(); }
  void OnTestEnd(const ::testing::TestInfo&) override { Reset(); }
  static void Reset() {
    orv::DrainEventQueues([](const orv::AgentEvent&) {});
    orv::SetServiceInstance(nullptr);
  }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new ProcessStateReset);  // owned by GoogleTest
  return RUN_ALL_TESTS();
}
