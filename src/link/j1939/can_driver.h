#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "link/j1939/can_frame.h"

// Results of the CAN driver calls. Ok and the "nothing yet" answers (NoMessage, Timeout) are
// part of normal operation; everything else is a fault of the call or the adapter.
enum class CanStatus : int {
  Ok = 0,
  NoMessage = -2,       // Read: the receive queue is empty
  Timeout = -7,         // WaitForEvent: nothing arrived in time
  NotInitialized = -9,  // a call before Initialize
  InvalidParameter = -1,
  NoSuchChannel = -3,
  InvalidHandle = -10,
  BusIsOff = -15,  // Read or Write while the channel is off the bus
  TransmitQueueFull = -13,
  HardwareError = -11,
};

// The four bit rates the link settings can select (bus speed index 0..3).
enum class CanBitRate : int { k1M = -1, k500K = -2, k250K = -3, k125K = -4 };

// Bus speed index of the link settings: 0 250 kbit/s, 1 125 kbit/s, 2 500 kbit/s, 3 1 Mbit/s.
// False, leaving `rate` alone, for any other index.
bool BitRateFromSpeedIndex(std::uint32_t speedIndex, CanBitRate& rate);
std::uint32_t BitsPerSecond(CanBitRate rate);

// A fixed English text for every status, for drivers that have none better.
const char* CanStatusText(CanStatus status);

struct CanDriverVersion {
  unsigned major = 0;
  unsigned minor = 0;
};

// The calls the J1939 stack's owner needs from a CAN adapter library. Handles come from
// OpenChannel and stay valid until Close. Threading: one reader thread may sit in WaitForEvent
// and Read while other threads call Write on the same handle; Close may be called from another
// thread and makes a pending WaitForEvent return. Everything else is called from one thread at
// a time.
class ICanDriver {
 public:
  virtual ~ICanDriver() = default;

  virtual CanStatus Initialize() = 0;
  virtual CanStatus OpenChannel(int channel, int& handle) = 0;
  virtual CanStatus SetBitRate(int handle, CanBitRate rate) = 0;
  // Selects the normal (actively acknowledging) output driver mode.
  virtual CanStatus SetOutputNormal(int handle) = 0;
  virtual CanStatus BusOn(int handle) = 0;
  virtual CanStatus BusOff(int handle) = 0;
  virtual CanStatus Close(int handle) = 0;

  // Waits at most `timeoutMs` for a received frame: Ok when one is waiting (it may already have
  // been read by then), Timeout otherwise, an error when the handle is closed or broken.
  virtual CanStatus WaitForEvent(int handle, int timeoutMs) = 0;
  // Takes the oldest received frame; NoMessage when none is waiting. Never blocks.
  virtual CanStatus Read(int handle, CanFrame& frame) = 0;
  // Queues one frame for transmission; never blocks.
  virtual CanStatus Write(int handle, const CanFrame& frame) = 0;

  virtual CanDriverVersion Version() const = 0;
  virtual std::string ErrorText(CanStatus status) const = 0;
};

// The opening sequence every owner runs: open `channel`, set `rate`, normal output, bus on. On
// failure the channel is closed again and the failing call's status returned; `handle` is valid
// only after Ok. The driver must be initialised.
CanStatus OpenCanChannel(ICanDriver& driver, int channel, CanBitRate rate, int& handle);

// Reads the frames waiting on `handle`, at most `maxFrames`, handing each to `consume`. Returns
// the number read; `status` is NoMessage when the queue ran empty, Ok when the limit was reached,
// or the driver's error.
std::size_t DrainCanFrames(ICanDriver& driver, int handle, std::size_t maxFrames,
                           const std::function<void(const CanFrame&)>& consume, CanStatus& status);
