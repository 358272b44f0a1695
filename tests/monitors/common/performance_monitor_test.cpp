#include "monitors/common/performance_monitor.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

#include "fakes/fake_network_shares.h"
#include "fakes/fake_performance_counters.h"
#include "monitors/common/share_connections.h"

namespace orv {
namespace {

using fakes::FakePerformanceCounters;

constexpr const char* kReceivedPath = "\\Network Interface(*)\\Packets Received/sec";

void Processor(FakePerformanceCounters& pdh, std::string_view instance, std::int32_t load) {
  pdh.Set("Processor", instance, "% Processor Time", load);
}
void Interface(FakePerformanceCounters& pdh, std::string_view instance, std::int32_t sent, std::int32_t received) {
  pdh.Set("Network Interface", instance, "Packets Sent/sec", sent);
  pdh.Set("Network Interface", instance, "Packets Received/sec", received);
}
void Disk(FakePerformanceCounters& pdh, std::string_view instance, std::int32_t load) {
  pdh.Set("PhysicalDisk", instance, "% Disk Time", load);
}

// The snapshot on one line, lists in their order: "cpu 0=10 _Total=10 | net A=1/2 | disk | mem 5".
std::string Text(const PerformanceSnapshot& snapshot) {
  std::string text = "cpu";
  for (const auto& load : snapshot.processorLoads) text += " " + load.instance + "=" + std::to_string(load.value);
  text += " | net";
  for (const auto& rate : snapshot.networkRates) {
    text += " " + rate.instance + "=" + std::to_string(rate.sent) + "/" + std::to_string(rate.received);
  }
  text += " | disk";
  for (const auto& load : snapshot.diskLoads) text += " " + load.instance + "=" + std::to_string(load.value);
  return text + " | mem " + std::to_string(snapshot.memoryLoad);
}

// Two processors, one adapter, one disk: as PDH lists them, "_Total" after the instances.
constexpr const char* kMachine = "cpu 0=10 1=30 _Total=20 | net Intel[R] Ethernet=120/80 | disk 0 C:=3 _Total=3 | mem 33";
constexpr const char* kClosed = "cpu | net | disk | mem 0";

class PerformanceMonitorTest : public ::testing::Test {
 protected:
  PerformanceMonitorTest() {
    Processor(pdh, "0", 10);
    Processor(pdh, "1", 30);
    Processor(pdh, "_Total", 20);
    Interface(pdh, "Intel[R] Ethernet", 120, 80);
    Disk(pdh, "0 C:", 3);
    Disk(pdh, "_Total", 3);
    pdh.Set("Memory", "", "% Committed Bytes In Use", 33);
  }
  std::string Collected() {
    EXPECT_TRUE(monitor.Collect());
    return Text(monitor.Snapshot());
  }

