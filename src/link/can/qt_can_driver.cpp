#include "link/can/qt_can_driver.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QVariant>
#include <QtGlobal>
#include <chrono>

CQtCanDriver::CQtCanDriver(CanBusSettings settingsIn, CQtCanThread& thread)
    : settings(std::move(settingsIn)), canThread(thread.Thread()) {
  context = new QObject;
  context->moveToThread(canThread);
}

CQtCanDriver::~CQtCanDriver() {
  for (int i = 0; i < 2; ++i)
    if (channels[i].open) Close(i);
  // Writes still queued behind the closes refer to the channels: let them run first.
  QObject* doomed = context;
  RunOnCanThread([doomed] { delete doomed; });
  context = nullptr;
}

void CQtCanDriver::RunOnCanThread(const std::function<void()>& call) {
  if (QThread::currentThread() == canThread) {
    call();
    return;
  }
  QMetaObject::invokeMethod(context, call, Qt::BlockingQueuedConnection);
}

CanStatus CQtCanDriver::Initialize() {
  initialized = true;
  return CanStatus::Ok;
}

CQtCanDriver::Channel* CQtCanDriver::Find(int handle) {
  if (handle < 0 || handle > 1) return nullptr;
  Channel& c = channels[handle];
  std::lock_guard guard(c.lock);
  return c.open ? &c : nullptr;
}

CanStatus CQtCanDriver::OpenChannel(int channel, int& handle) {
  if (!initialized) return CanStatus::NotInitialized;
  if (channel < 0 || channel > 1) return CanStatus::NoSuchChannel;
  Channel& c = channels[channel];
  {
    std::lock_guard guard(c.lock);
    if (c.open) return CanStatus::InvalidParameter;
  }
  const QString plugin = QString::fromStdString(settings.plugin);
  const QString interfaceName = QString::fromStdString(settings.interfaces[channel]);
  bool created = false;
  std::string error;
  RunOnCanThread([&] {
    QString message;
    if (!QCanBus::instance()->plugins().contains(plugin)) {
      error = "no CAN plugin " + settings.plugin;
      return;
    }
    QCanBusDevice* device = QCanBus::instance()->createDevice(plugin, interfaceName, &message);
    if (device == nullptr) {
      error = message.toStdString();
      return;
    }
    device->setParent(context);
    QObject::connect(device, &QCanBusDevice::framesReceived, context, [this, &c] { TakeFrames(c); });
    QObject::connect(device, &QCanBusDevice::stateChanged, context, [&c](QCanBusDevice::CanBusDeviceState s) {
      std::lock_guard guard(c.lock);
      c.connected = s == QCanBusDevice::ConnectedState;
      if (s == QCanBusDevice::UnconnectedState) c.failed = true;
      c.changed.notify_all();
    });
    QObject::connect(device, &QCanBusDevice::errorOccurred, context,
                     [&c, device](QCanBusDevice::CanBusError) {
                       std::lock_guard guard(c.lock);
                       c.error = device->errorString().toStdString();
                     });
    std::lock_guard guard(c.lock);
    c.device = device;
    created = true;
  });
  std::lock_guard guard(c.lock);
  c.error = error;
  if (!created) return CanStatus::NoSuchChannel;
  c.open = true;
  c.onBus = false;
  c.connected = false;
  c.failed = false;
  c.received.clear();
  handle = channel;
  return CanStatus::Ok;
}

CanStatus CQtCanDriver::SetBitRate(int handle, CanBitRate rate) {
  Channel* c = Find(handle);
  if (!c) return CanStatus::InvalidHandle;
  std::lock_guard guard(c->lock);
  c->rate = rate;
  return CanStatus::Ok;
}

// Qt devices have no output driver modes to choose: they always acknowledge.
CanStatus CQtCanDriver::SetOutputNormal(int handle) {
  return Find(handle) ? CanStatus::Ok : CanStatus::InvalidHandle;
}

CanStatus CQtCanDriver::BusOn(int handle) {
  Channel* c = Find(handle);
  if (!c) return CanStatus::InvalidHandle;
  bool started = false;
  {
    std::lock_guard guard(c->lock);
    c->failed = false;
    c->connected = false;
  }
  RunOnCanThread([&] {
    QCanBusDevice* device = c->device;
    if (device == nullptr) return;
    CanBitRate rate;
    {
      std::lock_guard guard(c->lock);
      rate = c->rate;
    }
    device->setConfigurationParameter(QCanBusDevice::BitRateKey, QVariant(BitsPerSecond(rate)));
    started = device->connectDevice();
    if (!started) {
      // Changing the rate may need rights the program lacks (socketcan sets it through netlink):
      // an adapter configured by its administrator is still used at the rate it has.
      device->setConfigurationParameter(QCanBusDevice::BitRateKey, QVariant());
      started = device->connectDevice();
    }
    std::lock_guard guard(c->lock);
    if (!started) c->error = device->errorString().toStdString();
    c->connected = device->state() == QCanBusDevice::ConnectedState;
  });
  if (!started) return CanStatus::HardwareError;
  std::unique_lock guard(c->lock);
  c->changed.wait_for(guard, std::chrono::milliseconds(kConnectWaitMs),
                      [c] { return c->connected || c->failed; });
  if (!c->connected) return CanStatus::HardwareError;
  c->onBus = true;
  return CanStatus::Ok;
}

