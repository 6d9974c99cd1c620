// The link's CAN branch on the in-memory bus: receiver search, selection, failures, the packet
// path both ways and the settings it refuses. The receivers are J1939 nodes made of our own
// stack, each on a thread of its own, as a receiver on a real bus would be.

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

#include "link/can/can_device_selector.h"
#include "link/can/can_interface.h"
#include "link/can/qt_can_driver.h"
#include "link/comm_link.h"
#include "link/j1939/j1939_name.h"
#include "link/j1939/kavo_can_body.h"
#include "link/j1939/software_identification.h"
#include "link/protocol/kavo_ids.h"
#include "link_owner_recorder.h"
#include "support/can/memory_can_bus.h"
#include "support/can/memory_can_driver.h"
#include "support/prompt_recorder.h"
#include "support/test_link_services.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// A receiver node: claims `address`, asks everyone for their identification once its claim
// stands, answers identification requests with a KVCAN text, records the command-0x08 bodies it
// gets and can send its own.
class CFakeReceiver {
 public:
  // `refuseTransfers`: every RTS/CTS transfer to it is aborted at once (its transport takes none
  // of our packets longer than 8 bytes).
  CFakeReceiver(CMemoryCanBus& bus, std::uint8_t address, bool refuseTransfers = false) : driver({&bus}) {
    driver.Initialize();
    OpenCanChannel(driver, 0, CanBitRate::k250K, handle);
    J1939StackConfig config;
    J1939NameFields fields;
    fields.identityNumber = 0x3000u + address;
    fields.manufacturerCode = 69;
    fields.function = 28;
    config.name = MakeJ1939Name(fields);
    config.preferredAddress = address;
    config.transport.timing.bamPacketIntervalMs = 2;  // the tests' search windows are short
    if (refuseTransfers) config.transport.acceptedPgns = {kPgnSoftwareIdentification};
    SoftwareIdentification id;
    id.capabilities = id.plusMarks = kCapabilityJ1939 | kCapabilityKvcan;
    id.hasName = true;
    id.name = config.name;
    config.softwareIdentification = FormatSoftwareIdentification(id);
    stack = std::make_unique<CJ1939Stack>(
        config, CSteadyClock::Instance(),
        [this](const CanFrame& f) { return driver.Write(handle, f) == CanStatus::Ok; },
        [this](const J1939Event& e) { OnEvent(e); });
    std::lock_guard hold(lock);
    stack->Start();
    worker = std::thread([this] { Run(); });
  }
  ~CFakeReceiver() {
    stop = true;
    worker.join();
  }

  void Send(std::uint8_t to, const Bytes& body) {
    std::lock_guard hold(lock);
    stack->Send(kPgnProprietaryA, to, body.data(), body.size());
  }
  std::vector<Bytes> Bodies() {
    std::lock_guard hold(lock);
    return bodies;
  }
  int Program() {
    std::lock_guard hold(lock);
    return program;
  }

 private:
  void OnEvent(const J1939Event& e) {
    if (e.code == J1939EventCode::AddressClaimed) stack->SendRequest(kPgnSoftwareIdentification, 255);
    if (e.code == J1939EventCode::Request && e.pgn == kPgnSoftwareIdentification)
      stack->SendSoftwareIdentification();
    if (e.code == J1939EventCode::KavoPacket) {
      bodies.emplace_back(e.body, e.body + e.length);
      program = e.address;
    }
  }
  void Run() {
    while (!stop) {
      const CanStatus waited = driver.WaitForEvent(handle, 10);
      std::lock_guard hold(lock);
      if (waited == CanStatus::Ok) {
        CanStatus status;
        DrainCanFrames(
            driver, handle, 256, [this](const CanFrame& f) { stack->Receive(f); }, status);
      }
      stack->Tick();
    }
  }

  CMemoryCanDriver driver;
  int handle = -1;
  std::mutex lock;
  std::unique_ptr<CJ1939Stack> stack;
  std::vector<Bytes> bodies;
  int program = -1;
  std::atomic<bool> stop{false};
  std::thread worker;
};

