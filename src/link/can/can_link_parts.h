#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "link/can/can_interface.h"
#include "link/can/qt_can_driver.h"

class ICanDeviceSelector;

// What the link's CAN branch keeps besides its CCANInterface: the adapter settings, the driver
// behind the interface, the connect thread and the choices the owner made for the next open.
struct CanLinkParts {
  CanBusSettings settings;
  ICanDeviceSelector* selector = nullptr;
  std::function<std::unique_ptr<ICanDriver>()> driverFactory;  // null: Qt SerialBus with `settings`
  CanLinkTiming timing;
  std::unique_ptr<ICanDriver> driver;
  std::thread connectThread;
  std::atomic<bool> closing{false};  // the owner closed the link: the connect thread posts nothing
};
