#include "support/can/memory_can_driver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "j1939_test_support.h"

namespace {

struct Endpoint {
  explicit Endpoint(CMemoryCanBus& bus, CanBitRate rate = CanBitRate::k250K) : driver({&bus}) {
    EXPECT_EQ(driver.Initialize(), CanStatus::Ok);
    EXPECT_EQ(driver.OpenChannel(0, handle), CanStatus::Ok);
    EXPECT_EQ(driver.SetBitRate(handle, rate), CanStatus::Ok);
    EXPECT_EQ(driver.SetOutputNormal(handle), CanStatus::Ok);
    EXPECT_EQ(driver.BusOn(handle), CanStatus::Ok);
  }
  std::vector<std::uint32_t> ReadIds() {
    std::vector<std::uint32_t> ids;
    CanFrame f;
    while (driver.Read(handle, f) == CanStatus::Ok) ids.push_back(f.id);
    return ids;
  }
  CMemoryCanDriver driver;
  int handle = -1;
};

TEST(MemoryCanBus, FramesReachEveryOtherNodeInOrderButNotTheWriter) {
  CMemoryCanBus bus;
  Endpoint a(bus), b(bus), c(bus);
  for (std::uint32_t id = 1; id <= 5; ++id)
    EXPECT_EQ(a.driver.Write(a.handle, MakeFrame(id, {1, 2})), CanStatus::Ok);
  EXPECT_EQ(c.driver.Write(c.handle, MakeFrame(0x1FFFFFFF, {})), CanStatus::Ok);
  EXPECT_EQ(b.ReadIds(), (std::vector<std::uint32_t>{1, 2, 3, 4, 5, 0x1FFFFFFF}));
  EXPECT_EQ(c.ReadIds(), (std::vector<std::uint32_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(a.ReadIds(), (std::vector<std::uint32_t>{0x1FFFFFFF}));
  CanFrame f;
  EXPECT_EQ(a.driver.Read(a.handle, f), CanStatus::NoMessage);
}

TEST(MemoryCanBus, LossRuleAndBitRateMismatchDropFrames) {
  CMemoryCanBus bus;
  Endpoint a(bus), b(bus), fast(bus, CanBitRate::k500K);
  bus.SetLossRule([](const CanFrame& f) { return f.id % 2 == 0; });
  for (std::uint32_t id = 1; id <= 4; ++id) a.driver.Write(a.handle, MakeFrame(id, {}));
  EXPECT_EQ(b.ReadIds(), (std::vector<std::uint32_t>{1, 3}));
  EXPECT_TRUE(fast.ReadIds().empty());
  EXPECT_EQ(bus.LostFrames(), 2u);
  EXPECT_EQ(bus.Written().size(), 4u);
}

TEST(MemoryCanBus, HandlesAndBusState) {
  CMemoryCanBus bus;
  CMemoryCanDriver driver({&bus, nullptr});
  int handle = -1;
  EXPECT_EQ(driver.OpenChannel(0, handle), CanStatus::NotInitialized);
  driver.Initialize();
  EXPECT_EQ(driver.OpenChannel(1, handle), CanStatus::NoSuchChannel);
  EXPECT_EQ(driver.OpenChannel(2, handle), CanStatus::NoSuchChannel);
  ASSERT_EQ(driver.OpenChannel(0, handle), CanStatus::Ok);
  EXPECT_EQ(driver.Write(handle, MakeFrame(1, {})), CanStatus::BusIsOff);
  CanFrame tooLong = MakeFrame(1, {});
  tooLong.length = 9;
  driver.BusOn(handle);
  EXPECT_EQ(driver.Write(handle, tooLong), CanStatus::InvalidParameter);
  EXPECT_EQ(driver.Close(handle), CanStatus::Ok);
  EXPECT_EQ(driver.Write(handle, MakeFrame(1, {})), CanStatus::InvalidHandle);
  EXPECT_EQ(driver.Close(handle), CanStatus::InvalidHandle);
  EXPECT_EQ(driver.ErrorText(CanStatus::InvalidHandle), "Handle is invalid");
}

TEST(MemoryCanBus, WaitForEvent_TimesOutWakesOnFrameAndOnClose) {
  CMemoryCanBus bus;
  Endpoint a(bus), b(bus);
  EXPECT_EQ(b.driver.WaitForEvent(b.handle, 10), CanStatus::Timeout);

  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    a.driver.Write(a.handle, MakeFrame(7, {}));
  });
  EXPECT_EQ(b.driver.WaitForEvent(b.handle, 5000), CanStatus::Ok);
  writer.join();
  EXPECT_EQ(b.ReadIds(), (std::vector<std::uint32_t>{7}));

  const auto start = std::chrono::steady_clock::now();
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    b.driver.Close(b.handle);
  });
  EXPECT_EQ(b.driver.WaitForEvent(b.handle, 5000), CanStatus::InvalidHandle);
  closer.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
}

TEST(CanDriver, SpeedIndexMapsToTheFourBitRates) {
  const std::uint32_t expected[] = {250000, 125000, 500000, 1000000};
  for (std::uint32_t i = 0; i < 4; ++i) {
    CanBitRate rate = CanBitRate::k1M;
    ASSERT_TRUE(BitRateFromSpeedIndex(i, rate));
    EXPECT_EQ(BitsPerSecond(rate), expected[i]);
  }
  CanBitRate untouched = CanBitRate::k125K;
  EXPECT_FALSE(BitRateFromSpeedIndex(4, untouched));
  EXPECT_EQ(untouched, CanBitRate::k125K);
}

TEST(CanDriver, OpenSequenceAndDrain) {
  CMemoryCanBus bus;
  CMemoryCanDriver a({&bus}), b({&bus, nullptr});
  a.Initialize();
  b.Initialize();
  int ha = -1, hb = -1;
  ASSERT_EQ(OpenCanChannel(a, 0, CanBitRate::k250K, ha), CanStatus::Ok);
  EXPECT_EQ(OpenCanChannel(b, 1, CanBitRate::k250K, hb), CanStatus::NoSuchChannel);
  EXPECT_EQ(hb, -1);
  ASSERT_EQ(OpenCanChannel(b, 0, CanBitRate::k250K, hb), CanStatus::Ok);
  for (std::uint32_t id = 1; id <= 5; ++id) a.Write(ha, MakeFrame(id, {}));

  std::vector<std::uint32_t> ids;
  CanStatus status = CanStatus::HardwareError;
  EXPECT_EQ(DrainCanFrames(
                b, hb, 3, [&](const CanFrame& f) { ids.push_back(f.id); }, status),
            3u);
  EXPECT_EQ(status, CanStatus::Ok);
  EXPECT_EQ(DrainCanFrames(
                b, hb, 100, [&](const CanFrame& f) { ids.push_back(f.id); }, status),
            2u);
  EXPECT_EQ(status, CanStatus::NoMessage);
  EXPECT_EQ(ids, (std::vector<std::uint32_t>{1, 2, 3, 4, 5}));
  b.Close(hb);
  EXPECT_EQ(DrainCanFrames(b, hb, 100, nullptr, status), 0u);
  EXPECT_EQ(status, CanStatus::InvalidHandle);
}

}  // namespace