CanStatus CQtCanDriver::BusOff(int handle) {
  Channel* c = Find(handle);
  if (!c) return CanStatus::InvalidHandle;
  {
    std::lock_guard guard(c->lock);
    c->onBus = false;
    c->changed.notify_all();
  }
  RunOnCanThread([c] {
    if (c->device && c->device->state() == QCanBusDevice::ConnectedState) c->device->disconnectDevice();
  });
  return CanStatus::Ok;
}

CanStatus CQtCanDriver::Close(int handle) {
  Channel* c = Find(handle);
  if (!c) return CanStatus::InvalidHandle;
  {
    std::lock_guard guard(c->lock);
    c->open = false;
    c->onBus = false;
    c->received.clear();
    c->changed.notify_all();
  }
  RunOnCanThread([c] {
    QCanBusDevice* device = c->device;
    {
      std::lock_guard guard(c->lock);
      c->device = nullptr;
    }
    if (device == nullptr) return;
    QObject::disconnect(device, nullptr, nullptr, nullptr);
    if (device->state() == QCanBusDevice::ConnectedState) device->disconnectDevice();
    delete device;
  });
  return CanStatus::Ok;
}

CanStatus CQtCanDriver::WaitForEvent(int handle, int timeoutMs) {
  if (handle < 0 || handle > 1) return CanStatus::InvalidHandle;
  Channel& c = channels[handle];
  std::unique_lock guard(c.lock);
  if (!c.open) return CanStatus::InvalidHandle;
  c.changed.wait_for(guard, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                     [&c] { return !c.open || !c.received.empty(); });
  if (!c.open) return CanStatus::InvalidHandle;
  return c.received.empty() ? CanStatus::Timeout : CanStatus::Ok;
}

CanStatus CQtCanDriver::Read(int handle, CanFrame& frame) {
  if (handle < 0 || handle > 1) return CanStatus::InvalidHandle;
  Channel& c = channels[handle];
  std::lock_guard guard(c.lock);
  if (!c.open) return CanStatus::InvalidHandle;
  if (c.received.empty()) return c.onBus ? CanStatus::NoMessage : CanStatus::BusIsOff;
  frame = c.received.front();
  c.received.pop_front();
  return CanStatus::Ok;
}

CanStatus CQtCanDriver::Write(int handle, const CanFrame& frame) {
  if (frame.length > kCanMaxLength) return CanStatus::InvalidParameter;
  if (handle < 0 || handle > 1) return CanStatus::InvalidHandle;
  Channel& c = channels[handle];
  {
    std::lock_guard guard(c.lock);
    if (!c.open) return CanStatus::InvalidHandle;
    if (!c.onBus) return CanStatus::BusIsOff;
  }
  QCanBusFrame out(frame.id & kCanExtendedIdMask,
                   QByteArray(reinterpret_cast<const char*>(frame.data), frame.length));
  out.setExtendedFrameFormat(true);
  // Queued behind any earlier write, so frames leave in the order they were written; Close runs
  // through the same queue, so the device is still there when this runs (or already gone).
  QMetaObject::invokeMethod(
      context,
      [&c, out] {
        if (c.device && c.device->state() == QCanBusDevice::ConnectedState) c.device->writeFrame(out);
      },
      Qt::QueuedConnection);
  return CanStatus::Ok;
}

void CQtCanDriver::TakeFrames(Channel& c) {
  if (c.device == nullptr) return;
  const QList<QCanBusFrame> frames = c.device->readAllFrames();
  std::lock_guard guard(c.lock);
  for (const QCanBusFrame& in : frames) {
    if (!in.isValid() || in.frameType() != QCanBusFrame::DataFrame || !in.hasExtendedFrameFormat() ||
        in.hasFlexibleDataRateFormat())
      continue;
    const QByteArray payload = in.payload();
    if (payload.size() > kCanMaxLength) continue;
    if (c.received.size() >= kReceiveQueueLimit) {
      ++c.dropped;
      continue;
    }
    CanFrame frame;
    frame.id = in.frameId() & kCanExtendedIdMask;
    frame.length = static_cast<std::uint8_t>(payload.size());
    for (int i = 0; i < payload.size(); ++i) frame.data[i] = static_cast<std::uint8_t>(payload[i]);
    c.received.push_back(frame);
  }
  c.changed.notify_all();
}

CanDriverVersion CQtCanDriver::Version() const {
  return {QT_VERSION_MAJOR, QT_VERSION_MINOR};
}

std::string CQtCanDriver::ErrorText(CanStatus status) const {
  return CanStatusText(status);
}

std::string CQtCanDriver::DeviceError(int channel) const {
  if (channel < 0 || channel > 1) return {};
  std::lock_guard guard(channels[channel].lock);
  return channels[channel].error;
}

std::uint64_t CQtCanDriver::DroppedFrames(int channel) const {
  if (channel < 0 || channel > 1) return 0;
  std::lock_guard guard(channels[channel].lock);
  return channels[channel].dropped;
}