class CScriptedSelector final : public ICanDeviceSelector {
 public:
  void SetAnswer(int newAnswer) {
    std::lock_guard hold(lock);
    answer = newAnswer;
  }
  int SelectDevice(const std::vector<std::string>& entries) override {
    std::lock_guard hold(lock);
    offered = entries;
    return answer;
  }
  std::vector<std::string> Offered() {
    std::lock_guard hold(lock);
    return offered;
  }

 private:
  int answer = 0;
  std::mutex lock;
  std::vector<std::string> offered;
};

// Steps the receiver search by hand: each wait of the search ends when the test releases a step
// or when the search is stopped. Every wait of the test is bounded, and so is the search's: a
// wait nobody ends gives up after `kGiveUp` and says so in Expired(). With `realWait` the search
// waits its real steps instead and the stepper only watches them.
class CSearchStepper {
 public:
  static constexpr auto kGiveUp = 10s;

  explicit CSearchStepper(bool realWaitSteps = false) : realWait(realWaitSteps) {}

  std::function<bool(int, std::stop_token)> Waiter() {
    return [this](int ms, std::stop_token stop) { return Wait(ms, stop); };
  }
  // Lets the search take `count` more steps and waits until it took them.
  bool Step(int count) {
    std::unique_lock hold(lock);
    released += count;
    changed.notify_all();
    return changed.wait_for(hold, kGiveUp, [this] { return taken == released; });
  }
  // Waits until the search waits for its next step.
  bool WaitUntilWaiting() {
    std::unique_lock hold(lock);
    return changed.wait_for(hold, kGiveUp, [this] { return waiting; });
  }
  int Taken() {
    std::lock_guard hold(lock);
    return taken;
  }
  int Stopped() {
    std::lock_guard hold(lock);
    return stopped;
  }
  bool Expired() {
    std::lock_guard hold(lock);
    return expired;
  }

 private:
  bool Wait(int ms, std::stop_token stop) {
    std::unique_lock hold(lock);
    waiting = true;
    changed.notify_all();
    bool go = false;
    if (realWait) {
      hold.unlock();
      go = WaitSearchStep(ms, stop);
      hold.lock();
    } else {
      go = changed.wait_for(hold, stop, kGiveUp, [this] { return taken < released; });
    }
    waiting = false;
    if (go) {
      ++taken;
    } else if (stop.stop_requested()) {
      ++stopped;
    } else {
      expired = true;
    }
    changed.notify_all();
    return go;
  }

  const bool realWait;
  std::mutex lock;
  std::condition_variable_any changed;
  int released = 0;
  int taken = 0;
  int stopped = 0;
  bool waiting = false;
  bool expired = false;
};

// The search window of these tests: 100 steps of 5 ms.
CanLinkTiming FastSearch() {
  CanLinkTiming t;
  t.searchStepMs = 5;
  t.readerWaitMs = 50;
  return t;
}

// A window of 10 steps the test releases itself.
CanLinkTiming SteppedSearch(CSearchStepper& stepper) {
  CanLinkTiming t = FastSearch();
  t.searchSteps = 10;
  t.waitSearchStep = stepper.Waiter();
  return t;
}

class CanLinkTest : public ::testing::Test {
 protected:
  void MakeLink(ICanDeviceSelector* chooser, bool channelMissing = false,
                const CanLinkTiming& timing = FastSearch()) {
    link = std::make_unique<CCommLink>(&owner, prompts, TestLinkServices());
    link->SetCanBus(CanBusSettings{}, chooser);
    link->SetCanTiming(timing);
    link->SetCanDriverFactory([this, channelMissing] {
      return std::make_unique<CMemoryCanDriver>(std::vector<CMemoryCanBus*>{channelMissing ? nullptr : &bus});
    });
    ASSERT_TRUE(link->SetCanParams(28, 1, 0));
  }
  int WaitStatus() {
    if (!owner.WaitStatuses(1, 10s)) return -1;
    return owner.Statuses().front();
  }

  CMemoryCanBus bus;
  CLinkOwnerRecorder owner;
  CPromptRecorder prompts;
  CScriptedSelector selector;  // outlives the link, as the link requires
  std::unique_ptr<CCommLink> link;
};

