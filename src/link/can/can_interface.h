#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "link/j1939/can_driver.h"
#include "link/j1939/j1939_stack.h"
#include "link/protocol/clock.h"
#include "link/protocol/prompts.h"

class ICanDeviceSelector;

// One received KAVO packet: `length` is the number of stuffed payload bytes, `data` a copy of the
// start of the command-0x08 body (command, length, id, payload), with room left behind the
// payload for DLE ETX.
struct KVCAN_KAVO_t {
  static constexpr std::size_t kDataSize = 400;
  std::uint8_t id = 0;
  std::uint16_t length = 0;
  std::uint8_t data[kDataSize] = {};
};

// Waits out one step of the receiver search: `ms` of real time, or less when `stop` is
// requested; false when it was.
bool WaitSearchStep(int ms, std::stop_token stop);

// Waits of the receiver search; tests shorten them or step the search themselves.
struct CanLinkTiming {
  int searchStepMs = 30;  // the search counter rises by one per step...
  int searchSteps = 100;  // ...and the search ends when it reaches this
  int readerWaitMs = 500;
  // Any replacement must also return false as soon as `stop` is requested: that is how a close
  // ends the search.
  std::function<bool(int ms, std::stop_token stop)> waitSearchStep = WaitSearchStep;
};

// The CAN side of the link: a J1939 node (our stack over an ICanDriver) that searches the bus for
// receivers by their software identification, lets the selector choose one and then exchanges
// KAVO packets with it in proprietary-A command-0x08 bodies.
//
// Threading: Connect runs on the link's CAN connect thread and blocks for the search and the
// selection. While connected, a reader thread waits on the driver and feeds the stack, and a tick
// thread calls the stack's Tick every 20 ms; both take `stackLock` (recursive: the stack's events
// send from inside Receive and Tick), and so do the senders. Received packets are queued in
// `inbox` under `inboxLock`, then `onPacket` runs on the reader thread. RequestStop may be called
// from any thread and makes a running Connect return false soon; Close must not be called from
// the reader or tick thread and waits for both.
class CCANInterface {
 public:
  // Packets waiting unread; more are dropped (a consumer that stalled must not grow memory).
  static constexpr std::size_t kInboxLimit = 1024;

  // `driver`, `prompts` and `clock` must outlive the interface.
  CCANInterface(ICanDriver& driver, IPrompts& prompts, const IClock& clock);
  virtual ~CCANInterface();
  CCANInterface(const CCANInterface&) = delete;
  CCANInterface& operator=(const CCANInterface&) = delete;

  // Not while connecting; null selector: the first receiver found is taken.
  void SetSelector(ICanDeviceSelector* newSelector) { selector = newSelector; }
  void SetTiming(const CanLinkTiming& newTiming) { timing = newTiming; }
  // What the connect thread hands over before Connect.
  void Configure(std::uint32_t busSpeedIndex, std::uint32_t destinationAddress, std::uint32_t channel,
                 std::uint32_t instance);

  // Claims our address, searches for receivers and lets the selector choose; false after a
  // failure message, a cancelled choice or a stop request. After false the caller calls Close.
  bool Connect();
  void RequestStop();
  void Close();

  // Sends a command-0x08 (or any proprietary-A) body to `destAddress`; false when the stack did
  // not take it (no address, too long, transport queue full, driver refused).
  bool SendBody(const std::uint8_t* body, std::size_t length);

  // Queues a received command-0x08 body. Bodies that announce more payload than they carry or
  // more than the copy can hold with DLE ETX behind (394 stuffed bytes) are dropped.
  void PushPacket(const J1939Event& event);
  // Takes the oldest queued packet; false when none waits.
  bool PopPacket(KVCAN_KAVO_t& out);

  // Packets dropped by PushPacket (malformed, oversized or inbox full).
  std::uint64_t DroppedPackets() const { return droppedPackets.load(); }
  // Sends the transport aborted while connected (a time-out, an abort from the receiver); each
  // is also told to `onSendAborted`.
  std::uint64_t AbortedSends() const { return abortedSends.load(); }

  // How an aborted send reads in the log: "time-out", "by the receiver (busy)", ...
  static std::string AbortReasonText(J1939AbortReason reason, bool byPeer);
  // The addresses found by the current search (diagnostics and tests).
  std::vector<std::string> FoundAddresses() const;
  // Our claimed address, or 254 while none.
  std::uint8_t OwnAddress() const;

  // Members of the CAN link, in the order the link documents them.
  std::uint32_t instanceNumber = 0;
  std::function<void()> onPacket;
  // Called on the reader or tick thread for each send the transport aborted while connected,
  // with the receiver's address and AbortReasonText; must only queue the news.
  std::function<void(std::uint8_t address, const std::string& reason)> onSendAborted;
  std::atomic<std::uint32_t> connected{0};
  std::atomic<std::uint32_t> state{0};  // 0 idle, 1 searching, 2 connected
  std::uint32_t canChannel = 1;
  std::atomic<std::uint32_t> destAddress{28};
  std::uint32_t busSpeed = 0;
  std::uint8_t echoBytes[2] = {1, 1};
  std::deque<KVCAN_KAVO_t> inbox;
  std::mutex inboxLock;

 private:
  void OnEvent(const J1939Event& event);
  void SendEcho(std::uint8_t flag);
  void AddFound(std::uint8_t address);
  void ReaderThread();
  void TickThread();
  void StopThreads();

  ICanDriver& driver;
  IPrompts& prompts;
  const IClock& clock;
  ICanDeviceSelector* selector = nullptr;
  CanLinkTiming timing;

  mutable std::recursive_mutex stackLock;  // guards `stack` and `handle`
  std::unique_ptr<CJ1939Stack> stack;
  int handle = -1;

  std::thread reader;
  std::thread ticker;
  std::mutex stopLock;          // guards the replacement of `searchStop`, and `threadsStop`
  std::stop_source searchStop;  // RequestStop; a new one for each connection after Close
  std::atomic<bool> threadsStop{false};
  std::condition_variable stopChanged;  // wakes the reader and tick threads for `threadsStop`

  mutable std::mutex searchLock;  // the search counter and the addresses found
  int searchCounter = 0;
  std::vector<std::string> found;

  std::atomic<std::uint64_t> droppedPackets{0};
  std::atomic<std::uint64_t> abortedSends{0};
};
