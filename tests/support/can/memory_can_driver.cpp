#include "support/can/memory_can_driver.h"

#include <algorithm>
#include <chrono>

CMemoryCanDriver::CMemoryCanDriver(std::vector<CMemoryCanBus*> buses) {
  for (CMemoryCanBus* bus : buses) {
    auto channel = std::make_unique<Channel>();
    channel->bus = bus;
    channels.push_back(std::move(channel));
  }
}

CMemoryCanDriver::~CMemoryCanDriver() {
  for (std::size_t i = 0; i < channels.size(); ++i) Close(static_cast<int>(i));
}

CanStatus CMemoryCanDriver::Initialize() {
  initialized = true;
  return CanStatus::Ok;
}

CMemoryCanDriver::Channel* CMemoryCanDriver::Find(int handle) {
  if (handle < 0 || static_cast<std::size_t>(handle) >= channels.size()) return nullptr;
  Channel* channel = channels[static_cast<std::size_t>(handle)].get();
  return channel->open ? channel : nullptr;
}

CanStatus CMemoryCanDriver::OpenChannel(int channel, int& handle) {
  if (!initialized) return CanStatus::NotInitialized;
  if (channel < 0 || static_cast<std::size_t>(channel) >= channels.size()) return CanStatus::NoSuchChannel;
  Channel& c = *channels[static_cast<std::size_t>(channel)];
  if (c.bus == nullptr) return CanStatus::NoSuchChannel;
  if (c.open) return CanStatus::InvalidParameter;
  std::lock_guard guard(c.bus->lock);
  c.open = true;
  c.node.onBus = false;
  c.node.closed = false;
  c.node.received.clear();
  c.bus->Attach(&c.node);
  handle = channel;
  return CanStatus::Ok;
}

CanStatus CMemoryCanDriver::SetBitRate(int handle, CanBitRate rate) {
  Channel* c = Find(handle);
  if (!c) return CanStatus::InvalidHandle;
  std::lock_guard guard(c->bus->lock);
  c->node.rate = rate;
  return CanStatus::Ok;
}

CanStatus CMemoryCanDriver::SetOutputNormal(int handle) {
  return Find(handle) ? CanStatus::Ok : CanStatus::InvalidHandle;
}

CanStatus CMemoryCanDriver::BusOn(int handle) {
  Channel* c = Find(handle);
  if (!c) return CanStatus::InvalidHandle;
  std::lock_guard guard(c->bus->lock);
  c->node.onBus = true;
  return CanStatus::Ok;
}

CanStatus CMemoryCanDriver::BusOff(int handle) {
  Channel* c = Find(handle);
  if (!c) return CanStatus::InvalidHandle;
  std::lock_guard guard(c->bus->lock);
  c->node.onBus = false;
  c->node.arrived.notify_all();
  return CanStatus::Ok;
}

CanStatus CMemoryCanDriver::Close(int handle) {
  Channel* c = Find(handle);
  if (!c) return CanStatus::InvalidHandle;
  std::lock_guard guard(c->bus->lock);
  c->bus->Detach(&c->node);
  c->node.onBus = false;
  c->node.closed = true;
  c->node.received.clear();
  c->node.arrived.notify_all();
  c->open = false;
  return CanStatus::Ok;
}

CanStatus CMemoryCanDriver::WaitForEvent(int handle, int timeoutMs) {
  Channel* c = Find(handle);
  if (!c) return CanStatus::InvalidHandle;
  std::unique_lock guard(c->bus->lock);
  CMemoryCanBus::Node& node = c->node;
  node.arrived.wait_for(guard, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                        [&node] { return node.closed || !node.received.empty(); });
  if (node.closed) return CanStatus::InvalidHandle;
  return node.received.empty() ? CanStatus::Timeout : CanStatus::Ok;
}

CanStatus CMemoryCanDriver::Read(int handle, CanFrame& frame) {
  Channel* c = Find(handle);
  if (!c) return CanStatus::InvalidHandle;
  std::lock_guard guard(c->bus->lock);
  if (c->node.received.empty()) return c->node.onBus ? CanStatus::NoMessage : CanStatus::BusIsOff;
  frame = c->node.received.front();
  c->node.received.pop_front();
  return CanStatus::Ok;
}

CanStatus CMemoryCanDriver::Write(int handle, const CanFrame& frame) {
  Channel* c = Find(handle);
  if (!c) return CanStatus::InvalidHandle;
  if (frame.length > kCanMaxLength) return CanStatus::InvalidParameter;
  std::lock_guard guard(c->bus->lock);
  if (!c->node.onBus) return CanStatus::BusIsOff;
  CanFrame copy = frame;
  copy.id &= kCanExtendedIdMask;
  c->bus->Deliver(&c->node, copy);
  return CanStatus::Ok;
}