TEST_F(CanLinkTest, NoReceiver_SaysNoneDetectedAndReportsDown) {
  MakeLink(nullptr);
  link->Open(LinkType::Can0, false);
  EXPECT_EQ(WaitStatus(), kLinkStatusDown);
  EXPECT_EQ(prompts.Texts(), std::vector<std::string>{"No CAN capable receivers were detected.\n"});
  EXPECT_FALSE(link->IsConnected());
  EXPECT_EQ(link->CurrentLinkType(), LinkType::None);
}

TEST_F(CanLinkTest, MissingChannel_SaysHardwareFailedAndReportsDown) {
  MakeLink(nullptr, true);
  link->Open(LinkType::Can0, false);
  EXPECT_EQ(WaitStatus(), kLinkStatusDown);
  EXPECT_EQ(prompts.Texts(), std::vector<std::string>{"Error: Could not initialize the PC CANBUS Hardware"});
}

TEST_F(CanLinkTest, OneReceiver_SelectedAndPacketsFlowBothWays) {
  CFakeReceiver receiver(bus, 28);
  MakeLink(&selector);
  link->Open(LinkType::Can0, false);
  ASSERT_EQ(WaitStatus(), kLinkStatusUp);
  EXPECT_EQ(selector.Offered(), std::vector<std::string>{"28"});
  EXPECT_TRUE(prompts.Texts().empty());
  ASSERT_NE(link->CanInterface(), nullptr);
  EXPECT_EQ(link->CanInterface()->destAddress.load(), 28u);
  EXPECT_EQ(link->CanInterface()->state.load(), 2u);

  // 8E with payload 93 and with 93 10 (the DLE doubled): the bodies on the bus, byte for byte.
  KavoPacket one;
  one.id = kavo::kIdSuperRequest;
  one.length = 1;
  one.data[0] = 0x93;
  KavoPacket two = one;
  two.length = 2;
  two.data[1] = 0x10;
  EXPECT_TRUE(link->SendPacket(LinkType::Can0, &one, 0));
  EXPECT_TRUE(link->SendPacket(LinkType::Can0, &two, 0));
  const std::uint8_t framed[] = {kDle, 0x8E, 0x93, 0x10, 0x10, kDle, kEtx};
  EXPECT_TRUE(link->SendRaw(LinkType::Can0, framed, sizeof framed));
  for (int i = 0; i < 200 && receiver.Bodies().size() < 3; ++i) std::this_thread::sleep_for(5ms);
  const std::vector<Bytes> expected = {{0x08, 0x01, 0x00, 0x8E, 0x93, 0xFF, 0xFF, 0xFF},
                                       {0x08, 0x03, 0x00, 0x8E, 0x93, 0x10, 0x10},
                                       {0x08, 0x03, 0x00, 0x8E, 0x93, 0x10, 0x10}};
  EXPECT_EQ(receiver.Bodies(), expected);
  EXPECT_EQ(receiver.Program(), link->CanInterface()->OwnAddress());

  // A long answer (transport protocol) reaches the parser as the packet it was.
  KavoPacket answer;
  answer.id = kavo::kIdSuperRequest;
  answer.length = 200;
  for (int i = 0; i < 200; ++i) answer.data[i] = static_cast<std::uint8_t>(i);
  Bytes body(kKavoMaxFrame);
  body.resize(BuildKavoCanBody(answer, 1, body.data(), body.size()));
  ASSERT_GT(body.size(), 200u);
  receiver.Send(link->CanInterface()->OwnAddress(), body);
  ASSERT_TRUE(owner.WaitPackets(1, 5s));
  KavoPacket got;
  ASSERT_TRUE(link->Parser().TryPopPacket(got));
  EXPECT_EQ(got.id, 0x8E);
  ASSERT_EQ(got.length, 202);  // the checksum stays in the payload
  EXPECT_EQ(0, std::memcmp(got.data, answer.data, 200));
  EXPECT_TRUE(got.checksumOk);

  EXPECT_TRUE(link->Close(LinkType::Can0));
  EXPECT_EQ(link->CanInterface()->state.load(), 0u);
}

