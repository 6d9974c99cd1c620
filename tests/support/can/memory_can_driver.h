#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "link/j1939/can_driver.h"
#include "support/can/memory_can_bus.h"

// A driver whose channels are in-memory buses: channel i is `buses[i]` (null: no such channel).
// The buses must outlive the driver.
class CMemoryCanDriver final : public ICanDriver {
 public:
  explicit CMemoryCanDriver(std::vector<CMemoryCanBus*> buses);
  ~CMemoryCanDriver() override;

  CanStatus Initialize() override;
  CanStatus OpenChannel(int channel, int& handle) override;
  CanStatus SetBitRate(int handle, CanBitRate rate) override;
  CanStatus SetOutputNormal(int handle) override;
  CanStatus BusOn(int handle) override;
  CanStatus BusOff(int handle) override;
  CanStatus Close(int handle) override;
  CanStatus WaitForEvent(int handle, int timeoutMs) override;
  CanStatus Read(int handle, CanFrame& frame) override;
  CanStatus Write(int handle, const CanFrame& frame) override;
  CanDriverVersion Version() const override { return {5, 20}; }
  std::string ErrorText(CanStatus status) const override { return CanStatusText(status); }

 private:
  struct Channel {
    CMemoryCanBus* bus = nullptr;
    std::atomic<bool> open{false};  // read without the bus lock by Find
    CMemoryCanBus::Node node;
  };
  // The channel behind an open handle, or null.
  Channel* Find(int handle);

  bool initialized = false;
  std::vector<std::unique_ptr<Channel>> channels;
};
