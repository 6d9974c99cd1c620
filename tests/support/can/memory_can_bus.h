#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "link/j1939/can_driver.h"

// A CAN bus inside one process, for tests, fuzzing and the simulator; nodes reach it through
// CMemoryCanDriver. Every frame written by one
// node is delivered, in write order, to every other node that is on the bus at the same bit rate;
// the writer does not hear its own frames. A loss rule can drop chosen frames for all receivers.
// All calls are thread-safe.
class CMemoryCanBus {
 public:
  // Returns true for a frame that is to be lost on the wire. Called under the bus lock: it must
  // not call back into the bus.
  using LossRule = std::function<bool(const CanFrame& frame)>;

  // Frames a receiving node may hold unread; further frames are dropped for that node and counted.
  static constexpr std::size_t kReceiveQueueLimit = 4096;

  CMemoryCanBus() = default;
  CMemoryCanBus(const CMemoryCanBus&) = delete;
  CMemoryCanBus& operator=(const CMemoryCanBus&) = delete;

  void SetLossRule(LossRule rule);
  // Every frame written so far, lost or not, in order.
  std::vector<CanFrame> Written() const;
  void ClearWritten();
  std::uint64_t LostFrames() const;
  std::uint64_t OverflowedFrames() const;

 private:
  friend class CMemoryCanDriver;

  struct Node {
    bool onBus = false;
    bool closed = false;
    CanBitRate rate = CanBitRate::k250K;
    std::deque<CanFrame> received;
    std::condition_variable arrived;
  };

  void Attach(Node* node);
  void Detach(Node* node);
  void Deliver(const Node* sender, const CanFrame& frame);

  mutable std::mutex lock;  // guards everything here and the state of every attached Node
  std::vector<Node*> nodes;
  LossRule lossRule;
  std::vector<CanFrame> written;
  std::uint64_t lost = 0;
  std::uint64_t overflowed = 0;
};