// A send the transport aborts is counted and told on the link's thread as a "* " line for the
// log; the link stays up, and what is sent next still goes.
TEST_F(CanLinkTest, SendAbortedByTheReceiver_CountedToldAndTheLinkStaysUp) {
  CFakeReceiver receiver(bus, 28, true);
  MakeLink(&selector);
  std::vector<std::string> notices;
  link->SetNoticeHandler([&notices](const std::string& line) { notices.push_back(line); });
  link->Open(LinkType::Can0, false);
  ASSERT_EQ(WaitStatus(), kLinkStatusUp);
  KavoPacket big;
  big.id = kavo::kIdSuperRequest;
  big.length = 100;
  EXPECT_TRUE(link->SendPacket(LinkType::Can0, &big, 0));
  for (int i = 0; i < 500 && notices.empty(); ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(2ms);
  }
  EXPECT_EQ(notices, std::vector<std::string>{"* CAN send to 28 aborted: by the receiver (reason 250)"});
  EXPECT_EQ(link->CanSendsAborted(), 1u);
  EXPECT_EQ(link->CanInterface()->AbortedSends(), 1u);
  EXPECT_TRUE(link->IsConnected());
  KavoPacket small;
  small.id = kavo::kIdSuperRequest;
  small.length = 1;
  small.data[0] = 0x93;
  EXPECT_TRUE(link->SendPacket(LinkType::Can0, &small, 0));
  for (int i = 0; i < 200 && receiver.Bodies().empty(); ++i) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(receiver.Bodies(), (std::vector<Bytes>{{0x08, 0x01, 0x00, 0x8E, 0x93, 0xFF, 0xFF, 0xFF}}));
  EXPECT_TRUE(prompts.Texts().empty());
  // A close that ends transfers under way tells nothing.
  EXPECT_TRUE(link->Close(LinkType::Can0));
  QCoreApplication::processEvents();
  EXPECT_EQ(notices.size(), 1u);
}

TEST_F(CanLinkTest, TwoReceivers_BothOffered) {
  CFakeReceiver first(bus, 28);
  CFakeReceiver second(bus, 30);
  selector.SetAnswer(1);
  MakeLink(&selector);
  link->Open(LinkType::Can0, false);
  ASSERT_EQ(WaitStatus(), kLinkStatusUp);
  auto offered = selector.Offered();
  std::sort(offered.begin(), offered.end());
  EXPECT_EQ(offered, (std::vector<std::string>{"28", "30"}));
  EXPECT_EQ(std::to_string(link->CanInterface()->destAddress.load()), selector.Offered()[1]);
}

TEST_F(CanLinkTest, CancelledSelection_ReportsDownWithoutMessage) {
  CFakeReceiver receiver(bus, 28);
  selector.SetAnswer(-1);
  MakeLink(&selector);
  link->Open(LinkType::Can0, false);
  EXPECT_EQ(WaitStatus(), kLinkStatusDown);
  EXPECT_TRUE(prompts.Texts().empty());
  EXPECT_EQ(link->CanInterface()->state.load(), 0u);
}

// A receiver that answers later restarts the window: the choice comes a whole window after it.
TEST_F(CanLinkTest, LateReceiver_ExtendsTheSearch) {
  CSearchStepper stepper;
  CFakeReceiver first(bus, 28);
  MakeLink(&selector, false, SteppedSearch(stepper));
  link->Open(LinkType::Can0, false);
  const auto foundCount = [this](std::size_t count) {
    for (int i = 0; i < 1000 && link->CanInterface()->FoundAddresses().size() < count; ++i)
      std::this_thread::sleep_for(10ms);
    return link->CanInterface()->FoundAddresses().size() == count;
  };
  ASSERT_TRUE(foundCount(1));
  ASSERT_TRUE(stepper.Step(7));
  CFakeReceiver second(bus, 30);
  ASSERT_TRUE(foundCount(2));
  ASSERT_TRUE(stepper.Step(9));
  ASSERT_TRUE(stepper.WaitUntilWaiting());
  EXPECT_TRUE(selector.Offered().empty());
  EXPECT_TRUE(owner.Statuses().empty());
  ASSERT_TRUE(stepper.Step(1));
  ASSERT_EQ(WaitStatus(), kLinkStatusUp);
  EXPECT_EQ(stepper.Taken(), 17);
  auto offered = selector.Offered();
  std::sort(offered.begin(), offered.end());
  EXPECT_EQ(offered, (std::vector<std::string>{"28", "30"}));
  EXPECT_FALSE(stepper.Expired());
}

