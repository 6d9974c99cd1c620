#include "support/can/memory_can_bus.h"

#include <algorithm>

void CMemoryCanBus::SetLossRule(LossRule rule) {
  std::lock_guard guard(lock);
  lossRule = std::move(rule);
}

std::vector<CanFrame> CMemoryCanBus::Written() const {
  std::lock_guard guard(lock);
  return written;
}

void CMemoryCanBus::ClearWritten() {
  std::lock_guard guard(lock);
  written.clear();
}

std::uint64_t CMemoryCanBus::LostFrames() const {
  std::lock_guard guard(lock);
  return lost;
}

std::uint64_t CMemoryCanBus::OverflowedFrames() const {
  std::lock_guard guard(lock);
  return overflowed;
}

void CMemoryCanBus::Attach(Node* node) {
  if (std::find(nodes.begin(), nodes.end(), node) == nodes.end()) nodes.push_back(node);
}

void CMemoryCanBus::Detach(Node* node) {
  nodes.erase(std::remove(nodes.begin(), nodes.end(), node), nodes.end());
}

void CMemoryCanBus::Deliver(const Node* sender, const CanFrame& frame) {
  written.push_back(frame);
  if (lossRule && lossRule(frame)) {
    ++lost;
    return;
  }
  for (Node* node : nodes) {
    if (node == sender || !node->onBus || node->rate != sender->rate) continue;
    if (node->received.size() >= kReceiveQueueLimit) {
      ++overflowed;
      continue;
    }
    node->received.push_back(frame);
    node->arrived.notify_all();
  }
}
