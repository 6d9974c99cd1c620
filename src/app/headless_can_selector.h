#pragma once

#include <cstdio>

#include "link/can/can_device_selector.h"

// The receiver choice without a window: the address given with --can-address, or the first
// receiver found when none was given. Says on `err` which one it took (or that the wanted one
// was not among those found, which cancels the connection).
class CHeadlessCanSelector final : public ICanDeviceSelector {
 public:
  // `wantedAddress` -1: the first found.
  explicit CHeadlessCanSelector(int wantedAddress, std::FILE* err = stderr);
  int SelectDevice(const std::vector<std::string>& entries) override;

 private:
  int wanted;
  std::FILE* err;
};