// Closing while the search waits ends it at once, with nothing shown and nothing posted: a wait
// the test holds, and the real wait with a step of 20 s (one that ignored the close would take
// the step, find nobody and say so).
TEST_F(CanLinkTest, CloseDuringSearch_EndsQuietly) {
  for (const bool realWait : {false, true}) {
    SCOPED_TRACE(realWait ? "real wait" : "held wait");
    CSearchStepper stepper(realWait);
    CanLinkTiming timing = SteppedSearch(stepper);
    timing.searchStepMs = 20'000;
    timing.searchSteps = 1;
    MakeLink(nullptr, false, timing);
    link->Open(LinkType::Can0, false);
    ASSERT_TRUE(stepper.WaitUntilWaiting());
    EXPECT_FALSE(link->Close(LinkType::Can0));
    EXPECT_EQ(stepper.Stopped(), 1);
    EXPECT_EQ(stepper.Taken(), 0);
    EXPECT_FALSE(stepper.Expired());
    QCoreApplication::processEvents();
    EXPECT_TRUE(owner.Statuses().empty());
    EXPECT_TRUE(prompts.Texts().empty());
  }
}

struct RefusedParams {
  std::uint32_t address, instance, speed;
};

TEST_F(CanLinkTest, SetCanParams_RefusesOutOfRangeValuesAndOpenFails) {
  const RefusedParams refused[] = {{28, 1, 4},   {0, 1, 0},  {255, 1, 0},  {300, 1, 0},
                                   {28, 256, 0}, {28, 0, 0}, {28, 1000, 0}};
  for (const auto& p : refused) {
    SCOPED_TRACE(testing::Message() << p.address << " " << p.instance << " " << p.speed);
    CLinkOwnerRecorder localOwner;
    CCommLink local(&localOwner, prompts, TestLinkServices());
    EXPECT_TRUE(local.SetCanParams(p.address, p.instance, p.speed));  // true either way
    local.Open(LinkType::Can0, false);
    ASSERT_TRUE(localOwner.WaitStatuses(1, 1s));
    EXPECT_EQ(localOwner.Statuses().front(), kLinkStatusDown);
    EXPECT_EQ(local.CanInterface(), nullptr);
  }
}

J1939Event KavoEvent(const Bytes& body) {
  J1939Event e;
  e.code = J1939EventCode::KavoPacket;
  e.body = body.data();
  e.length = body.size();
  return e;
}

// The receive copy holds 400 bytes and needs two behind the payload: 394 stuffed bytes fit,
// 395 (or a body shorter than it announces) are dropped instead of written past the copy.
TEST(CanInterfaceInbox, StuffedPayloadIsBoundedByTheCopy) {
  CMemoryCanDriver driver({});
  CPromptRecorder prompts;
  CCANInterface can(driver, prompts, CSteadyClock::Instance());
  Bytes fits(4 + 394, 0x55);
  fits[0] = 0x08;
  fits[1] = 394 & 0xFF;
  fits[2] = 394 >> 8;
  fits[3] = 0x8E;
  Bytes tooLong(4 + 395, 0x55);
  tooLong[0] = 0x08;
  tooLong[1] = 395 & 0xFF;
  tooLong[2] = 395 >> 8;
  Bytes shortBody = {0x08, 0x05, 0x00, 0x8E, 0x01};
  Bytes huge(1785, 0x66);
  huge[0] = 0x08;
  huge[1] = 0xFF;
  huge[2] = 0x06;
  can.PushPacket(KavoEvent(tooLong));
  can.PushPacket(KavoEvent(shortBody));
  can.PushPacket(KavoEvent(huge));
  can.PushPacket(KavoEvent(fits));
  EXPECT_EQ(can.DroppedPackets(), 3u);
  KVCAN_KAVO_t item;
  ASSERT_TRUE(can.PopPacket(item));
  EXPECT_EQ(item.id, 0x8E);
  EXPECT_EQ(item.length, 394);
  EXPECT_EQ(item.data[397], 0x55);
  EXPECT_FALSE(can.PopPacket(item));
}

}  // namespace