  FakePerformanceCounters pdh;
  PerformanceMonitor monitor{pdh};
};

TEST_F(PerformanceMonitorTest, OneQueryAtATimeWithEveryInstanceAndItsRateInTheSystemsOrder) {
  EXPECT_FALSE(monitor.Collect()) << "nothing open";
  EXPECT_FALSE(monitor.Close()) << "nothing open";

  // Rate counters have no value after one sample; the first Collect has them because Open
  // took that sample.
  ASSERT_TRUE(monitor.Open());
  Disk(pdh, "1 E:", 7);  // a second query would list it
  EXPECT_FALSE(monitor.Open());
  EXPECT_EQ(pdh.openQueries(), 1);
  EXPECT_EQ(Collected(), kMachine) << "the first query, as it was";
  Interface(pdh, "Intel[R] Ethernet", 7, 9);
  EXPECT_EQ(Collected(), "cpu 0=10 1=30 _Total=20 | net Intel[R] Ethernet=7/9 | disk 0 C:=3 _Total=3 | mem 33");

  EXPECT_TRUE(monitor.Close());
  EXPECT_EQ(pdh.openQueries(), 0);
  EXPECT_EQ(Text(monitor.Snapshot()), kClosed);

  // Reopened, the disk plugged in meanwhile is listed.
  ASSERT_TRUE(monitor.Open());
  EXPECT_EQ(Collected(), "cpu 0=10 1=30 _Total=20 | net Intel[R] Ethernet=7/9 | disk 0 C:=3 _Total=3 1 E:=7 | mem 33");
}

// What cannot be read reads 0, and no more than that: every other value and instance stays.
struct Fault {
  const char* name;
  std::function<void(FakePerformanceCounters&)> beforeOpen;
  std::function<void(FakePerformanceCounters&)> afterOpen;
  bool sampled;
  const char* expected;
};

void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.name; }

class PerformanceFaultTest : public PerformanceMonitorTest, public ::testing::WithParamInterface<Fault> {};

const Fault kFaults[] = {
    {"AnInstanceWithoutAValue", {},
     [](auto& pdh) { pdh.failures.item["\\Processor(1)\\% Processor Time"] = fakes::kPdhNegativeValue; }, true,
     "cpu 0=10 1=0 _Total=20 | net Intel[R] Ethernet=120/80 | disk 0 C:=3 _Total=3 | mem 33"},
    {"ReceivedCounterNotAdded", [](auto& pdh) { pdh.failures.add[kReceivedPath] = fakes::kPdhNoCounter; }, {}, true,
     "cpu 0=10 1=30 _Total=20 | net Intel[R] Ethernet=120/0 | disk 0 C:=3 _Total=3 | mem 33"},
    {"DiskGoneAfterOpen", {}, [](auto& pdh) { pdh.Remove("PhysicalDisk", "0 C:"); }, true,
     "cpu 0=10 1=30 _Total=20 | net Intel[R] Ethernet=120/80 | disk 0 C:=0 _Total=3 | mem 33"},
    {"SampleFails", {}, [](auto& pdh) { pdh.failures.collect = fakes::kPdhNoData; }, false,
     "cpu 0=0 1=0 _Total=0 | net Intel[R] Ethernet=0/0 | disk 0 C:=0 _Total=0 | mem 0"},
    // The instances come from the first sample that can be read; its rates need one more.
    {"FirstSampleOfOpenFails", [](auto& pdh) { pdh.failures.collect = fakes::kPdhNoData; },
     [](auto& pdh) { pdh.failures.collect = os::kSuccess; }, true,
     "cpu 0=0 1=0 _Total=0 | net Intel[R] Ethernet=0/0 | disk 0 C:=0 _Total=0 | mem 33"},
};

TEST_P(PerformanceFaultTest, ReadsZeroForWhatCannotBeRead) {
  const Fault& fault = GetParam();
  if (fault.beforeOpen) fault.beforeOpen(pdh);
  ASSERT_TRUE(monitor.Open());
  if (fault.afterOpen) fault.afterOpen(pdh);
  EXPECT_EQ(monitor.Collect(), fault.sampled);
  EXPECT_EQ(Text(monitor.Snapshot()), fault.expected);
}

INSTANTIATE_TEST_SUITE_P(Pdh, PerformanceFaultTest, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& param) { return std::string(param.param.name); });

// A twelve-bay appliance with virtual adapters lists more names than a fixed buffer of 2048
// characters holds; every one of them keeps its counters.
TEST_F(PerformanceMonitorTest, ALongInstanceListKeepsEveryCounter) {
  std::size_t characters = 0;
  std::string expected = "cpu 0=10 1=30 _Total=20 | net Intel[R] Ethernet=120/80";
  for (int i = 1; i <= 40; ++i) {
    const std::string name = "Hyper-V Virtual Ethernet Adapter for the storage network _" + std::to_string(i);
    characters += name.size() + 1;
    Interface(pdh, name, i, 100 + i);
    expected += " " + name + "=" + std::to_string(i) + "/" + std::to_string(100 + i);
  }
  ASSERT_GT(characters, 2048U);
  ASSERT_TRUE(monitor.Open());
  EXPECT_EQ(Collected(), expected + " | disk 0 C:=3 _Total=3 | mem 33");
}

// Users on this machine's disk shares; administrative (C$), temporary, printer and IPC
// shares are not theirs.
TEST(ShareConnections, CountOnlyPlainDiskShares) {
  constexpr std::uint32_t kSpecial = 0x80000000;
  constexpr std::uint32_t kTemporary = 0x40000000;
  const struct {
    const char* name;
    std::vector<os::ShareEntry> shares;
    os::OsError failure;
    std::uint32_t expected;
  } cases[] = {
      {"others left out",
       {{"data", 0, 3}, {"C$", kSpecial, 4}, {"ADMIN$", kSpecial, 1}, {"IPC$", kSpecial | 3, 6},
        {"printer", 1, 2}, {"scratch", kTemporary, 7}},
       os::kSuccess, 3},
      {"sum beyond 32 bits", {{"data", 0, 0xFFFFFFFF}, {"backup", 0, 2}}, os::kSuccess, 0xFFFFFFFF},
  };
  for (const auto& c : cases) {
    fakes::FakeNetworkShares shares;
    shares.shares = c.shares;
    shares.failWith = c.failure;
    EXPECT_EQ(CountShareConnections(shares), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace orv
