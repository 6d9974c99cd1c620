#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/can/qt_can_thread.h"
#include "link/j1939/can_driver.h"

class QCanBusDevice;
class QObject;
class QThread;

// Which Qt SerialBus plugin drives the CAN adapter and the interface names of channels 0 and 1
// (settings section "CanBus": "Plugin", "Interface0", "Interface1").
struct CanBusSettings {
  std::string plugin = "socketcan";
  std::string interfaces[2] = {"can0", "can1"};
};

// ICanDriver on Qt SerialBus. The devices live on the program's CAN thread (CQtCanThread, given at
// construction and outliving the driver). Calls from other threads are queued to it; WaitForEvent
// waits on a condition variable, not on the event loop. A QCoreApplication must exist.
//
// Channel i is interface `interfaces[i]` of `plugin`. A missing plugin fails OpenChannel; a
// missing interface fails OpenChannel or BusOn (socketcan finds out only when connecting).
// SetBitRate is applied as the device's BitRateKey at BusOn where the plugin takes it; when the
// device does not connect with it (socketcan needs the rights to change it), BusOn connects again
// without it, at the rate the adapter was given by its administrator. Received standard,
// remote and error frames are dropped; at most kReceiveQueueLimit frames wait unread per channel,
// further ones are dropped and counted.
class CQtCanDriver final : public ICanDriver {
 public:
  static constexpr std::size_t kReceiveQueueLimit = 8192;
  // How long BusOn waits for a device that connects in the background (virtualcan).
  static constexpr int kConnectWaitMs = 3000;

  CQtCanDriver(CanBusSettings settings, CQtCanThread& thread);
  ~CQtCanDriver() override;
  CQtCanDriver(const CQtCanDriver&) = delete;
  CQtCanDriver& operator=(const CQtCanDriver&) = delete;

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
  CanDriverVersion Version() const override;
  std::string ErrorText(CanStatus status) const override;

  // The last error text the Qt device reported on `channel`, for diagnostics; empty if none.
  std::string DeviceError(int channel) const;
  std::uint64_t DroppedFrames(int channel) const;

 private:
  struct Channel {
    QCanBusDevice* device = nullptr;  // owned; created, used and deleted on the CAN thread only
    mutable std::mutex lock;          // guards everything below
    std::condition_variable changed;  // a frame arrived, the state changed or the channel closed
    std::deque<CanFrame> received;
    bool open = false;
    bool onBus = false;
    bool connected = false;  // the device reached its connected state
    bool failed = false;     // the device gave up connecting
    CanBitRate rate = CanBitRate::k250K;
    std::string error;
    std::uint64_t dropped = 0;
  };

  Channel* Find(int handle);
  // Runs `call` on the CAN thread and waits for it.
  void RunOnCanThread(const std::function<void()>& call);
  void TakeFrames(Channel& channel);

  CanBusSettings settings;
  QThread* canThread;
  QObject* context = nullptr;  // lives on the CAN thread; queued calls target it
  bool initialized = false;
  Channel channels[2];
};
