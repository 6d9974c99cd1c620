#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "link/link_owner.h"

// Records what a link posts to its owner, from whichever thread posts it.
class CLinkOwnerRecorder final : public ILinkOwner {
 public:
  void PostLinkPacket() override {
    std::lock_guard<std::mutex> hold(lock);
    ++packets;
    changed.notify_all();
  }
  void PostLinkStatus(int wParam) override {
    std::lock_guard<std::mutex> hold(lock);
    statuses.push_back(wParam);
    changed.notify_all();
  }

  // Waits until `count` statuses came; false when the time ran out.
  bool WaitStatuses(std::size_t count, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, limit, [&] { return statuses.size() >= count; });
  }
  bool WaitPackets(int count, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, limit, [&] { return packets >= count; });
  }
  std::vector<int> Statuses() {
    std::lock_guard<std::mutex> hold(lock);
    return statuses;
  }
  int Packets() {
    std::lock_guard<std::mutex> hold(lock);
    return packets;
  }

 private:
  std::mutex lock;
  std::condition_variable changed;
  std::vector<int> statuses;
  int packets = 0;
};
